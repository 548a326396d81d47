// What the editor shows when it verifies a profile, message by message and in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "profile/verify.h"
#include "profile_fixtures.h"
#include "recording_sink.h"

namespace tarvel::profile {
namespace {

using tarvel::testing::MakeTable;
using tarvel::testing::RecordingSink;
using tarvel::testing::Row;

const RangeLimits kTypeKFahrenheit{-454, 2501};
const std::string kRange = "Sensor temperature range is:-454 - 2501";
const std::string kMissing = "Missing entry, check profile";
const std::string kNoEnd = "'e' (end) statement not found at end of profile";

TEST(VerifyProfile, ShowsItsMessagesInOrderAndLooksUpTheRangeOnlyWhenItGetsThatFar) {
  struct Case {
    const char* name;
    std::vector<Row> rows;
    bool error;
    int lastRow;
    std::vector<std::string> events;  // after the "<clear>" that starts every run
  } cases[] = {
      {"two segments and the end row, at the limits of the range",
       {{"1", "0.00", "60", "r", "-454", "2501", "49.25", "", "", ""},
        {"2", "60.00", "30", "h", "2501", "2501", "0", "", "", ""},
        {"3", "90.00", "", "e", "2501", "", "", "", "", ""}},
       false,
       3,
       {kRange,
        "WARNING: You must check and observe ramp limitations, no ramp rate checking by this software\r\n\r\n"
        "No Errors found in profile. You may now save and run it."}},
      {"one segment is too few and stops at once",
       {{"1", "0.00", "60", "r", "70", "99999", "3.00", "", "", ""},
        {"2", "60.00", "", "e", "250", "", "", "", "", ""}},
       true,
       2,
       {"Error: Must have more than 2 segments in profile"}},
      {"a blank row inside reports each of its checked cells",
       {{"1", "0.00", "60", "r", "70", "250", "3.00", "", "", ""},
        {"2", "", "", "", "", "", "", "10", "C=2", ""},
        {"3", "60.00", "30", "h", "250", "250", "0", "", "", ""},
        {"4", "90.00", "", "e", "250", "", "", "", "", ""}},
       true,
       4,
       {kMissing, kMissing, kMissing, kMissing, kMissing, kRange}},
      // Row 2's empty Ramp Rate is after the stop; the last row's -500 is not range-checked.
      {"the scan stops at the first bad number",
       {{"1", "0.00", "", "r", "70", "3000", "1", "", "", ""},
        {"2", "60.00", "abc", "r", "3000", "250", "", "", "", ""},
        {"3", "", "", "h", "-500", "", "", "", "", ""}},
       true,
       3,
       {kMissing, "Invalid entry in profile at\r\nsegment=2\r\nColumn=3",
        "Row 3, Start Temp: -500 is not where row 2 ended (End Temp 250): a segment starts where the one before ended",
        kRange, "Out of range temp entry at\r\nsegment=1\r\ncol=6", "Out of range temp entry at\r\nsegment=2\r\ncol=5",
        kNoEnd}},
      // Row 2 would ramp from 150 (where row 1 ended) but claims 400: the program would jump.
      {"a segment that does not start where the one before ended",
       {{"1", "0.00", "60", "r", "70", "150", "1.33", "", "", ""},
        {"2", "60.00", "30", "r", "400", "250", "-5.00", "", "", ""},
        {"3", "90.00", "", "e", "250", "", "", "", "", ""}},
       true,
       3,
       {"Row 2, Start Temp: 400 is not where row 1 ended (End Temp 150): a segment starts where the one before "
        "ended",
        kRange}},
      {"an end row followed by another row is not the end",
       {{"1", "0.00", "60", "r", "70", "250", "3.00", "", "", ""},
        {"2", "60.00", "30", "h", "250", "250", "0", "", "", ""},
        {"3", "90.00", "", "e", "250", "", "", "", "", ""},
        {"4", "", "", "", "100", "", "", "", "", ""}},
       true,
       4,
       {kMissing, kMissing, kMissing, kRange, kNoEnd}},
  };
  for (const Case& c : cases) {
    RecordingSink sink;
    auto outcome = VerifyProfile(MakeTable(c.rows), sink, [&sink] {
      sink.Display(SensorRangeMessage(kTypeKFahrenheit));
      return kTypeKFahrenheit;
    });
    std::vector<std::string> expected{"<clear>"};
    expected.insert(expected.end(), c.events.begin(), c.events.end());
    EXPECT_EQ(sink.events, expected) << c.name;
    EXPECT_EQ(outcome.profileError, c.error) << c.name;
    EXPECT_EQ(outcome.lastRow, c.lastRow) << c.name;
  }
}

// Odd wording kept as the editor shows it: "row" and "Col" for a temperature that is no number.
TEST(TempRangeCheck, ATemperatureThatIsNotANumberEndsTheCheck) {
  RecordingSink sink;
  ProfileTable table = MakeTable({
      {"1", "0.00", "60", "r", "70", "hot", "", "", "", ""},
      {"2", "60.00", "30", "r", "9999", "250", "", "", "", ""},
      {"3", "90.00", "", "e", "9999", "", "", "", "", ""},
  });
  EXPECT_TRUE(TempRangeCheck(table, 3, kTypeKFahrenheit, sink));
  EXPECT_EQ(sink.events, std::vector<std::string>{"Out of range temp entry at\r\nrow=2\r\nCol=6"});
}

TEST(ValidateCellEntry, SyntaxRulesPerColumn) {
  const std::string badEntry = "Invalid profile table entry column=";
  const std::string badNotify = "Invalid notification syntax at column=9row=4";
  const std::tuple<int, const char*, bool, std::vector<std::string>> cases[] = {
      {kStartTime, "x", true, {}},  // not checked here
      {kDuration, "1.5", true, {}},
      {kDuration, "1,5", false, {badEntry + "2 row=4"}},
      {kRampRate, "fast", false, {badEntry + "6 row=4"}},
      {kAction, "E", false, {"Action syntax error"}},
      {kAction, "h", true, {}},
      {kEndTemp, "40000", false, {badEntry + "5 row=4"}},
      {kErrorLimits, "abc", false, {badEntry + "7 row=4"}},
      {kCommand, "C=3 J1=on, \"quoted\"", true, {}},
      {kNotify, "T=450", true, {}},
      {kNotify, "T=", false, {badEntry + "9 row=4"}},
      {kNotify, "45", true, {badNotify}},
      {kNotify, "x=3", false, {badNotify, badEntry + "9 row=4"}},
  };
  for (const auto& [column, text, accepted, messages] : cases) {
    RecordingSink sink;
    ProfileTable table;
    EXPECT_EQ(ValidateCellEntry(table, 4, column, text, sink), accepted) << column << " " << text;
    EXPECT_EQ(sink.events, messages) << column << " " << text;
    ProfileTable expected;
    if (column == kAction && accepted) expected.at(4, kAction) = text;
    EXPECT_EQ(table, expected) << "an accepted Action letter is stored at once, nothing else";
  }
}

}  // namespace
}  // namespace tarvel::profile
