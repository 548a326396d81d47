// The worksheet rules without a window: keys per column, what an edit changes, undo lists,
// typed blocks, and the editor session's open / verify / save and sensor messages.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "profile/editor_session.h"
#include "profile/profile_fixtures.h"
#include "profile/profile_text.h"
#include "profile/recording_sink.h"
#include "profile/worksheet.h"
#include "support/temp_dir.h"

namespace tarvel::profile {
namespace {

using tarvel::testing::RecordingSink;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct Cell {
  int row, column;
  const char* text;
};
struct DependentCase {
  const char* name;
  std::vector<Cell> edits, cells;  // typed in order; then expected
};

TEST(WorksheetRules, AnEditUpdatesItsDependentCells) {
  const std::vector<DependentCase> cases = {
      {"new worksheet", {}, {{1, kStartTime, "0"}, {1, kStartTemp, "70"}, {1, kAction, ""}, {2, kStartTime, ""}}},
      {"duration then end temp",
       {{1, kDuration, "60"}, {1, kEndTemp, "250"}},
       {{1, kAction, "r"},
        {1, kRampRate, "3.00"},
        {1, kDuration, "60"},
        {2, kStartTime, "60.00"},
        {2, kStartTemp, "250"}}},
      {"a typed duration is kept; only the computed rate is rounded",
       {{1, kDuration, "7"}, {1, kEndTemp, "100"}},
       {{1, kRampRate, "4.29"}, {1, kDuration, "7"}, {2, kStartTime, "7.00"}}},
      {"clearing a duration empties the start times it gave",
       {{1, kDuration, "60"},
        {1, kEndTemp, "250"},
        {2, kDuration, "30"},
        {2, kEndTemp, "100"},
        {3, kAction, "e"},
        {1, kDuration, ""}},
       {{1, kStartTime, "0"}, {2, kStartTime, ""}, {3, kStartTime, ""}, {2, kDuration, "30"}, {3, kStartTemp, "100"}}},
      {"entering it again puts them back",
       {{1, kDuration, "60"},
        {1, kEndTemp, "250"},
        {2, kDuration, "30"},
        {2, kEndTemp, "100"},
        {1, kDuration, ""},
        {1, kDuration, "45"}},
       {{2, kStartTime, "45.00"}, {3, kStartTime, "75.00"}, {1, kRampRate, "4.00"}}},
      {"digits a profile file would cut are refused and the cell kept",
       {{1, kDuration, "60"}, {1, kDuration, "12345678901234567890123"}, {1, kEndTemp, "1234567890123456789012"}},
       {{1, kDuration, "60"}, {1, kEndTemp, ""}, {2, kStartTime, "60.00"}}},
      {"end temp then ramp computes the duration",
       {{1, kEndTemp, "250"}, {1, kRampRate, "4.5"}},
       {{1, kAction, "r"}, {1, kDuration, "40.00"}, {2, kStartTime, "40.00"}}},
      {"ramp 0 holds", {{1, kRampRate, "0"}}, {{1, kAction, "h"}}},
      {"w kept when end equals start",
       {{1, kAction, "w"}, {1, kDuration, "30"}, {1, kEndTemp, "70"}},
       {{1, kAction, "w"}, {2, kStartTemp, "70"}, {2, kStartTime, "30.00"}}},
      {"end equal to start holds", {{1, kEndTemp, "70"}}, {{1, kAction, "h"}, {1, kRampRate, "0"}}},
      {"h copies the start temperature",
       {{1, kEndTemp, "300"}, {1, kAction, "h"}},
       {{1, kRampRate, "0"}, {1, kEndTemp, "70"}, {2, kStartTemp, "70"}}},
      {"negative ramp against a rising end",
       {{1, kDuration, "10"}, {1, kEndTemp, "250"}, {1, kRampRate, "-2"}},
       {{1, kAction, "r"}, {1, kEndTemp, ""}, {2, kStartTemp, ""}, {1, kRampRate, "-2"}}},
      {"start times run down the profile",
       {{1, kDuration, "60"}, {1, kEndTemp, "250"}, {2, kDuration, "30.5"}, {2, kEndTemp, "100"}},
       // the rate is rounded, the typed duration is not computed back from it
       {{2, kRampRate, "-4.92"}, {2, kDuration, "30.5"}, {3, kStartTime, "90.50"}, {3, kStartTemp, "100"}}},
      {"e ends the profile",
       {{1, kDuration, "60"}, {1, kEndTemp, "250"}, {2, kDuration, "5"}, {3, kCommand, "J1=on"}, {2, kAction, "e"}},
       {{2, kDuration, ""},
        {2, kEndTemp, ""},
        {2, kRampRate, ""},
        {2, kStartTime, "60.00"},
        {3, kStartTime, ""},
        {3, kCommand, ""},
        {3, kSeg, "3"}}},
      {"refused text empties the cell", {{1, kDuration, "6"}, {1, kDuration, "1.2.3"}}, {{1, kDuration, ""}}},
      {"last row is never passed", {{255, kDuration, "5"}, {255, kEndTemp, "80"}}, {{255, kEndTemp, "80"}}},
  };
  for (const auto& c : cases) {
    Worksheet sheet;
    RecordingSink sink;
    for (const Cell& e : c.edits) sheet.CommitEdit(e.row, e.column, e.text, sink);
    for (const Cell& x : c.cells)
      EXPECT_EQ(sheet.Cell(x.row, x.column), x.text) << c.name << " (" << x.row << "," << x.column << ")";
  }
}

TEST(WorksheetRules, MessagesOfRefusedConflictingAndUnreadableEdits) {
  Worksheet sheet;
  RecordingSink sink;
  sheet.CommitEdit(1, kDuration, "10", sink);
  sheet.CommitEdit(1, kEndTemp, "250", sink);
  sheet.CommitEdit(1, kRampRate, "-2", sink);
  sheet.CommitEdit(1, kAction, "E", sink);
  sheet.CommitEdit(1, kStartTime, "5", sink);  // not a typed column: nothing happens
  EXPECT_THAT(sink.events, ElementsAre("Sign of ramp conflicts with End Temperature\r\n"
                                       "If End Temp > Start Temp Ramp Rate = +\r\n"
                                       "If End Temp < Start Temp Ramp Rate = -",
                                       "Action syntax error"));
  EXPECT_EQ(sheet.Cell(1, kStartTime), "0");

  // A cell that is not a number (a hand-made file can hold anything) stops the update.
  ProfileTable table = Worksheet().Table();
  table.at(1, kStartTemp) = "hot";
  sheet.SetTable(table);
  sink.events.clear();
  sheet.CommitEdit(1, kEndTemp, "250", sink);
  EXPECT_THAT(sink.events, ElementsAre("Profile_FlexGrid_MouseDown Routine Error= 13\r\n"
                                       "Row 1 Start Temp \"hot\" is not a number"));
  EXPECT_EQ(sheet.UnreadableCell(), (CellRef{1, kStartTemp}));
  EXPECT_EQ(sheet.Cell(1, kEndTemp), "250");
  EXPECT_EQ(sheet.Cell(1, kAction), "");
  EXPECT_EQ(sheet.Cell(2, kStartTemp), "");

  // Digits that would not fit a profile file's 20 characters are refused with the row named.
  sink.events.clear();
  sheet.CommitEdit(3, kRampRate, "-0.000000000000000000001", sink);
  EXPECT_THAT(sink.events, ElementsAre("Row 3 Ramp Rate: 24 characters do not fit the 20 a profile file keeps; "
                                       "not entered"));
  EXPECT_EQ(sheet.UnreadableCell(), std::nullopt);
}

TEST(WorksheetRules, TextThatASaveWouldCutIsFoundRowByRow) {
  Worksheet sheet;
  RecordingSink sink;
  sheet.CommitEdit(1, kCommand, "C=2 J2=off PID tuned J1=on", sink);
  sheet.CommitEdit(2, kNotify, "t=30", sink);
  sheet.CommitEdit(4, kCommand, "12345678901234567890", sink);  // exactly 20: kept whole
  EXPECT_THAT(CellsCutAtSave(sheet.Table()),
              ElementsAre(CutCell{{1, kCommand}, "C=2 J2=off PID tuned J1=on", "C=2 J2=off PID tuned"}));
  EXPECT_EQ(CutWarning(CellsCutAtSave(sheet.Table())),
            "A profile file keeps 20 characters of a cell; saving cuts:\r\n"
            "Row 1 Command \"C=2 J2=off PID tuned J1=on\" to \"C=2 J2=off PID tuned\"");
}

TEST(WorksheetRules, AChangeListUndoesAndRedoesEveryCellOfAnEdit) {
  Worksheet sheet;
  RecordingSink sink;
  sheet.CommitEdit(1, kDuration, "60", sink);
  const ProfileTable before = sheet.Table();
  CellChanges changes = sheet.CommitEdit(1, kEndTemp, "250", sink);
  const ProfileTable after = sheet.Table();
  EXPECT_EQ(changes.size(), 4u);  // End, Action, Ramp of row 1 (the typed Duration stays); Start Temp of row 2
  sheet.Apply(changes, true);
  EXPECT_EQ(sheet.Table(), before);
  sheet.Apply(changes, false);
  EXPECT_EQ(sheet.Table(), after);
  EXPECT_TRUE(sheet.CommitEdit(1, kEndTemp, "250", sink).empty()) << "the same text again changes nothing";
}

TEST(KeyFilter, EachColumnTakesItsKeys) {
  auto keys = [](int row, int column) {
    std::string taken;
    for (char key : std::string("09.-eEhrwtT=x \b"))
      if (FilterKey(row, column, key).verdict != KeyVerdict::Beep) taken += key == '\b' ? '<' : key;
    return taken;
  };
  EXPECT_EQ(keys(1, kDuration) + keys(1, kErrorLimits), "09.<09.<");
  EXPECT_EQ(keys(1, kStartTemp) + keys(3, kEndTemp) + keys(3, kRampRate), "09.-<09.-<09.-<");
  EXPECT_EQ(keys(3, kAction), "ehrw");
  EXPECT_EQ(keys(3, kNotify), "09.tT=<");
  EXPECT_EQ(keys(3, kCommand), "09.-eEhrwtT=x <");
  EXPECT_EQ(FilterKey(3, kAction, 'h').verdict, KeyVerdict::AcceptAlone);

  EXPECT_EQ(FilterKey(0, kDuration, '1').message, "You can not edit header title");
  EXPECT_EQ(FilterKey(5, kSeg, '1').message, "This entry is a constant\r\nYou can not edit this column");
  EXPECT_EQ(FilterKey(5, kStartTime, '1').message,
            "This entry is calculate from the other entries\r\nYou can not manually edit this column, change "
            "duration of previous segments to change this");
  EXPECT_EQ(FilterKey(2, kStartTemp, '1').message,
            "This entry is set from your previous segment end temperature\r\nYou can not manually edit this column");
  EXPECT_EQ(FilterKey(1, kStartTemp, '1').verdict, KeyVerdict::Accept);

  EXPECT_EQ(TypeKeys(1, kDuration, "12\b5.5"), "15.5");
  EXPECT_EQ(TypeKeys(1, kAction, "rhe"), "e");
  EXPECT_EQ(TypeKeys(1, kDuration, "-5"), std::nullopt);
  EXPECT_EQ(TypeKeys(2, kStartTemp, "5"), std::nullopt);
  EXPECT_EQ(FormatTwoDecimals(-0.001), "0.00");
  EXPECT_EQ(FormatTwoDecimals(1234.5), "1234.50");
}

TEST(WorksheetRules, ATypedBlockTakesGoodCellsAndNamesTheBadOnes) {
  Worksheet sheet;
  RecordingSink sink;
  // Row 1 from Start Time: a Start Time that differs from the computed one is noted, not used.
  auto result =
      sheet.TypeBlock(1, kStartTime, {{"5", "60", "", "70", "250"}, {"", "3x", "", "999", "100"}, {"", "", "e"}}, sink);
  EXPECT_EQ(result.refused, 1);
  EXPECT_THAT(sink.events,
              ElementsAre("Row 1 Start Time is computed as \"0\"; \"5\" is not used",
                          "Row 2 Duration: \"3x\" holds a character this column does not take; not entered",
                          "Row 2 Start Temp is computed as \"250\"; \"999\" is not used"));
  EXPECT_EQ(sheet.Cell(1, kRampRate), "3.00");
  EXPECT_EQ(sheet.Cell(2, kAction), "r");
  EXPECT_EQ(sheet.Cell(2, kDuration), "");
  EXPECT_EQ(sheet.Cell(3, kAction), "e");
  EXPECT_EQ(sheet.Cell(3, kStartTemp), "100");
  sheet.Apply(result.changes, true);
  EXPECT_EQ(sheet.Table(), Worksheet().Table());
}

class EditorSessionTest : public ::testing::Test {
 protected:
  static Result<std::optional<RangeLimits>> Lookup(std::string_view caption, TemperatureScale scale) {
    if (caption == "FAIL") return Status::Failed("menu unreadable");
    if (caption.starts_with("K"))
      return std::optional(scale == TemperatureScale::Fahrenheit ? RangeLimits{-454, 2501} : RangeLimits{-270, 1372});
    if (caption == "T") return std::optional(RangeLimits{-454, 752});
    return std::optional<RangeLimits>();
  }
  void Type(int row, int column, const char* text) { session_.Sheet().CommitEdit(row, column, text, sink_); }

