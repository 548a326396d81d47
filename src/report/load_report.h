#pragma once
// report: a load's report. The PDF, made with Qt's PDF writer and painter (QtGui, no widgets):
// the header, the result, a chart per controller of the design, its band and the process value,
// the checks, the events, the signatures with their name, time and meaning, and the record's
// final hash at the foot of every page. The CSV of the samples, where text from users cannot be
// run as a formula by a spreadsheet. Depends on watch's load records.

#include <filesystem>
#include <string>
#include <string_view>

#include "util/result.h"
#include "watch/load_checks.h"
#include "watch/load_record.h"

namespace tarvel::report {

// result: ResultOf the record. Needs a QGuiApplication (the offscreen platform will do). The
// file is replaced whole.
Status WriteLoadPdf(const watch::LoadRecord& record, const watch::LoadResult& result,
                    const std::filesystem::path& file);

// A text cell a spreadsheet takes as text: one that begins with = + - @ (or a tab or CR) gets a
// leading apostrophe and quotes; any cell with a comma, quote or line end is quoted.
std::string SpreadsheetText(std::string_view text);
// One line per sample or gap: load, time (UTC), channel, nickname, program time, step, step
// time, run mode, set point, process value, design, band low, band high, deviation, band.
std::string LoadCsv(const watch::LoadRecord& record);
Status WriteLoadCsv(const watch::LoadRecord& record, const std::filesystem::path& file);

}  // namespace tarvel::report
