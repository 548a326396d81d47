// Run control: the jump sequence on the wire, select, start, pause, restart,
// the run mode and program limits panels, and sequences stopped by a failed exchange.
#include <gmock/gmock.h>

#include "sim/rtu_codec.h"
#include "support/console_fixture.h"

namespace tarvel::console {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Minutes; segment 5 ramps 100 -> 250 over 120 (segment 6 jumps over itself to 7).
const sim::ProgramStep kProgram[] = {{1, 10, 50},   {1, 10, 80}, {1, 10, 90},  {1, 10, 95},
                                     {1, 120, 100}, {1, -7, 0},  {1, 60, 250}, {1, 0, 250}};

Bytes Read(std::uint16_t reg) { return sim::EncodeReadRequest(1, reg, 2); }
Bytes Write(std::uint16_t reg, int value, int next) {
  const std::uint16_t values[] = {static_cast<std::uint16_t>(value), static_cast<std::uint16_t>(next)};
  return sim::EncodeWriteRequest(1, reg, values);
}
std::uint16_t Word(int step, int word) { return static_cast<std::uint16_t>(0x4000 + 3 * (step - 1) + word - 1); }

class RunControlTest : public ConsoleFixture {
 protected:
  RunControlTest() : ConsoleFixture({1}) {
    Map(1, 1, "Kiln");
    std::vector<store::MemoryRow> rows;
    for (int step = 1; step <= 8; ++step) {
      const auto& s = kProgram[step - 1];
      rows.push_back({1, step, s.duration, s.temperature, s.pidSet, 0});
    }
    EXPECT_TRUE(store_.WriteMemorySteps(1, rows));
    EXPECT_TRUE(store_.WriteLogEntry({1, "kiln.txt", 1, 8, "K", "F", "H", "SV"}));
    sim_.EditUnit(1, [](sim::UnitState& u) {
      for (int i = 0; i < 8; ++i) u.steps[i] = kProgram[i];
      u.programLowStep = 1;
      u.programHighStep = 8;
    });
  }
  // The console of a user who has just opened the window on the kiln.
  RunControl& Opened() {
    Started().RunControls().SetFrontPanelStart([this](std::uint8_t address) { sim_.FrontPanelStart(address); });
    sim_.ClearRequests();
    return console_->RunControls();
  }
  void Running(int minutes) {
    sim_.EditUnit(1, [](sim::UnitState& u) { u.runMode = 2; });
    sim_.FrontPanelStart(1);
    sim_.AdvanceTime(std::chrono::minutes(minutes));
  }
  int Modified(int step) { return store_.MemoryStep(1, step).value_or({}).value_or(store::MemoryRow{}).modified; }
  std::tuple<std::string, int, int> Stored() {
    auto row = store_.ControllerConfig(1).value_or({}).value_or(store::ControllerConfigRow{});
    return {row.profileNameExecuting, row.programLowAddress, row.programHighAddress};
  }
  sim::ProgramStep Step(int step) const { return sim_.Unit(1).steps[step - 1]; }
};

TEST_F(RunControlTest, TheJumpWritesItsSequenceAndTheControllerRunsTheShortenedStep) {
  Running(15);                                                           // in step 2
  ASSERT_TRUE(store_.SaveCapabilities({1, true, false, std::nullopt}));  // as an upload leaves it: both registers kept
  RunControl& run = Opened();
  ASSERT_TRUE(run.JumpToSegmentPoint("5", "30"));
  // The executing step is read once the program is held (run mode 0); each write carries
  // what the register after it keeps; at the end everything written is read back, both
  // registers of each read counting, and last the step and step time.
  const int low = 1, step2Temp = 80, step64Temp = 0;
  const std::vector<Bytes> expected = {Read(0x200D),
                                       Write(0x200D, 1, low),
                                       Write(0x200E, 1, 64),
                                       Write(0x200D, 0, 1),
                                       Read(0x018F),
                                       Write(Word(2, 2), -64, step2Temp),
                                       Write(Word(64, 2), 1000, step64Temp),
                                       Write(0x200D, 1, 1),
                                       Write(0x200D, 0, 1),
                                       Write(Word(64, 2), -5, step64Temp),
                                       Write(Word(5, 2), 90, 138),
                                       Write(0x200D, 2, 1),
                                       Write(Word(2, 2), 10, step2Temp),
                                       Write(0x200E, 1, 8),
                                       Write(0x200D, 2, 1),
                                       Read(Word(2, 2)),
                                       Read(Word(5, 2)),
                                       Read(Word(64, 2)),
                                       Read(0x200D),
                                       Read(0x200E),
                                       Read(0x0191),
                                       Read(0x018F)};
  EXPECT_EQ(sim_.Requests(), expected);
  EXPECT_LE(sim_.Requests().size(), 25u) << "a verified jump on the described frames";
  EXPECT_THAT(view_.messages, HasSubstr("No modified profile lines found\r\n"));
  EXPECT_THAT(view_.messages, HasSubstr("Jump done executing\r\n"));
  EXPECT_EQ(Modified(5) - Modified(2), 1);
  EXPECT_EQ(Modified(64), 1) << "the trampoline may be another profile's last step: Start puts it back";
  EXPECT_EQ(store_.MemoryStep(1, 5).value_or({})->duration, 120) << "the copy keeps the unchanged step";

  EXPECT_EQ(sim_.Unit(1).currentStep, 5);
  EXPECT_EQ(sim_.Unit(1).profileSetPoint, 138);
  sim_.AdvanceTime(45min);  // halfway through the 90 left: 138 + 112 / 2
  console_->RunMonitor().ReadRunState();
  EXPECT_EQ(view_.fields[Field::CurrentStep], "5");
  EXPECT_EQ(view_.fields[Field::ProfileSetPoint], "194");

  // A second jump, from the segment of the first, puts that segment back as the step it leaves.
  sim_.ClearRequests();
  ASSERT_TRUE(run.JumpToSegmentPoint("7", "20"));
  EXPECT_LE(sim_.Requests().size(), 25u);
  EXPECT_EQ(std::pair(Step(5).duration, Step(5).temperature), (std::pair<std::int16_t, std::int16_t>(120, 100)));
  EXPECT_EQ(Modified(7) - Modified(5), 1);
  EXPECT_EQ(sim_.Unit(1).currentStep, 7);
}

// The executing step may end at any moment of a jump. Whatever exchange it ends at, the jump
// either lands in the target segment and says so, or says which step the controller runs;
// no step but the target is left changed in the controller.
TEST_F(RunControlTest, AStepThatEndsDuringTheJumpNeverLeavesAFalseDoneOrAChangedStep) {
  for (std::size_t at = 1; at <= 30; ++at) {
    SCOPED_TRACE("step 2 ends at exchange " + std::to_string(at));
    sim_.EditUnit(1, [](sim::UnitState& u) {
      for (int i = 0; i < 8; ++i) u.steps[i] = kProgram[i];
      u.steps[63] = {};
      u.running = u.held = false;
      u.programLowStep = 1;
      u.programHighStep = 8;
    });
    for (int step = 1; step <= 8; ++step) ASSERT_TRUE(store_.SetStepModified(1, step, 0));
    Running(15);
    RunControl& run = Opened();
    sim_.EndStepAtRequest(1, at);
    view_.messages.clear();
    const bool done = run.JumpTo(5, 30);
    const sim::UnitState unit = sim_.Unit(1);
    if (done) {
      EXPECT_EQ(unit.currentStep, 5);
      EXPECT_THAT(view_.messages, HasSubstr("Jump done executing"));
    } else {
      EXPECT_THAT(view_.messages, Not(HasSubstr("Jump done executing")));
      EXPECT_THAT(view_.messages, HasSubstr("runs step " + std::to_string(unit.currentStep)));
    }
    for (int step = 1; step <= 8; ++step) {
      if (step == 5) continue;
      EXPECT_EQ(std::pair(unit.steps[step - 1].duration, unit.steps[step - 1].temperature),
                std::pair(kProgram[step - 1].duration, kProgram[step - 1].temperature))
          << "step " << step;
      EXPECT_EQ(Modified(step), 0) << "step " << step;
    }
  }
}

TEST_F(RunControlTest, JumpsThatCannotBeComputedOrWouldReachStepSixtyFourSendNothing) {
  RunControl& run = Opened();
  const std::pair<const char*, const char*> refused[] = {{"64", "Must be in range: 1 - 64"},
                                                         {"0", "Segment number not in range"},
                                                         {"-3", "Segment number not in range"},
                                                         {"abc", "Segment number entered is not a number"},
                                                         {"6", "You selected a segment that is a jump instruction"}};
  for (auto [segment, message] : refused) {
    EXPECT_FALSE(run.JumpToSegmentPoint(segment, "30"));
    EXPECT_THAT(view_.messages, HasSubstr(message)) << segment;
    EXPECT_EQ(std::tuple(run.LastAction().action, run.LastAction().done, run.LastAction().jumpPoint),
              std::tuple(RunAction::Jump, false, std::nullopt))
        << segment;
  }
  for (const char* time : {"120", "0", "-5"}) {
    EXPECT_FALSE(run.JumpToSegmentPoint("5", time));
    EXPECT_THAT(view_.messages, HasSubstr("you entered a time longer than the duration")) << time;
  }
  EXPECT_FALSE(run.JumpTo(5, 120));  // a restart's stored time is checked here
  EXPECT_EQ(view_.messages, "Error: Time selected is greater than segment time\r\n");

  // Step 64 is the jump's trampoline: a program that reaches it would be rewritten under itself.
  ASSERT_TRUE(store_.SaveRunSelection(1, "kiln.txt", 60, 64));
  ASSERT_TRUE(store_.SaveRunState(1, 0, 62, 5));
  for (auto [name, command] : {std::pair<const char*, std::function<bool()>>{"jump", [&] { return run.JumpTo(5, 30); }},
                               {"restart", [&] { return run.RestartProfile(); }}}) {
    view_.messages.clear();
    EXPECT_FALSE(command()) << name;
    EXPECT_THAT(view_.messages, HasSubstr("include step 64")) << name;
  }
  EXPECT_TRUE(sim_.Requests().empty());
}

TEST_F(RunControlTest, AFailedExchangeStopsTheJumpAndStartPutsBackWhatItChanged) {
  Running(15);
  RunControl& run = Opened();
  int base = hooked_.exchanges, failAt = 15;  // the target step's temperature, written on its own
  hooked_.before = [&](int k) {
    if (k == base + failAt) sim_.InjectFault(sim::Fault::NoReply, 1);
  };
  EXPECT_FALSE(run.JumpTo(5, 30));
  EXPECT_EQ(sim_.Requests().size(), 15u) << "nothing after the failed write";
  EXPECT_THAT(view_.messages, HasSubstr("ERROR: Communication error\r\n"
                                        "ERROR: Jump stopped: writing step 5 temperature 138 failed (no reply)\r\n"));
  EXPECT_THAT(view_.messages,
              HasSubstr("The controller now holds program limits 1 - 64, step 2 duration -64, run mode 0, "
                        "step 64 duration -5, step 5 duration 90\r\n"
                        "It may also hold step 5 temperature 138\r\n"));
  EXPECT_THAT(view_.messages, Not(HasSubstr("Jump done executing")));
  EXPECT_EQ(view_.LastLed(), Led::Error);
  EXPECT_EQ(Modified(2) + Modified(5), 2);

  // A confirmed start puts both steps back before it writes the run mode.
  sim_.EditUnit(1, [](sim::UnitState& u) { u.programLowStep = 1, u.programHighStep = 8; });
  failAt = 0;
  ASSERT_TRUE(run.StartProfile());
  EXPECT_EQ(Step(2).duration + Step(5).duration + Step(5).temperature, 10 + 120 + 100);
  EXPECT_EQ(Step(64).duration, 0) << "the jump's -5 in step 64 is gone";
  EXPECT_EQ(Modified(2) + Modified(5) + Modified(64), 0);

  // A failure before the first write changes nothing, and says so.
  base = hooked_.exchanges;
  failAt = 1;
  EXPECT_FALSE(run.JumpTo(5, 30));
  EXPECT_THAT(view_.messages, HasSubstr("stopped: reading the run mode failed (no reply)\r\n"
                                        "Nothing was changed in the controller\r\n"));
}

TEST_F(RunControlTest, SelectStartPauseAndRestartRunTheProfileOnTheController) {
  RunControl& run = Opened();
  console_->Log().Show(1);
  ASSERT_TRUE(run.SelectRunProfile(1));
  EXPECT_EQ(view_.boxes.back().title, "Run State Parameters Change");
  EXPECT_THAT(view_.messages, HasSubstr("Profile selected for run. Program limits uploaded to controller"));
  EXPECT_EQ(Stored(), std::make_tuple(std::string("kiln.txt"), 1, 8));
  EXPECT_EQ(run.LastAction().limits, std::pair(1, 8));

  ASSERT_TRUE(run.StartProfile());
  EXPECT_EQ(view_.boxes.back().title, "Enter Front Panel Start Code 5172 to start kiln.txt");
  EXPECT_THAT(view_.messages, HasSubstr("-2- using the arrow keys enter 5172 in the SV display\r\n"));
  EXPECT_THAT(view_.messages, HasSubstr("start code 5172 entered on the front panel of unit #1"));
  EXPECT_TRUE(sim_.Unit(1).running);
  EXPECT_EQ(sim_.Unit(1).runMode, 2) << "H counts as minutes";

  sim_.AdvanceTime(15min);  // step 2, 5 minutes in: 85
  // A pause whose reading of the step Restart resumes from, or whose read of the set value, is
  // lost writes nothing, and says so.
  int base = hooked_.exchanges;
  console_->RunMonitor().ReadRunState();
  const int reading = hooked_.exchanges - base;
  for (auto [lost, said] : {std::pair(2, "reading the run state Restart resumes from failed (no reply)\r\n"),
                            std::pair(reading + 1, "reading the set value failed (no reply)\r\n")}) {
    base = hooked_.exchanges;
    hooked_.before = [&, lost](int k) {
      if (k == base + lost) sim_.InjectFault(sim::Fault::NoReply);
    };
    sim_.ClearRequests();
    view_.messages.clear();
    EXPECT_FALSE(run.PauseProfile());
    hooked_.before = nullptr;
    EXPECT_THAT(view_.messages,
                HasSubstr("ERROR: Pause stopped: " + std::string(said) + "Nothing was changed in the controller\r\n"));
    for (const auto& frame : sim_.Requests()) EXPECT_NE(frame[1], 0x10) << "nothing written";
    EXPECT_FALSE(run.LastAction().done || run.LastAction().setValueBefore || run.LastAction().modeAfter);
  }
  auto restartPoint = [this] {
    auto row = store_.ControllerConfig(1).value_or({}).value_or(store::ControllerConfigRow{});
    return std::tuple(row.runMode, row.segmentExecuting, row.segmentElapsedTime);
  };
  ASSERT_TRUE(store_.SaveRunState(1, 0, 0, 0));  // what the readings above stored: the pause stores its own
  ASSERT_TRUE(run.PauseProfile());
  EXPECT_EQ(restartPoint(), std::tuple(2, 2, 5));
  const RunActionResult paused = run.LastAction();
  EXPECT_EQ(std::tuple(paused.action, paused.address, paused.modeBefore, paused.modeAfter, paused.setValueAfter),
            std::tuple(RunAction::Pause, std::uint8_t{1}, std::optional(2), std::optional(0), std::optional(85)));
  EXPECT_THAT(view_.messages, HasSubstr("Profile paused: the controller holds the set point 85\r\n"));
  EXPECT_EQ(sim_.Unit(1).setValue, 85);
  EXPECT_EQ(sim_.Unit(1).runMode, 0);
  sim_.AdvanceTime(30min);
  console_->RunMonitor().ReadRunState();  // a monitor tick of the paused controller
  EXPECT_EQ(view_.fields[Field::SetPoint], "85");
  EXPECT_EQ(restartPoint(), std::tuple(2, 2, 5)) << "not replaced by the paused reading";
  EXPECT_FALSE(run.PauseProfile());
  EXPECT_THAT(view_.messages, HasSubstr("Profile already paused"));

  ASSERT_TRUE(run.RestartProfile());
  const sim::UnitState unit = sim_.Unit(1);
  EXPECT_TRUE(unit.running && unit.runMode == 2 && unit.currentStep == 2 && unit.steps[1].duration == 5);
  EXPECT_EQ(unit.profileSetPoint, 85);
  EXPECT_EQ(run.LastAction().action, RunAction::Restart) << "its jump is a step of the restart";
  EXPECT_EQ(std::pair(run.LastAction().jumpPoint, run.LastAction().modeAfter),
            std::pair(std::optional(std::pair(2, 5)), std::optional(2)));
  EXPECT_FALSE(run.RestartProfile());
  EXPECT_THAT(view_.messages, HasSubstr("Profile is already executing"));
}

TEST_F(RunControlTest, ACancelledStartOrSelectLeavesTheModeAndLimitsAlone) {
  sim_.EditUnit(1, [](sim::UnitState& u) { u.inputType = 1; });  // J, not the profile's K
  RunControl& run = Opened();
  console_->Log().Show(1);
  view_.confirmAnswers = {true, false};
  sim_.EditUnit(1, [](sim::UnitState& u) { u.programHighStep = 20; });
  EXPECT_FALSE(run.SelectRunProfile(1));
  EXPECT_EQ(view_.boxes.back().title, "Sensor Setting Mismatch");
  EXPECT_EQ(sim_.Unit(1).programHighStep, 20);

  sim_.EditUnit(1, [](sim::UnitState& u) {
    u.programHighStep = 8;
    u.runMode = 3;
  });
  ASSERT_TRUE(store_.SetStepModified(1, 3, 1));
  sim_.ClearRequests();
  view_.confirmAnswers = {false};
  EXPECT_FALSE(run.StartProfile());
  EXPECT_EQ(view_.programMode, 0);
  EXPECT_EQ(Modified(3), 1) << "nothing restored";
  EXPECT_EQ(Stored(), std::make_tuple(std::string("kiln.txt"), 1, 8));
  for (const Bytes& request : sim_.Requests()) EXPECT_EQ(request[1], request == Write(0x200D, 0, 1) ? 0x10 : 0x03);

  // Limits that cannot be read are a communication error, not a mismatch, and nothing is written.
  line_.SetTiming({std::chrono::milliseconds(20), std::chrono::milliseconds(20)});
  sim_.InjectFault(sim::Fault::NoReply, 1);
  sim_.ClearRequests();
  view_.messages.clear();
  EXPECT_FALSE(run.StartProfile());
  EXPECT_THAT(view_.messages, ::testing::HasSubstr(kCommsError));
  EXPECT_THAT(view_.messages, ::testing::Not(::testing::HasSubstr("Physical pointers")));
  EXPECT_EQ(sim_.Requests().size(), 1u) << "the one read of both limits only";
}

// Every write workflow reads back what it wrote. A controller that acknowledges a write and does
// not keep it fails the command, which says so, and what was learnt of its frames is forgotten.
TEST_F(RunControlTest, EveryWriteIsReadBackAndADifferenceFailsTheCommandAndForgetsTheFrames) {
  RunControl& run = Opened();
  console_->Log().Show(1);
  std::uint16_t lieAt = 0, lie = 0;  // what that register reads once the command has written
  hooked_.onRead = [&](std::uint16_t reg, std::uint16_t& value) {
    if (reg == lieAt && hooked_.writes > 0) value = lie;
  };
  Settings& settings = console_->ControllerSettings();
  const struct {
    const char* name;
    std::uint16_t reg, reads;
    std::function<bool()> command;
  } cases[] = {
      {"select", 0x200F, 9, [&] { return run.SelectRunProfile(1); }},
      {"start", 0x200D, 0, [&] { return run.StartProfile(); }},
      {"jump", Word(5, 3), 99, [&] { return run.JumpTo(5, 30); }},
      {"pause", 0x200D, 2, [&] { return console_->RunMonitor().ReadControllerRunMode(), run.PauseProfile(); }},
      {"mode", 0x200D, 1, [&] { return console_->RunMonitor().SetSelectedRunMode(3), run.SetRunMode(); }},
      {"limits", 0x200E, 3, [&] { return run.UploadProgramLimits("2", "8"); }},
      {"set value", 0x0000, 98, [&] { return settings.WriteSingleSetPoint("99"); }},
      {"settings", 0x1002, 9,
       [&] {
         return settings.WriteSettings({"F", "3", "4"});
       }},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(store_.SaveCapabilities({1, true, false, std::nullopt}));
    lieAt = c.reg, lie = c.reads, hooked_.writes = 0;
    view_.messages.clear();
    EXPECT_FALSE(c.command()) << c.name;
    EXPECT_GT(hooked_.writes, 0) << c.name;
    EXPECT_THAT(view_.messages, HasSubstr("Unit #1 did not keep what was written")) << c.name;
    EXPECT_THAT(view_.messages, Not(HasSubstr("Jump done executing"))) << c.name;
    EXPECT_EQ(store_.Capabilities(1).value_or({}).pairWrites, std::nullopt) << c.name << ": forgotten";
  }
}

TEST_F(RunControlTest, PanelsRefuseBadStepsAndSetTheMode) {
  RunControl& run = Opened();
  for (auto [low, high] : {std::pair{"0", "8"}, {"1", "65"}, {"2.5", "8"}, {"abc", "8"}, {"", "8"}, {"9", "8"}})
    EXPECT_FALSE(run.UploadProgramLimits(low, high)) << low << " " << high;
  EXPECT_THAT(view_.messages, HasSubstr("ERROR: Low step must not be above the high step\r\n"));
  EXPECT_TRUE(sim_.Requests().empty());
  ASSERT_TRUE(run.UploadProgramLimits("2", "9"));
  EXPECT_EQ(sim_.Unit(1).programLowStep + sim_.Unit(1).programHighStep, 2 + 9);

  console_->RunMonitor().SetSelectedRunMode(3);
  ASSERT_TRUE(run.SetRunMode());
  EXPECT_EQ(sim_.Unit(1).runMode, 3);
  EXPECT_THAT(view_.messages, HasSubstr("Controller run mode set"));
  EXPECT_EQ(view_.LastLed(), Led::Idle);
}

// The step a jump leaves, as its load action names it before the first write, is one a reading of
// the running program found: a program started and jumped at once, before any reading, or a
// reading of a program on other steps, names none rather than one the controller did not run.
TEST_F(RunControlTest, AJumpNamesOnlyAStepReadOfTheRunningProgramAsTheStepItLeaves) {
  RunControl& run = Opened();
  struct : controller::RunActionObserver {
    std::vector<std::optional<int>> told;
    void Begins(const RunActionResult& intended) override { told.push_back(intended.stepBefore); }
    void Ended(const RunActionResult&) override {}
  } actions;
  run.Observe(&actions);
  console_->Log().Show(1);
  ASSERT_TRUE(run.SelectRunProfile(1));
  ASSERT_TRUE(run.StartProfile());
  ASSERT_TRUE(run.JumpToSegmentPoint("5", "30")) << view_.messages;
  ASSERT_TRUE(store_.SaveRunState(1, 2, 40, 3));  // steps 40 on: another profile's run
  ASSERT_TRUE(run.JumpToSegmentPoint("7", "20")) << view_.messages;
  console_->RunMonitor().ReadRunState();
  ASSERT_TRUE(run.JumpToSegmentPoint("5", "30")) << view_.messages;
  EXPECT_EQ(actions.told, (std::vector<std::optional<int>>{std::nullopt, std::nullopt, 7}));

  // Started again, the program is not where a reading of its earlier run found it: that reading
  // gives neither the step a jump leaves nor a point to restart from.
  ASSERT_TRUE(run.PauseProfile()) << view_.messages;  // stores step 5 as the restart point
  ASSERT_TRUE(run.StartProfile()) << view_.messages;
  ASSERT_TRUE(run.JumpToSegmentPoint("7", "20")) << view_.messages;
  EXPECT_EQ(actions.told.back(), std::nullopt);
  console_->RunMonitor().SetSelectedRunMode(0);
  ASSERT_TRUE(run.SetRunMode());
  sim_.ClearRequests();
  view_.messages.clear();
  EXPECT_FALSE(run.RestartProfile());
  EXPECT_THAT(view_.messages, HasSubstr("No Restart configuration data"));
  EXPECT_TRUE(sim_.Requests().empty());
  run.Observe(nullptr);
}

}  // namespace
}  // namespace tarvel::console