  RecordingSink sink_;
  EditorSession session_{{{0, "K"}, {2, "T"}, {9, "FAIL"}}, &Lookup, sink_};
  tarvel::testing::TempDir dir_;
};

TEST_F(EditorSessionTest, SaveVerifiesThenWritesWhatTheCliBuildsAndOpensItBack) {
  EXPECT_EQ(session_.VerifyForSave(), std::nullopt);
  EXPECT_THAT(sink_.events, ElementsAre("<clear>", "Error: Must have more than 2 segments in profile",
                                        "Profile Error - FILE NOT SAVED"));
  Type(1, kDuration, "60");
  Type(1, kEndTemp, "250");
  Type(2, kDuration, "30");
  Type(2, kEndTemp, "800");
  Type(3, kAction, "e");
  sink_.events.clear();
  auto text = session_.VerifyForSave();
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, BuildProfileText(session_.Sheet().Table(), ProfileSettings{}));
  ASSERT_TRUE(session_.SaveTo(dir_ / "five.txt", *text));
  EXPECT_EQ(sink_.events.back(), "PROFILE SAVED");
  EXPECT_EQ(session_.ProfileName(), "five.txt");

  session_.SelectSensor(2);  // T tops out at 752 F
  EXPECT_THAT(sink_.events, ::testing::Contains("Out of range temp entry at\r\nsegment=2\r\ncol=6"));
  sink_.events.clear();
  session_.SetTemperatureScale(TemperatureScale::Celsius);
  EXPECT_THAT(sink_.events, ElementsAre("<clear>", "Temperature scale set to C",
                                        "The values were not converted: the profile's 70 to 800 are now degrees C"))
      << "the area is replaced";
  sink_.events.clear();
  session_.SetTimeScale(TimeScale::Hours);  // 90 minutes become 90 hours
  EXPECT_THAT(sink_.events, ElementsAre("<clear>", "Time scale set to Hours",
                                        "The values were not converted: the profile now lasts 90 hours"));
  sink_.events.clear();
  session_.SetTimeScale(TimeScale::Hours);
  EXPECT_THAT(sink_.events, ElementsAre("<clear>", "Time scale set to Hours")) << "no change, no second line";
  session_.SetTimeScale(TimeScale::Minutes);
  session_.New();
  EXPECT_EQ(session_.Sheet().Cell(1, kEndTemp), "");

