#pragma once
// profile: temperature log files of past runs -- fixed 21-byte records without header:
// bytes 1..9 time, 10..14 recorded profile value, 15..19 recorded temperature, 20..21 unread.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.h"

namespace tarvel::profile {

inline constexpr std::size_t kLogRecordSize = 21;
inline constexpr std::size_t kChartRows = 1000;
// 3.2 million records: years of readings at the console's 15-second pace; a larger file is
// not a log of ours and is refused rather than read into memory.
inline constexpr std::uintmax_t kMaxLogFileBytes = std::uintmax_t{64} << 20;

// One record. The chart plots (time, recordedProfile) and (time, recordedTemperature).
struct LogPoint {
  double time = 0;
  double recordedProfile = 0;
  double recordedTemperature = 0;
  bool operator==(const LogPoint&) const = default;
};

// The whole records of bytes (length div 21; the bytes of a last partial record are ignored).
// Fails when there is no whole record, or a field of one is not a number.
Result<std::vector<LogPoint>> ParseLogRecords(std::string_view bytes);

// ParseLogRecords of a file of at most kMaxLogFileBytes.
Result<std::vector<LogPoint>> ReadLogFile(const std::filesystem::path& file);

// "Log File has " n " points".
std::string LogPointsMessage(std::size_t points);

// The 1000 chart rows of a log: with at most 1000 points, all of them and then the last one
// repeated (the lines stay flat instead of dropping to 0); with more, row k takes point
// k * n / 1000 (1-based), so long logs are thinned by index. No points give no rows.
std::vector<LogPoint> ChartRows(const std::vector<LogPoint>& points);

}  // namespace tarvel::profile
