#include "util/text.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace tarvel {
namespace {

TEST(NumberParser, AcceptsPlainSignedDecimalsWithBlanksAndRefusesEverythingElse) {
  // Profile cells keep their trailing blanks; a worksheet cell may be padded on both sides.
  for (auto [text, value] : {std::pair{"-3", -3.0},
                             {"+7", 7.0},
                             {".5", 0.5},
                             {"5.", 5.0},
                             {"-1E-1", -0.1},
                             {"2.5e2", 250.0},
                             {"  60.00   ", 60.0},
                             {"\t42\t", 42.0}})
    EXPECT_EQ(ParseNumber(text), value) << '"' << text << '"';
  for (const char* text : {"", "   ", "abc", "-", ".", "1.2.3", "1,5", "1 000", "12abc", "0x10", "inf", "nan", "1e",
                           "1e+", "e5", "--1", "1-", "١٢", "1e400"}) {
    EXPECT_FALSE(ParseNumber(text).has_value()) << '"' << text << '"';
    EXPECT_FALSE(IsNumber(text)) << '"' << text << '"';
  }
}

TEST(NumberParser, WholeNumbersRoundHalfToEvenAndFailOutsideTheirRangeInsteadOfWrapping) {
  for (auto [value, rounded] : {std::pair{0.5, 0}, {1.5, 2}, {2.5, 2}, {-2.5, -2}, {-3.5, -4}, {2.5000001, 3}})
    EXPECT_EQ(RoundHalfEven(value), rounded) << value;
  for (auto [text, value] : {std::pair{"37.5", 38}, {"-0.5", 0}, {"32767.4", 32767}, {"-32768", -32768}})
    EXPECT_EQ(ToInt16(text), value) << text;
  for (const char* text : {"32767.5", "-32769", "99999999999999999999", "1e10"})
    EXPECT_FALSE(ToInt16(text).has_value()) << text;
  EXPECT_TRUE(IsIntegerInRange(" 64.4 ", 1, 64));
  EXPECT_TRUE(IsIntegerInRange("1", 1, 64));
  for (const char* text : {"65", "0.5", "abc", "", "40000"}) EXPECT_FALSE(IsIntegerInRange(text, 1, 64)) << text;
  EXPECT_FALSE(IsIntegerInRange("-99999999999", -32768, 32767));
}

TEST(TextHelpers, KeysFileNamesBlanksAndTwoDigits) {
  EXPECT_EQ(ValueAfterKey("t=10 T=500", "T="), "500");  // case matters
  EXPECT_EQ(ValueAfterKey("t=10", "T="), "");
  EXPECT_EQ(ValueAfterKey("C=3 J1=on", "C="), "3");
  EXPECT_EQ(ValueAfterKey("J1=off J2=on", "J2="), "on");
  EXPECT_EQ(ValueAfterKey("C=3 C=4", "C="), "3");  // first occurrence wins
  EXPECT_EQ(ValueAfterKey("J1=", "J1="), "");
  EXPECT_EQ(FileNameFromPath("/home/u/Profiles/dry.txt"), "dry.txt");
  EXPECT_EQ(FileNameFromPath("C:\\Tarvel\\Profiles\\dry.txt"), "dry.txt");
  EXPECT_EQ(FileNameFromPath("mixed/dir\\dry.txt"), "dry.txt");
  EXPECT_EQ(FileNameFromPath("folder/"), "");
  EXPECT_EQ(TrimTrailingBlanks("  K    "), "  K");
  EXPECT_EQ(TrimTrailingBlanks("     "), "");
  EXPECT_EQ(TwoDigits(3), "03");
  EXPECT_EQ(TwoDigits(100), "100");
}

TEST(Files, ReadFirstLineAndEnsureDirectoryPath) {
  testing::TempDir dir;
  testing::WriteAll(dir / "crlf.txt", "SensorMenu.db\r\nsecond\r\n");
  testing::WriteAll(dir / "lf.txt", "menu.db\nsecond\n");
  testing::WriteAll(dir / "bare.txt", "only");
  EXPECT_EQ(ReadFirstLine(dir / "crlf.txt"), "SensorMenu.db");
  EXPECT_EQ(ReadFirstLine(dir / "lf.txt"), "menu.db");
  EXPECT_EQ(ReadFirstLine(dir / "bare.txt"), "only");
  EXPECT_EQ(ReadFirstLine(dir / "missing.txt"), "");

  // Folders up to the last separator, of either kind; never the file name.
  const std::string root = dir.path().string();
  ASSERT_TRUE(EnsureDirectoryPath(root + "/LogFiles/Channel-01/"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "LogFiles/Channel-01"));
  ASSERT_TRUE(EnsureDirectoryPath(root + "\\a\\b\\file.txt"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b"));
  EXPECT_FALSE(std::filesystem::exists(dir / "a/b/file.txt"));
  testing::WriteAll(dir / "blocker", "x");
  EXPECT_FALSE(EnsureDirectoryPath(root + "/blocker/sub/"));
}

}  // namespace
}  // namespace tarvel