  sink_.events.clear();
  ASSERT_TRUE(session_.OpenProfile(dir_ / "five.txt"));
  EXPECT_EQ(session_.Sheet().Cell(2, kEndTemp), "800");
  EXPECT_EQ(session_.Settings(), ProfileSettings{});
  EXPECT_THAT(sink_.events, ElementsAre("Profile is valid", "===Recalling last edited profiles settings===",
                                        "Profile sensor type set to: K", "Sensor temperature range is:-454 - 2501",
                                        "Profile temp scale=Fahrenheit", "Profile time scale=Minutes"));
  EXPECT_EQ(session_.CheckedSensor(), 0);
}

TEST_F(EditorSessionTest, AnInvalidFileChangesNothingAndAnUnknownSensorIsKept) {
  Type(1, kDuration, "60");
  const ProfileTable before = session_.Sheet().Table();
  tarvel::testing::WriteAll(dir_ / "bad.txt", "not a profile");
  EXPECT_FALSE(session_.OpenProfile(dir_ / "bad.txt"));
  ASSERT_GE(sink_.events.size(), 2u);
  EXPECT_THAT(sink_.events[sink_.events.size() - 2],
              HasSubstr("File found: Format not valid: \r\nProfile Syntax must be precise"));
  EXPECT_THAT(sink_.events.back(), ::testing::StartsWith("Why: " + (dir_ / "bad.txt").string() + ": "));
  EXPECT_EQ(session_.Sheet().Table(), before);

  ProfileSettings settings{"XY", TemperatureScale::Celsius, TimeScale::Hours};
  tarvel::testing::WriteAll(dir_ / "xy.txt", BuildProfileText(tarvel::testing::KilnTable(), settings) + "\r\n");
  sink_.events.clear();
  ASSERT_TRUE(session_.OpenProfile(dir_ / "xy.txt"));
  EXPECT_EQ(session_.Settings(), settings);
  EXPECT_EQ(session_.CheckedSensor(), std::nullopt);
  EXPECT_THAT(sink_.events, ElementsAre("Profile is valid", "===Recalling last edited profiles settings===",
                                        "Profile sensor type set to: XY",
                                        "Sensor type XY is not in the sensor menu: its range is unknown",
                                        "Profile temp scale=Celcius", "Profile time scale=Hours"));
  sink_.events.clear();
  session_.SelectSensor(9);
  ASSERT_GE(sink_.events.size(), 2u);
  EXPECT_EQ(sink_.events[0], "Profile sensor type set to: FAIL");
  EXPECT_EQ(sink_.events[1], "Error setting profile range limits");
}

}  // namespace
}  // namespace tarvel::profile
