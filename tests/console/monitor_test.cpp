// Run-state monitoring, the program memory marks and the profile log mark.
#include <gmock/gmock.h>

#include <cmath>

#include "support/console_fixture.h"

namespace tarvel::console {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

class Monitoring : public ConsoleFixture {
 protected:
  Monitoring() {
    Map(1, 1, "Kiln");
    Map(2, 2, "Oven");
  }
  std::optional<store::ControllerConfigRow> Stored(int address) {
    return store_.ControllerConfig(address).value_or({});
  }
};

TEST_F(Monitoring, AReadingOfARunningProgramFillsEveryReadOutAndMarksTheStep) {
  RunProgramOnUnit1();
  sim_.AdvanceTime(30min);
  Console& console = Started();
  console.SetMonitoring(true);
  EXPECT_TRUE(view_.monitoring);

  const sim::UnitState unit = sim_.Unit(1);
  EXPECT_EQ(view_.fields[Field::CurrentStep], "1");
  EXPECT_EQ(view_.fields[Field::CurrentTime], std::to_string(static_cast<int>(unit.stepElapsed)));
  EXPECT_EQ(view_.fields[Field::ProfileSetPoint], std::to_string(unit.profileSetPoint));
  EXPECT_EQ(view_.fields[Field::SetPoint], std::to_string(unit.profileSetPoint)) << "a program runs: not in SV";
  EXPECT_EQ(view_.fields[Field::ProcessTemperature], std::to_string(std::lround(unit.processTemperature)));
  EXPECT_EQ(view_.fields[Field::SingleSetPoint], std::to_string(unit.setValue));
  EXPECT_EQ(view_.fields[Field::Relay1], "off");
  EXPECT_EQ(view_.fields[Field::ProgramStepLow] + "-" + view_.fields[Field::ProgramStepHigh], "1-3");
  EXPECT_EQ(view_.programMode, 2);
  EXPECT_EQ(std::pair(view_.progressDone, view_.progressTotal), std::pair(8, 8)) << "the limits in one read";
  EXPECT_EQ((std::vector{view_.MarkAt(Grid::ProgramMemory, 1), view_.MarkAt(Grid::ProgramMemory, 3),
                         view_.MarkAt(Grid::ProgramMemory, 4)}),
            (std::vector{RowMark::CurrentStep, RowMark::ProgramRange, RowMark::None}));

  auto stored = Stored(1).value_or(store::ControllerConfigRow{});
  EXPECT_EQ(std::tie(stored.runMode, stored.segmentExecuting, stored.segmentElapsedTime),
            std::tuple(2, 1, static_cast<int>(unit.stepElapsed)));

  // The next step takes the light green; the previous one is back in the range colour.
  sim_.AdvanceTime(45min);
  console.RunMonitor().ReadRunState();
  EXPECT_EQ(view_.fields[Field::CurrentStep], "2");
  EXPECT_EQ(view_.MarkAt(Grid::ProgramMemory, 1), RowMark::ProgramRange);
  EXPECT_EQ(view_.MarkAt(Grid::ProgramMemory, 2), RowMark::CurrentStep);
  EXPECT_EQ(Stored(1)->segmentExecuting, 2);

  // Switching monitoring off repaints the range, which removes the step mark inside it.
  console.SetMonitoring(false);
  EXPECT_FALSE(view_.monitoring);
  EXPECT_EQ(view_.MarkAt(Grid::ProgramMemory, 2), RowMark::ProgramRange);
  EXPECT_EQ(view_.LastLed(), Led::Idle);
}

TEST_F(Monitoring, InSvModeTheSetPointIsTheSingleSetPointAndNoStepIsMarked) {
  sim_.EditUnit(2, [](sim::UnitState& u) {
    u.runMode = 0;
    u.setValue = 180;
    u.programLowStep = 4;
    u.programHighStep = 6;
    u.currentStep = 5;
  });
  Console& console = Started();
  console.Selection().ChooseChannel(1);
  console.RunMonitor().ReadRunState();
  EXPECT_EQ(view_.fields[Field::SetPoint], "180");
  for (int row = 1; row <= 64; ++row) EXPECT_NE(view_.MarkAt(Grid::ProgramMemory, row), RowMark::CurrentStep) << row;
  EXPECT_EQ(view_.MarkAt(Grid::ProgramMemory, 5), RowMark::ProgramRange);
  EXPECT_FALSE(Stored(2).has_value()) << "a controller in SV runs no program: no restart point is stored";
}

TEST_F(Monitoring, AFailedReadingIsReportedAndNotStoredAsTheRestartPoint) {
  RunProgramOnUnit1();
  sim_.AdvanceTime(10min);
  Console& console = Started();
  console.RunMonitor().ReadRunState();
  const auto before = Stored(1);
  ASSERT_TRUE(before);

  sim_.AdvanceTime(50min);
  line_.SetTiming({20ms, 20ms});
  sim_.InjectFault(sim::Fault::NoReply, 1);  // the very first exchange of the reading fails
  console.RunMonitor().ReadRunState();

  EXPECT_EQ(view_.LastLed(), Led::Error);
  EXPECT_THAT(view_.messages, HasSubstr(kCommsError));
  EXPECT_EQ(view_.fields[Field::ProgramStepLow], "") << "a failed read is shown blank, not as 0";
  const auto after = Stored(1);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->segmentExecuting, before->segmentExecuting);
  EXPECT_EQ(after->segmentElapsedTime, before->segmentElapsedTime);

