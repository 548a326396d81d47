// Every command that writes to a controller changes only what it means to change, on a
// controller that stores both registers of a write and on one that keeps the first only:
// a full register dump before and after each command differs in its own registers alone.
#include <gmock/gmock.h>

#include <set>

#include "sim/controller.h"
#include "support/console_fixture.h"
#include "support/profiles.h"

namespace tarvel::console {
namespace {

using ::testing::HasSubstr;
using Registers = std::set<std::uint16_t>;

std::uint16_t Word(int step, int word) { return static_cast<std::uint16_t>(0x4000 + 3 * (step - 1) + word - 1); }

Registers StepWords(int first, int last, std::initializer_list<int> words = {1, 2, 3}) {
  Registers registers;
  for (int step = first; step <= last; ++step)
    for (int word : words) registers.insert(Word(step, word));
  return registers;
}

Registers Join(Registers a, const Registers& b) {
  a.insert(b.begin(), b.end());
  return a;
}

class Neighbours : public ConsoleFixture, public ::testing::WithParamInterface<sim::WriteModel> {
 protected:
  Neighbours() : ConsoleFixture({1}, {true, true}, GetParam()) {
    Map(1, 1, "Kiln");
    // A controller whose every register holds a value of its own, so no change goes unseen.
    sim_.EditUnit(1, [](sim::UnitState& u) {
      for (int s = 1; s <= 64; ++s)
        u.steps[s - 1] = {static_cast<std::int16_t>(2 + s % 3), static_cast<std::int16_t>(s <= 9 ? 10 + s : 0),
                          static_cast<std::int16_t>(100 + s)};
      u.steps[9] = {1, 0, 110};  // the program 3..9 ends in step 10
      u.spareWords = {{0x0001, 0x1111}, {0x1001, 0x2222}, {0x1003, 0x3333}, {0x2012, 0x4444}, {0x40C0, 0x5555}};
      u.alarm1Type = 3;
      u.alarm2Type = 4;
      u.programLowStep = 1;
      u.programHighStep = 64;
    });
    std::vector<store::MemoryRow> rows;
    for (const auto& step : sim_.Unit(1).steps)
      rows.push_back({1, static_cast<int>(rows.size()) + 1, step.duration, step.temperature, step.pidSet, 0});
    EXPECT_TRUE(store_.WriteMemorySteps(1, rows));
    EXPECT_TRUE(store_.WriteLogEntry({1, "kiln.txt", 3, 9, "K", "F", "M", "SV"}));
    EXPECT_TRUE(testing::WriteCureProfile(folder_.Profiles() / "cure.txt"));
  }

  // Runs command, which must succeed and change no register but those it may change.
  void Check(const std::string& what, const std::function<bool()>& command, const Registers& mayChange) {
    const auto before = sim_.Registers(1);
    view_.messages.clear();
    EXPECT_TRUE(command()) << what << ":\n" << view_.messages;
    for (std::uint16_t reg : sim::ChangedRegisters(before, sim_.Registers(1)))
      EXPECT_TRUE(mayChange.contains(reg)) << what << " changed register 0x" << std::hex << reg;
  }

