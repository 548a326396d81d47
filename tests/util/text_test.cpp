#include "util/text.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace tarvel {
namespace {

TEST(NumberParser, AcceptsPlainSignedDecimalsWithBlanks) {
  EXPECT_EQ(ParseNumber("12"), 12.0);
  EXPECT_EQ(ParseNumber("-3"), -3.0);
  EXPECT_EQ(ParseNumber("+7"), 7.0);
  EXPECT_EQ(ParseNumber("1.5"), 1.5);
  EXPECT_EQ(ParseNumber(".5"), 0.5);
  EXPECT_EQ(ParseNumber("5."), 5.0);
  EXPECT_EQ(ParseNumber("2.5e2"), 250.0);
  EXPECT_EQ(ParseNumber("-1E-1"), -0.1);
  // Profile cells keep their trailing blanks; a worksheet cell may be padded on both sides.
  EXPECT_EQ(ParseNumber("  60.00   "), 60.0);
  EXPECT_EQ(ParseNumber("\t42\t"), 42.0);
}

TEST(NumberParser, RefusesEverythingElse) {
  for (const char* text : {"", "   ", "abc", "-", "+", ".", "1.2.3", "1,5", "1 000", "12abc", "0x10", "inf", "nan",
                           "1e", "1e+", "e5", "--1", "1-", "١٢", "1e400"}) {
    EXPECT_FALSE(ParseNumber(text).has_value()) << '"' << text << '"';
    EXPECT_FALSE(IsNumber(text)) << '"' << text << '"';
  }
}

TEST(NumberParser, RoundsHalfToEvenLikeEveryWholeNumberConversion) {
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(-3.5), -4);
  EXPECT_EQ(RoundHalfEven(2.5000001), 3);
  EXPECT_EQ(ToInt16("37.5"), 38);
  EXPECT_EQ(ToInt16("-0.5"), 0);
}

TEST(NumberParser, SixteenBitConversionFailsInsteadOfWrapping) {
  EXPECT_EQ(ToInt16("32767"), 32767);
  EXPECT_EQ(ToInt16("-32768"), -32768);
  EXPECT_EQ(ToInt16("32767.4"), 32767);
  EXPECT_FALSE(ToInt16("32767.5").has_value());  // rounds to 32768
  EXPECT_FALSE(ToInt16("-32769").has_value());
  EXPECT_FALSE(ToInt16("99999999999999999999").has_value());
  EXPECT_FALSE(ToInt16("1e10").has_value());
}

TEST(IsIntegerInRange, ChecksTheRoundedValueAndNeverThrows) {
  EXPECT_TRUE(IsIntegerInRange("64", 1, 64));
  EXPECT_TRUE(IsIntegerInRange("1", 1, 64));
  EXPECT_TRUE(IsIntegerInRange(" 64.4 ", 1, 64));
  EXPECT_FALSE(IsIntegerInRange("65", 1, 64));
  EXPECT_FALSE(IsIntegerInRange("0", 1, 64));
  EXPECT_FALSE(IsIntegerInRange("0.5", 1, 64));  // rounds to 0
  EXPECT_FALSE(IsIntegerInRange("abc", 1, 64));
  EXPECT_FALSE(IsIntegerInRange("", 1, 64));
  EXPECT_FALSE(IsIntegerInRange("40000", 1, 64));
  EXPECT_FALSE(IsIntegerInRange("-99999999999", -32768, 32767));
}

TEST(ValueAfterKey, TakesTheTextUpToTheNextBlank) {
  EXPECT_EQ(ValueAfterKey("t=10 T=500", "T="), "500");
  EXPECT_EQ(ValueAfterKey("t=10", "T="), "");
  EXPECT_EQ(ValueAfterKey("C=3 J1=on", "J1="), "on");
  EXPECT_EQ(ValueAfterKey("C=3 J1=on", "C="), "3");
  EXPECT_EQ(ValueAfterKey("J1=off J2=on", "J2="), "on");
  EXPECT_EQ(ValueAfterKey("J1=", "J1="), "");      // key at the very end
  EXPECT_EQ(ValueAfterKey("C=3 C=4", "C="), "3");  // first occurrence wins
  EXPECT_EQ(ValueAfterKey("j1=on", "J1="), "");    // case matters
  EXPECT_EQ(ValueAfterKey("anything", ""), "");
}

TEST(FileNameFromPath, SplitsOnEitherSeparator) {
  EXPECT_EQ(FileNameFromPath("/home/u/Profiles/dry.txt"), "dry.txt");
  EXPECT_EQ(FileNameFromPath("C:\\Tarvel\\Profiles\\dry.txt"), "dry.txt");
  EXPECT_EQ(FileNameFromPath("mixed/dir\\dry.txt"), "dry.txt");
  EXPECT_EQ(FileNameFromPath("dry.txt"), "dry.txt");
  EXPECT_EQ(FileNameFromPath("folder/"), "");
}

TEST(SmallTextHelpers, TrimAndTwoDigits) {
  EXPECT_EQ(TrimTrailingBlanks("K    "), "K");
  EXPECT_EQ(TrimTrailingBlanks("  K "), "  K");
  EXPECT_EQ(TrimTrailingBlanks("     "), "");
  EXPECT_EQ(TwoDigits(3), "03");
  EXPECT_EQ(TwoDigits(0), "00");
  EXPECT_EQ(TwoDigits(12), "12");
  EXPECT_EQ(TwoDigits(100), "100");
}

TEST(Files, ReadFirstLineDropsEitherLineEnd) {
  testing::TempDir dir;
  testing::WriteAll(dir / "crlf.txt", "SensorMenu.db\r\nsecond\r\n");
  testing::WriteAll(dir / "lf.txt", "menu.db\nsecond\n");
  testing::WriteAll(dir / "bare.txt", "only");
  EXPECT_EQ(ReadFirstLine(dir / "crlf.txt"), "SensorMenu.db");
  EXPECT_EQ(ReadFirstLine(dir / "lf.txt"), "menu.db");
  EXPECT_EQ(ReadFirstLine(dir / "bare.txt"), "only");
  EXPECT_EQ(ReadFirstLine(dir / "missing.txt"), "");
}

TEST(Files, EnsureDirectoryPathCreatesFoldersButNotTheFileName) {
  testing::TempDir dir;
  std::string root = dir.path().string();
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