  line_.SetTiming({100ms, 100ms});      // a busy machine must not fail the reading that follows
  console.RunMonitor().ReadRunState();  // the line recovers: the next reading is stored again
  EXPECT_EQ(view_.LastLed(), Led::Idle);
  EXPECT_NE(Stored(1)->segmentElapsedTime, before->segmentElapsedTime);
}

TEST_F(Monitoring, ALogEntryMatchingTheProgramLimitsIsMarkedAndSelected) {
  ASSERT_TRUE(store_.WriteLogEntry({1, "early.txt", 1, 3, "K", "F", "M", "SV"}));
  ASSERT_TRUE(store_.WriteLogEntry({1, "bisque.txt", 10, 20, "K", "F", "M", "SV"}));
  sim_.EditUnit(1, [](sim::UnitState& u) {
    u.programLowStep = 10;
    u.programHighStep = 20;
  });
  Console& console = Started();
  EXPECT_TRUE(view_.boxes.empty());
  EXPECT_EQ(view_.MarkAt(Grid::ProfileLog, 2), RowMark::LogEntry);
  EXPECT_EQ(view_.MarkAt(Grid::ProfileLog, 1), RowMark::None);
  EXPECT_EQ(view_.currentRow[Grid::ProfileLog], 2);
  EXPECT_EQ(view_.fields[Field::ExecutingProfileName], "bisque.txt");
  EXPECT_EQ(Stored(1)->profileNameExecuting, "bisque.txt");
  EXPECT_EQ(Stored(1)->programLowAddress, 10);

  // Limits that match no entry: the box names them.
  sim_.EditUnit(1, [](sim::UnitState& u) {
    u.programLowStep = 30;
    u.programHighStep = 40;
  });
  EXPECT_EQ(console.Log().MarkLogEntryOfProgramLimits(), LogMatch::NotFound);
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0].title, "Physical settings do not match any in the Profile Log");
  EXPECT_EQ(view_.boxes[0].text, "Program Limits: 30 - 40");
  EXPECT_THAT(view_.messages, HasSubstr("WARNING: Controller physical settings do not match any in Profile Log\r\n"
                                        "Use SELECT PROFILE button to select a profile and change physical settings "
                                        "in Controller\r\n"));

  sim_.EditUnit(1, [](sim::UnitState& u) {
    u.programLowStep = 0;
    u.programHighStep = 0;
  });
  console.Log().MarkLogEntryOfProgramLimits();
  EXPECT_EQ(view_.boxes.back().text, "Program Limits: 0 - 0 indicate communications problem");

  // A controller that does not answer is reported as such, not as a mismatch.
  const auto boxes = view_.boxes.size();
  line_.SetTiming({20ms, 20ms});
  sim_.InjectFault(sim::Fault::NoReply, 1);
  EXPECT_EQ(console.Log().MarkLogEntryOfProgramLimits(), LogMatch::Unread);
  EXPECT_EQ(view_.boxes.size(), boxes);
  EXPECT_EQ(view_.LastLed(), Led::Error);
}

TEST_F(Monitoring, MarkingANewRangeKeepsAStepMarkOutsideIt) {
  Console& console = Started();
  console.Memory().HighlightProgramRange(1, 5);
  console.Memory().HighlightCurrentStep(10);
  console.Memory().HighlightProgramRange(20, 3);
  for (int row = 1; row <= 5; ++row) EXPECT_EQ(view_.MarkAt(Grid::ProgramMemory, row), RowMark::None);
  EXPECT_EQ(view_.MarkAt(Grid::ProgramMemory, 10), RowMark::CurrentStep);
  EXPECT_EQ(view_.MarkAt(Grid::ProgramMemory, 20), RowMark::ProgramRange);
  EXPECT_EQ(view_.MarkAt(Grid::ProgramMemory, 22), RowMark::ProgramRange);
  EXPECT_EQ(view_.MarkAt(Grid::ProgramMemory, 23), RowMark::None);
  console.Memory().HighlightProgramRange(60, 10);  // rows past the grid are ignored
  EXPECT_EQ(view_.marks[Grid::ProgramMemory].size(), 64u);
}

TEST_F(Monitoring, SizeButtonsShowAndHideTheExtraColumns) {
  Console& console = Started();
  auto shown = [this](Grid grid, int column) { return view_.layouts[grid].widthsTwips[column] > 0; };
  EXPECT_FALSE(shown(Grid::ProgramMemory, 1) || shown(Grid::ProgramMemory, 6) || shown(Grid::ProfileLog, 1));
  console.Memory().ToggleSize();
  console.Log().ToggleSize();
  EXPECT_TRUE(shown(Grid::ProgramMemory, 1) && shown(Grid::ProgramMemory, 6) && shown(Grid::ProfileLog, 1));
  EXPECT_TRUE(view_.wide[Grid::ProgramMemory] && view_.wide[Grid::ProfileLog]);
  console.Memory().ToggleSize();
  EXPECT_FALSE(shown(Grid::ProgramMemory, 6));
}

}  // namespace
}  // namespace tarvel::console
