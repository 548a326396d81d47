// Fuzz target: the temperature log file reader.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "profile/log_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto points = tarvel::profile::ParseLogRecords(bytes);
  if (!points.ok()) {
    FUZZ_CHECK(!points.status().message().empty());
    return 0;
  }
  FUZZ_CHECK(points->size() == size / tarvel::profile::kLogRecordSize);
  auto rows = tarvel::profile::ChartRows(*points);
  FUZZ_CHECK(rows.size() == tarvel::profile::kChartRows);
  FUZZ_CHECK(rows.back() == points->back());
  return 0;
}
