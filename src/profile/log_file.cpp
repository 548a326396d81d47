#include "profile/log_file.h"

#include <algorithm>
#include <fstream>

#include "util/text.h"

namespace tarvel::profile {
namespace {

namespace fs = std::filesystem;

struct Field {
  std::size_t offset;
  std::size_t length;
  const char* name;
};
constexpr Field kTime{0, 9, "bytes 1..9 (time)"};
constexpr Field kProfileValue{9, 5, "bytes 10..14 (recorded profile value)"};
constexpr Field kTemperature{14, 5, "bytes 15..19 (recorded temperature)"};

Status Invalid(std::string message) { return Status::Error(Status::Code::Invalid, std::move(message)); }

}  // namespace

Result<std::vector<LogPoint>> ParseLogRecords(std::string_view bytes) {
  std::size_t count = bytes.size() / kLogRecordSize;
  if (count == 0)
    return Invalid("Log file holds no whole record: " + std::to_string(bytes.size()) + " bytes, a record is " +
                   std::to_string(kLogRecordSize));
  std::vector<LogPoint> points;
  points.reserve(count);
  for (std::size_t p = 0; p < count; ++p) {
    std::string_view record = bytes.substr(p * kLogRecordSize, kLogRecordSize);
    double values[3] = {};
    const Field* fields[3] = {&kTime, &kProfileValue, &kTemperature};
    for (int f = 0; f < 3; ++f) {
      auto value = ParseNumber(record.substr(fields[f]->offset, fields[f]->length));
      if (!value)
        return Invalid("Log file record " + std::to_string(p + 1) + ": " + fields[f]->name + " is not a number");
      values[f] = *value;
    }
    points.push_back({values[0], values[1], values[2]});
  }
  return points;
}

Result<std::vector<LogPoint>> ReadLogFile(const fs::path& file) {
  std::error_code ec;
  fs::file_status status = fs::status(file, ec);
  if (!fs::exists(status)) return Status::Error(Status::Code::NotFound, "Log file not found: " + file.string());
  if (!fs::is_regular_file(status)) return Invalid("Log file is not a regular file: " + file.string());
  std::ifstream in(file, std::ios::binary);
  if (!in) return Status::Failed("Cannot open log file " + file.string());
  std::uintmax_t size = fs::file_size(file, ec);
  if (ec) return Status::Failed("Cannot read log file " + file.string() + ": " + ec.message());
  if (size > kMaxLogFileBytes)
    return Invalid("Log file is larger than " + std::to_string(kMaxLogFileBytes) + " bytes: " + file.string());
  // One byte more than its size tells a file that grows while we read it.
  std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return Status::Failed("Cannot read log file " + file.string());
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.size() > kMaxLogFileBytes)
    return Invalid("Log file is larger than " + std::to_string(kMaxLogFileBytes) + " bytes: " + file.string());
  return ParseLogRecords(bytes);
}

std::string LogPointsMessage(std::size_t points) { return "Log File has " + std::to_string(points) + " points"; }

std::vector<LogPoint> ChartRows(const std::vector<LogPoint>& points) {
  std::vector<LogPoint> rows;
  std::size_t n = points.size();
  if (n == 0) return rows;
  rows.reserve(kChartRows);
  for (std::size_t k = 1; k <= kChartRows; ++k) {
    std::size_t point = n <= kChartRows ? std::min(k, n) : k * n / kChartRows;
    rows.push_back(points[point - 1]);
  }
  return rows;
}

}  // namespace tarvel::profile
