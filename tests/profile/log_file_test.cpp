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

// How the chart's 1000 rows are filled from a log (repeated, thinned) is the chart model's test.
TEST(LogFile, WholeRecordsAreReadAndAPartialLastOneIgnored) {
  TempDir dir;
  WriteAll(dir / "short.log", Records(100) + "12345678901234567890");
  auto points = ReadLogFile(dir / "short.log");
  ASSERT_TRUE(points.ok()) << points.status().message();
  ASSERT_EQ(points->size(), 100u);
  EXPECT_EQ(points->front(), (LogPoint{0.25, 71, 61}));
  EXPECT_EQ(points->back(), (LogPoint{25, 170, 160}));
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
