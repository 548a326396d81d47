#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "profile/log_file.h"
#include "support/temp_dir.h"

namespace tarvel::profile {
namespace {

using tarvel::testing::TempDir;
using tarvel::testing::WriteAll;
using ::testing::HasSubstr;

// Records as a logging tool writes them: three right-aligned fields and a line end.
std::string Records(std::size_t count) {
  std::string bytes;
  char record[32];
  for (std::size_t p = 1; p <= count; ++p) {
    std::snprintf(record, sizeof record, "%9.2f%5zu%5zu\r\n", static_cast<double>(p) * 0.25, 70 + p % 1000,
                  60 + p % 900);
    bytes += record;
  }
  return bytes;
}

LogPoint PointOf(std::size_t p) {
  return {static_cast<double>(p) * 0.25, static_cast<double>(70 + p % 1000), static_cast<double>(60 + p % 900)};
}

// The chart has 1000 rows: a short log repeats its last point, a long one is thinned by index.
TEST(LogFile, RecordsAreCountedAndFillTheThousandChartRows) {
  TempDir dir;
  WriteAll(dir / "short.log", Records(100) + "12345678901234567890");  // a partial last record is ignored
  WriteAll(dir / "long.log", Records(2000));
  struct Case {
    const char* file;
    std::size_t count;
    const char* message;
    std::vector<std::pair<std::size_t, std::size_t>> rowPoints;  // chart row, record number
  } cases[] = {
      {"short.log", 100, "Log File has 100 points", {{0, 1}, {99, 100}, {100, 100}, {999, 100}}},
      {"long.log", 2000, "Log File has 2000 points", {{0, 2}, {1, 4}, {999, 2000}}},
  };
  for (const Case& c : cases) {
    auto points = ReadLogFile(dir / c.file);
    ASSERT_TRUE(points.ok()) << points.status().message();
    ASSERT_EQ(points->size(), c.count);
    EXPECT_EQ((*points)[0], (LogPoint{0.25, 71, 61}));
    EXPECT_EQ(LogPointsMessage(points->size()), c.message);
    auto rows = ChartRows(*points);
    ASSERT_EQ(rows.size(), 1000u);
    for (auto [row, record] : c.rowPoints) EXPECT_EQ(rows[row], PointOf(record)) << c.file << " row " << row;
  }
  EXPECT_TRUE(ChartRows({}).empty());
}

TEST(LogFile, FieldsTakeBlanksAndSignsButOnlyNumbers) {
  auto points = ParseLogRecords("   -1.5e1  -20 1000\n\n");
  ASSERT_TRUE(points.ok()) << points.status().message();
  EXPECT_EQ((*points)[0], (LogPoint{-15, -20, 1000}));

  struct Case {
    std::string bytes;
    const char* message;
  } cases[] = {
      {std::string(20, '1'), "Log file holds no whole record: 20 bytes, a record is 21"},
      {"", "Log file holds no whole record: 0 bytes"},
      {Records(2) + "     12.5  abc  100\r\n", "record 3: bytes 10..14 (recorded profile value) is not a number"},
      {"         12.5  70  60\r\n", "record 1: bytes 1..9 (time) is not a number"},
      {"     12.5   70 0x1F\r\n", "record 1: bytes 15..19 (recorded temperature) is not a number"},
  };
  for (const auto& c : cases) {
    auto parsed = ParseLogRecords(c.bytes);
    EXPECT_FALSE(parsed.ok()) << c.bytes;
    EXPECT_THAT(parsed.status().message(), HasSubstr(c.message));
  }
  TempDir dir;
  EXPECT_EQ(ReadLogFile(dir / "none.log").status().code(), Status::Code::NotFound);
  EXPECT_FALSE(ReadLogFile(dir.path()).ok()) << "a folder is not a log file";
}

}  // namespace
}  // namespace tarvel::profile
