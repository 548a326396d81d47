#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "profile/profile_text.h"
#include "profile_fixtures.h"
#include "support/temp_dir.h"

namespace tarvel::profile {
namespace {

using tarvel::testing::KilnProfileFile;
using tarvel::testing::KilnTable;
using tarvel::testing::ReadAll;
using ::testing::HasSubstr;

const ProfileSettings kKilnSettings{"K", TemperatureScale::Fahrenheit, TimeScale::Minutes};

TEST(ProfileText, AFileWrittenByTheLayoutLoadsUnchangedAndIsRebuiltByteForByte) {
  std::string file = ReadAll(KilnProfileFile());
  ASSERT_EQ(file.size(), 51537u);
  std::string text = ProfileTextFromBytes(file);
  ASSERT_EQ(text, file.substr(0, 51535));
  EXPECT_EQ(ProfileChecksum(file), "   1654117");

  // Trailing blanks stay in their cells and 8-bit text passes unconverted.
  ProfileTable table = ParseProfileText(text);
  EXPECT_EQ(table, KilnTable());
  EXPECT_EQ(LastProfileRow(table), 4);
  EXPECT_EQ(SettingsOfText(text), kKilnSettings);
  EXPECT_EQ(SensorTypeField(text), "K    ");
  EXPECT_EQ(ProfileChecksum(text.substr(0, kChecksummedLength - 1)), "error");

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
    ++file[i];
    if (!ProfileTextFromBytes(file).empty()) ++accepted;
    --file[i];
  }
  EXPECT_EQ(accepted, 0u);
}

TEST(ProfileText, DamagedShapesAreRefusedWithTheReason) {
  const std::string file = ReadAll(KilnProfileFile());
  std::string lfOnly = file;
  std::erase(lfOnly, '\r');
  std::string crInCell = file;
  crInCell[5] = '\r';
  crInCell.replace(kChecksumOffset, kChecksumWidth, ProfileChecksum(crInCell));
  std::string longLine = file;
  longLine.insert(10, " ");
  longLine.erase(kRowLineLength + 10, 1);  // same length, same sum, line 1 one longer
  const std::tuple<const char*, std::string, const char*> cases[] = {
      {"empty", "", "the file is 0 bytes"},
      {"LF line ends", lfOnly, "the file is 51277 bytes"},
      {"a line after line 260", file + "\r\n", "the file is 51539 bytes"},
      {"line 260 not empty", file.substr(0, kProfileFileSize - 2) + "x\n", "line 260 is not an empty line"},
      {"a CR inside a cell", crInCell, "line 1 is not 200 characters followed by CR LF"},
      {"line 1 longer, line 2 shorter", longLine, "line 1 is not 200 characters followed by CR LF"},
  };
  for (const auto& [name, bytes, reason] : cases) {
    Status checked = CheckProfileBytes(bytes);
    EXPECT_FALSE(checked.ok()) << name;
    EXPECT_THAT(checked.message(), HasSubstr(reason)) << name;
    EXPECT_EQ(ProfileTextFromBytes(bytes), "") << name;
    EXPECT_EQ(ParseProfileText(bytes), ProfileTable()) << name << ": never a partial table";
  }
  EXPECT_TRUE(CheckProfileBytes(file.substr(0, kProfileTextLength)).ok()) << "the empty line 260 may be missing";
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
