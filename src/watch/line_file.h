#pragma once
// watch: text files the watch appends to -- the alarm log and the zone records. Each line
// reaches the disk before the call returns, and a line is never left half written.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.h"

namespace tarvel::watch {

// Appends line (CR LF added) to file; a new or empty file gets header first. Creates the folder.
Status AppendLine(const std::filesystem::path& file, std::string_view header, std::string_view line);

// One CSV field: quoted when it holds a comma, a quote or a line end.
std::string CsvField(std::string_view text);
// A field of the user's text (a nickname, a zone name): as CsvField, and one a spreadsheet would
// run as a formula (starting with =, +, -, @, a tab or a carriage return) is kept as text, quoted
// behind an apostrophe.
std::string CsvText(std::string_view text);
std::string CsvLine(const std::vector<std::string>& fields);

}  // namespace tarvel::watch