  Console& Opened() {
    Console& console = Started();
    console.RunControls().SetFrontPanelStart([this](std::uint8_t address) { sim_.FrontPanelStart(address); });
    return console;
  }
};

TEST_P(Neighbours, ProgrammingWritesOnlyTheStepsOfItsRange) {
  Console& console = Opened();
  const Registers upload = StepWords(20, 22);
  Check(
      "upload at 20",
      [&] {
        EXPECT_TRUE(console.Program().OpenProfile(folder_.Profiles() / "cure.txt"));
        console.Program().SetStartStepText("20");
        console.Program().BuildProgram();
        return console.ProfileUpload().Run({"cure.txt", "20", "SV"}).logged;
      },
      upload);
  EXPECT_EQ(sim_.Unit(1).steps[22].pidSet, 2 + 23 % 3) << "the step after the range keeps its PID set";
  Check(
      "upload at 62, up to the last step",
      [&] {
        console.Program().SetStartStepText("62");
        console.Program().BuildProgram();
        return console.ProfileUpload().Run({"cure.txt", "62", "SV"}).logged;
      },
      Join(StepWords(62, 64), upload));
  EXPECT_EQ(sim_.Unit(1).spareWords.at(0x40C0), 0x5555);
  Check(
      "clear 20..22", [&] { return console.Memory().ClearProgramRange(20, 22); }, upload);
  EXPECT_EQ(sim_.Unit(1).steps[22].pidSet, 2 + 23 % 3);
}

TEST_P(Neighbours, RunControlWritesOnlyModeLimitsSetValueAndTheStepsAJumpBorrows) {
  Console& console = Opened();
  RunControl& run = console.RunControls();
  const Registers limits{0x200E, 0x200F};
  console.Log().Show(1);
  Check(
      "select", [&] { return run.SelectRunProfile(1); }, limits);
  EXPECT_EQ(sim_.Unit(1).programLowStep + sim_.Unit(1).programHighStep, 3 + 9);
  EXPECT_EQ(sim_.Unit(1).temperatureScale, 1) << "still Fahrenheit";
  Check(
      "limits panel", [&] { return run.UploadProgramLimits("4", "8"); }, limits);
  Check(
      "limits panel back", [&] { return run.UploadProgramLimits("3", "9"); }, limits);

  Check("start", [&] { return run.StartProfile(); }, {0x200D});
  EXPECT_TRUE(sim_.Unit(1).running);
  sim_.AdvanceTime(std::chrono::minutes(20));  // in step 4
  console.RunMonitor().ReadRunState();
  // A jump borrows the duration and temperature words of steps (the executing one, the
  // target, step 64) and the limits and run mode; never a PID set, the scale or a spare word.
  const Registers jump = Join(Join(StepWords(1, 64, {2, 3}), limits), {0x200D});
  Check(
      "jump", [&] { return run.JumpToSegmentPoint("6", "5"); }, jump);
  EXPECT_EQ(sim_.Unit(1).currentStep, 6);
  console.RunMonitor().ReadControllerRunMode();
  Check("pause", [&] { return run.PauseProfile(); }, {0x0000, 0x200D});
  console.RunMonitor().ReadRunState();
  Check(
      "restart", [&] { return run.RestartProfile(); }, jump);
  console.RunMonitor().SetSelectedRunMode(0);
  Check("set mode", [&] { return run.SetRunMode(); }, {0x200D});
  EXPECT_EQ(sim_.Unit(1).runMode, 0);
}

TEST_P(Neighbours, SettingsSetValueAndAddressChangeWriteOnlyTheirRegisters) {
  Console& console = Opened();
  Check("settings",
        [&] {
          console.ControllerSettings().WriteSettings({"C", "5", "6"});
          return view_.LastLed() == Led::Idle;
        },
        {0x2010, 0x1000, 0x1002});
  EXPECT_EQ(sim_.Unit(1).temperatureScale + sim_.Unit(1).alarm1Type + sim_.Unit(1).alarm2Type, 0 + 5 + 6);
  Check("set value",
        [&] {
          console.ControllerSettings().WriteSingleSetPoint("123");
          return sim_.Unit(1).setValue == 123;
        },
        {0x0000});
  link::CommandSet commands(line_);
  ASSERT_EQ(commands.WriteUnitAddress(1, 9), link::Outcome::Ok);
  ASSERT_TRUE(commands.ReadRunMode(9).ok());
  EXPECT_EQ(sim_.Unit(9).spareWords,
            (std::map<std::uint16_t, std::uint16_t>{
                {0x0001, 0x1111}, {0x1001, 0x2222}, {0x1003, 0x3333}, {0x2012, 0x4444}, {0x40C0, 0x5555}}));
}

INSTANTIATE_TEST_SUITE_P(WriteModels, Neighbours, ::testing::Values(sim::WriteModel::Both, sim::WriteModel::First),
                         [](const auto& model) { return model.param == sim::WriteModel::Both ? "Both" : "First"; });

}  // namespace
}  // namespace tarvel::console
