#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "profile/profile_text.h"
#include "profile_fixtures.h"
#include "support/temp_dir.h"

namespace tarvel::profile {
namespace {

using ::testing::HasSubstr;
using tarvel::testing::KilnProfileFile;
using tarvel::testing::KilnTable;
using tarvel::testing::ReadAll;

const ProfileSettings kKilnSettings{"K", TemperatureScale::Fahrenheit, TimeScale::Minutes};

TEST(ProfileText, AFileWrittenByTheLayoutLoadsUnchangedAndIsRebuiltByteForByte) {
  std::string file = ReadAll(KilnProfileFile());
  ASSERT_EQ(file.size(), 51537u);
  std::string text = ProfileTextFromBytes(file);
  ASSERT_EQ(text, file.substr(0, 51535));
  EXPECT_EQ(ProfileChecksum(file), "   1654117");

  ProfileTable table = ParseProfileText(text);
  EXPECT_EQ(table, KilnTable());
  EXPECT_EQ(table.at(1, kCommand), "C=2 J1=on  ") << "trailing blanks stay in the cell";
  EXPECT_EQ(table.at(2, kCommand), "Hold at 250\xB0" "F") << "8-bit text passes unconverted";
  EXPECT_EQ(table.at(255, kSeg), "255");
  EXPECT_EQ(table.at(0, kSeg), "");
  EXPECT_EQ(LastProfileRow(table), 4);
  EXPECT_EQ(SettingsOfText(text), kKilnSettings);
  EXPECT_EQ(SensorTypeField(text), "K    ");
  EXPECT_EQ(TemperatureScaleField(text), 'F');
  EXPECT_EQ(TimeScaleField(text), 'M');

  EXPECT_EQ(BuildProfileText(table, kKilnSettings) + "\r\n", file);
}

TEST(ProfileText, RoundTripCutsLongCellsAndTheSensorCaption) {
  ProfileTable table = KilnTable();
  table.at(1, kCommand) = "C=3 J1=on J2=off and more";  // 25 characters
  table.at(3, kNotify) = "T=123456789012345678901";
  ProfileSettings settings{"Pt100X", TemperatureScale::Celsius, TimeScale::Hours};

  std::string text = BuildProfileText(table, settings);
  ASSERT_EQ(text.size(), kProfileTextLength);
  ASSERT_TRUE(CheckProfileBytes(text).ok()) << CheckProfileBytes(text).message();
  ProfileTable back = ParseProfileText(text);
  EXPECT_EQ(back.at(1, kCommand), "C=3 J1=on J2=off and");
  EXPECT_EQ(back.at(3, kNotify), "T=123456789012345678");
  back.at(1, kCommand) = table.at(1, kCommand);
  back.at(3, kNotify) = table.at(3, kNotify);
  EXPECT_EQ(back, table) << "every other cell comes back as it was";
  EXPECT_EQ(SensorTypeField(text), "Pt100");
  EXPECT_EQ(SettingsOfText(text), (ProfileSettings{"Pt100", TemperatureScale::Celsius, TimeScale::Hours}));

}

TEST(ProfileText, EveryChangedByteInLines1To258IsRefused) {
  std::string file = ReadAll(KilnProfileFile());
  ASSERT_TRUE(CheckProfileBytes(file).ok());
  std::size_t accepted = 0;
  for (std::size_t i = 0; i < kChecksummedLength + 2; ++i) {
    char original = file[i];
    file[i] = static_cast<char>(static_cast<unsigned char>(original) + 1);
    if (!ProfileTextFromBytes(file).empty()) ++accepted;
    file[i] = original;
  }
  EXPECT_EQ(accepted, 0u);
}

TEST(ProfileText, AChangeWithItsChecksumRecomputedLoads) {
  std::string file = ReadAll(KilnProfileFile());
  file[kRowLineLength + 4 * kFieldWidth + 17] = '3';  // row 2 Start Temp 250 -> 350
  EXPECT_FALSE(CheckProfileBytes(file).ok());
  file.replace(kChecksumOffset, kChecksumWidth, ProfileChecksum(file));
  ASSERT_TRUE(CheckProfileBytes(file).ok());
  EXPECT_EQ(ParseProfileText(ProfileTextFromBytes(file)).at(2, kStartTemp), "350");
}

TEST(ProfileText, DamagedShapesAreRefusedWithTheReason) {
  const std::string file = ReadAll(KilnProfileFile());
  std::string lfOnly;
  for (char c : file)
    if (c != '\r') lfOnly += c;
  std::string withoutChecksumLine = file.substr(0, kChecksumOffset);  // 258 lines
  std::string crInCell = file;
  crInCell[5] = '\r';
  crInCell.replace(kChecksumOffset, kChecksumWidth, ProfileChecksum(crInCell));
  std::string longLine = file;
  longLine.insert(10, " ");
  longLine.erase(kRowLineLength + 10, 1);  // same length, same sum, line 1 one longer

  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"empty", "", "the file is 0 bytes"},
      {"258 lines", withoutChecksumLine, "the file is 51523 bytes"},
      {"LF line ends", lfOnly, "the file is 51277 bytes"},
      {"a line after line 260", file + "\r\n", "the file is 51539 bytes"},
      {"line 260 not empty", file.substr(0, kProfileFileSize - 2) + "x\n", "line 260 is not an empty line"},
      {"a CR inside a cell", crInCell, "line 1 is not 200 characters followed by CR LF"},
      {"line 1 longer, line 2 shorter", longLine, "line 1 is not 200 characters followed by CR LF"},
      {"garbage of the right size", std::string(kProfileFileSize, '\xFF'), "line 1 is not 200 characters"},
  };
  for (const auto& c : cases) {
    Status checked = CheckProfileBytes(c.bytes);
    EXPECT_FALSE(checked.ok()) << c.name;
    EXPECT_THAT(checked.message(), HasSubstr(c.reason)) << c.name;
    EXPECT_EQ(ProfileTextFromBytes(c.bytes), "") << c.name;
    EXPECT_EQ(ParseProfileText(c.bytes), ProfileTable()) << c.name << ": never a partial table";
  }
  EXPECT_TRUE(CheckProfileBytes(file.substr(0, kProfileTextLength)).ok()) << "the empty line 260 may be missing";
}

TEST(ProfileText, ChecksumOfAShortTextIsError) {
  EXPECT_EQ(ProfileChecksum(std::string(kChecksummedLength - 1, 'a')), "error");
  EXPECT_EQ(ProfileChecksum(std::string(kChecksummedLength, '\xFF')), "  13137855");
}

TEST(ProfileTable, LastRowCountsOnlyStartTimeToRampRate) {
  ProfileTable table;
  EXPECT_EQ(LastProfileRow(table), 0);
  for (int column : {kSeg, kErrorLimits, kCommand, kNotify}) table.at(200, column) = "1";
  EXPECT_EQ(LastProfileRow(table), 0);
  table.at(3, kStartTime) = "0";
  table.at(7, kRampRate) = "1";
  EXPECT_EQ(LastProfileRow(table), 7);
}

}  // namespace
}  // namespace tarvel::profile
