// report: the CSV of a load's samples.
#include <cstdio>
#include <fstream>

#include "report/load_report.h"
#include "util/file_problem.h"

namespace tarvel::report {
namespace {

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

std::string Optional(const std::optional<int>& value) { return value ? std::to_string(*value) : ""; }

}  // namespace

std::string SpreadsheetText(std::string_view text) {
  const bool formula = !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
  if (!formula && text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = formula ? "\"'" : "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string LoadCsv(const watch::LoadRecord& record) {
  const watch::LoadHeader& h = record.header;
  std::string csv =
      "Load,Time (UTC),Channel,Nickname,Program time,Step,Step time,Run mode,Set point,Process value,Design,Band low,"
      "Band high,Deviation,Band\r\n";
  const std::string load = SpreadsheetText(h.loadId);
  for (const watch::LoadSample& s : record.samples) {
    std::string nickname;
    for (const watch::LoadController& c : h.controllers)
      if (c.channel == s.channel) nickname = c.nickname;
    csv += load + "," + watch::UtcTime(s.at) + "," + std::to_string(s.channel) + "," + SpreadsheetText(nickname) + ",";
    if (s.gap) {
      csv += ",,,,,,,,,," + SpreadsheetText("gap: " + s.why) + "\r\n";
      continue;
    }
    csv += Number(s.time) + "," + std::to_string(s.step) + "," + std::to_string(s.stepTime) + "," +
           std::to_string(s.runMode) + "," + std::to_string(s.setPoint) + "," + std::to_string(s.processValue) + "," +
           Optional(s.design) + "," + Optional(s.low) + "," + Optional(s.high) + "," + Optional(s.Deviation()) + "," +
           watch::LoadBandName(s.band) + "\r\n";
  }
  return csv;
}

Status WriteLoadCsv(const watch::LoadRecord& record, const std::filesystem::path& file) {
  const std::string csv = LoadCsv(record);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << csv;
  out.close();
  if (!out) return FileProblem("write", file, std::error_code(errno ? errno : EIO, std::generic_category()));
  return Status::Ok();
}

}  // namespace tarvel::report
