// Profile files whose checksum is right but whose numbers no controller step can hold: the
// loader, the save and the compile's own check refuse them with the row and the field.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "profile/verify.h"
#include "profile_fixtures.h"
#include "support/temp_dir.h"

namespace tarvel::profile {
namespace {

using tarvel::testing::MakeTable;
using tarvel::testing::TempDir;
using ::testing::HasSubstr;

// A profile text with one cell of row 2 replaced, a settings letter forced, and the checksum
// made to match again: what a forger or a careless script leaves.
std::string Forged(int column, const char* cell, TimeScale scale = TimeScale::Minutes, char timeLetter = 0,
                   char temperatureLetter = 0) {
  ProfileTable table = MakeTable({{"1", "0.00", "30", "r", "70", "250", "6", "10", "", ""},
                                  {"2", "30.00", "45", "h", "250", "250", "0", "10", "C=2", ""},
                                  {"3", "75.00", "", "e", "100", "", "", "", "", ""}});
  if (column >= 0) table.at(2, column) = cell;
  std::string text = BuildProfileText(table, {"K", TemperatureScale::Fahrenheit, scale});
  if (timeLetter) text[kTimeScaleOffset] = timeLetter;
  if (temperatureLetter) text[kTemperatureScaleOffset] = temperatureLetter;
  return text.replace(kChecksumOffset, kChecksumWidth, ProfileChecksum(text));
}

Status Loaded(const std::string& text) {
  TempDir dir;
  tarvel::testing::WriteAll(dir / "forged.txt", text + "\r\n");
  return LoadProfileFile(dir / "forged.txt").status();
}

TEST(ControllerNumbers, TheLoaderRefusesWhatNoStepCanHoldAndNamesTheRowAndField) {
  const struct {
    std::string text;
    const char* message;
  } refused[] = {
      {Forged(kDuration, "99999999999999999999"),
       "Row 2, Duration: \"99999999999999999999\" is more than the 32767 a controller's program step can hold"},
      {Forged(kDuration, "-5"), "Row 2, Duration: \"-5\" is negative"},
      {Forged(kDuration, "546.15", TimeScale::Hours),
       "Row 2, Duration: \"546.15\" hours are more than the 32767 minutes"},
      {Forged(kDuration, "abc"), "Row 2, Duration: \"abc\" is not a number"},
      {Forged(kCommand, "C=99999 J1=on"), "Row 2, Command C=: \"99999\" is beyond"},
      {Forged(kStartTemp, "32767.5"), "Row 2, Start Temp: \"32767.5\" is beyond the -32768 to 32767"},
      {Forged(-1, "", TimeScale::Minutes, 'X'), "Time scale: \"X\" is not S, M or H"},
      {Forged(-1, "", TimeScale::Minutes, 0, 'K'), "Temperature scale: \"K\" is not F or C"},
  };
  for (const auto& [text, message] : refused) {
    ASSERT_TRUE(CheckProfileBytes(text)) << "a whole file with a matching checksum: " << message;
    Status loaded = Loaded(text);
    EXPECT_EQ(loaded.code(), Status::Code::Invalid) << message;
    EXPECT_THAT(loaded.message(), HasSubstr(message));
  }
  // The edges a controller holds still load.
  for (const std::string& text : {Forged(kDuration, "32767"), Forged(kDuration, "546", TimeScale::Hours),
                                  Forged(kDuration, "0"), Forged(kCommand, ""), Forged(kStartTemp, "-32768")})
    EXPECT_TRUE(Loaded(text).ok()) << Loaded(text).message();
}

TEST(ControllerNumbers, TheSaveRefusesThemTooAndTheCompilesCheckSeesTheTimeScale) {
  TempDir dir;
  Status saved = SaveProfileText(dir / "long.txt", Forged(kDuration, "40000"));
  EXPECT_THAT(saved.message(), HasSubstr("Row 2, Duration"));
  EXPECT_FALSE(std::filesystem::exists(dir / "long.txt")) << "a profile that would not load is never written";

  const ProfileTable table = ParseProfileText(Forged(kDuration, "600"));
  EXPECT_TRUE(CheckControllerNumbers(table, 'M').ok());
  EXPECT_THAT(CheckControllerNumbers(table, 'H').message(), HasSubstr("Row 2, Duration: \"600\" hours"));
  EXPECT_THAT(CheckControllerNumbers(table, 'h').message(), HasSubstr("Time scale"));
}

}  // namespace
}  // namespace tarvel::profile
