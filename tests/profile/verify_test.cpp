#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "profile/verify.h"
#include "profile_fixtures.h"
#include "recording_sink.h"

namespace tarvel::profile {
namespace {

using ::testing::ElementsAre;
using tarvel::testing::MakeTable;
using tarvel::testing::RecordingSink;

const RangeLimits kTypeKFahrenheit{-454, 2501};
const std::string kRange = "Sensor temperature range is:-454 - 2501";
const std::string kAllGood =
    "WARNING: You must check and observe ramp limitations, no ramp rate checking by this software\r\n\r\n"
    "No Errors found in profile. You may now save and run it.";
const std::string kMissing = "Missing entry, check profile";
const std::string kNoEnd = "'e' (end) statement not found at end of profile";

class Verify : public ::testing::Test {
 protected:
  VerifyOutcome Run(const ProfileTable& table) {
    return VerifyProfile(table, sink_, [this] {
      ++rangeLookUps_;
      sink_.Display(SensorRangeMessage(kTypeKFahrenheit));
      return kTypeKFahrenheit;
    });
  }
  RecordingSink sink_;
  int rangeLookUps_ = 0;
};

TEST_F(Verify, TwoSegmentsAndTheEndRowPassWithTheClosingWarning) {
  auto outcome = Run(MakeTable({
      {"1", "0.00", "60", "r", "-454", "2501", "49.25", "", "", ""},
      {"2", "60.00", "30", "h", "2501", "2501", "0", "", "", ""},
      {"3", "90.00", "", "e", "2501", "", "", "", "", ""},
  }));
  EXPECT_FALSE(outcome.profileError);
  EXPECT_EQ(outcome.lastRow, 3);
  EXPECT_THAT(sink_.events, ElementsAre("<clear>", kRange, kAllGood));
}

TEST_F(Verify, OneSegmentIsTooFewAndStopsAtOnce) {
  auto outcome = Run(MakeTable({
      {"1", "0.00", "60", "r", "70", "99999", "3.00", "", "", ""},
      {"2", "60.00", "", "e", "250", "", "", "", "", ""},
  }));
  EXPECT_TRUE(outcome.profileError);
  EXPECT_EQ(outcome.lastRow, 2);
  EXPECT_THAT(sink_.events, ElementsAre("<clear>", "Error: Must have more than 2 segments in profile"));
  EXPECT_EQ(rangeLookUps_, 0);
}

TEST_F(Verify, ABlankRowInsideReportsEachOfItsCheckedCells) {
  auto outcome = Run(MakeTable({
      {"1", "0.00", "60", "r", "70", "250", "3.00", "", "", ""},
      {"2", "", "", "", "", "", "", "10", "C=2", ""},
      {"3", "60.00", "30", "h", "250", "250", "0", "", "", ""},
      {"4", "90.00", "", "e", "250", "", "", "", "", ""},
  }));
  EXPECT_TRUE(outcome.profileError);
  EXPECT_THAT(sink_.events, ElementsAre("<clear>", kMissing, kMissing, kMissing, kMissing, kMissing, kRange));
}

TEST_F(Verify, MessagesComeInTheirOrderAndTheScanStopsAtTheFirstBadNumber) {
  auto outcome = Run(MakeTable({
      {"1", "0.00", "", "r", "70", "3000", "1", "", "", ""},
      {"2", "60.00", "abc", "r", "3000", "250", "", "", "", ""},
      {"3", "", "", "h", "-500", "", "", "", "", ""},
  }));
  EXPECT_TRUE(outcome.profileError);
  EXPECT_THAT(sink_.events,
              ElementsAre("<clear>", kMissing, "Invalid entry in profile at\r\nsegment=2\r\nColumn=3", kRange,
                          "Out of range temp entry at\r\nsegment=1\r\ncol=6",
                          "Out of range temp entry at\r\nsegment=2\r\ncol=5", kNoEnd))
      << "row 2's empty Ramp Rate is after the stop; the last row's -500 is not range-checked";
}

TEST_F(Verify, AnEndRowFollowedByAnotherRowIsNotTheEnd) {
  auto outcome = Run(MakeTable({
      {"1", "0.00", "60", "r", "70", "250", "3.00", "", "", ""},
      {"2", "60.00", "30", "h", "250", "250", "0", "", "", ""},
      {"3", "90.00", "", "e", "250", "", "", "", "", ""},
      {"4", "", "", "", "100", "", "", "", "", ""},
  }));
  EXPECT_TRUE(outcome.profileError);
  EXPECT_EQ(outcome.lastRow, 4);
  EXPECT_THAT(sink_.events, ElementsAre("<clear>", kMissing, kMissing, kMissing, kRange, kNoEnd));
}

TEST(TempRangeCheck, ATemperatureThatIsNotANumberEndsTheCheck) {
  RecordingSink sink;
  ProfileTable table = MakeTable({
      {"1", "0.00", "60", "r", "70", "hot", "", "", "", ""},
      {"2", "60.00", "30", "r", "9999", "250", "", "", "", ""},
      {"3", "90.00", "", "e", "9999", "", "", "", "", ""},
  });
  EXPECT_TRUE(TempRangeCheck(table, 3, kTypeKFahrenheit, sink));
  EXPECT_THAT(sink.events, ElementsAre("Out of range temp entry at\r\nrow=2\r\nCol=6"));

  sink.events.clear();
  table.at(1, kEndTemp) = "250";
  EXPECT_TRUE(TempRangeCheck(table, 3, {0, 9998}, sink));
  EXPECT_THAT(sink.events, ElementsAre("Out of range temp entry at\r\nsegment=2\r\ncol=5"));
  sink.events.clear();
  EXPECT_FALSE(TempRangeCheck(table, 3, {70, 9999}, sink)) << "the limits themselves are in range";
  EXPECT_TRUE(sink.events.empty());
}

struct CellCase {
  int column;
  const char* text;
  bool accepted;
  std::vector<std::string> messages;
};

TEST(ValidateCellEntry, SyntaxRulesPerColumn) {
  const std::string badEntry = "Invalid profile table entry column=";
  const CellCase cases[] = {
      {kSeg, "anything", true, {}},
      {kStartTime, "x", true, {}},
      {kDuration, "1.5", true, {}},
      {kDuration, "1,5", false, {badEntry + "2 row=4"}},
      {kRampRate, "fast", false, {badEntry + "6 row=4"}},
      {kAction, "E", false, {"Action syntax error"}},
      {kAction, "h", true, {}},
      {kStartTemp, "12.5", true, {}},
      {kEndTemp, "40000", false, {badEntry + "5 row=4"}},
      {kErrorLimits, "abc", false, {badEntry + "7 row=4"}},
      {kCommand, "C=3 J1=on, \"quoted\"", true, {}},
      {kNotify, "t=30", true, {}},
      {kNotify, "T=450", true, {}},
      {kNotify, "T=", false, {badEntry + "9 row=4"}},
      {kNotify, "45", true, {"Invalid notification syntax at column=9row=4"}},
      {kNotify, "x=3", false, {"Invalid notification syntax at column=9row=4", badEntry + "9 row=4"}},
  };
  for (const auto& c : cases) {
    RecordingSink sink;
    ProfileTable table;
    EXPECT_EQ(ValidateCellEntry(table, 4, c.column, c.text, sink), c.accepted) << c.column << " " << c.text;
    EXPECT_EQ(sink.events, c.messages) << c.column << " " << c.text;
    ProfileTable expected;
    if (c.column == kAction && c.accepted) expected.at(4, kAction) = c.text;
    EXPECT_EQ(table, expected) << "an accepted Action letter is stored at once, nothing else";
  }
}

}  // namespace
}  // namespace tarvel::profile
