// The controller model where a program run through the line does not reach (that run, with
// its steps, jumps and events, is link/program_run_test.cpp): minute and PV modes, where a
// program ends, holding and resuming, runaway loops, the process, refused values.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "sim/controller.h"

namespace tarvel::sim {
namespace {

class Controller : public ::testing::Test {
 protected:
  void SetStep(int n, std::int16_t duration, std::int16_t temperature) {
    unit.steps[static_cast<std::size_t>(n - 1)] = {1, duration, temperature};
  }
  void Write(std::uint16_t reg, std::uint16_t value, bool autoStart = false) {
    ASSERT_FALSE(WriteRegister(unit, reg, value, autoStart).has_value()) << "register " << reg << " refused " << value;
  }
  std::uint16_t Read(std::uint16_t reg) const { return ReadRegister(unit, reg).value(); }
  int Step() const { return Read(reg::kCurrentStep); }
  int StepTime() const { return Read(reg::kStepTime); }
  int SetPoint() const { return static_cast<std::int16_t>(Read(reg::kProfileSetPoint)); }
  void Run(std::uint16_t mode = 1) {
    Write(reg::kRunMode, mode);
    FrontPanelStart(unit);
  }
  // Ramp 100 -> 200 over 100 units, ramp 200 -> 150 over 50 units, end at 150.
  void LoadThreeStepProgram() {
    SetStep(1, 100, 100);
    SetStep(2, 50, 200);
    SetStep(3, 0, 150);
  }

  UnitState unit;
};

TEST_F(Controller, TheProcessLagsMinuteModesCountWholeMinutesAndPvModesWaitForTheProcess) {
  unit.setValue = 200;
  Advance(unit, kProcessTimeConstant);
  EXPECT_EQ(static_cast<std::int16_t>(Read(reg::kProcessValue)), 152);  // 200 - 130 / e
  Advance(unit, 20 * kProcessTimeConstant);
  EXPECT_EQ(static_cast<std::int16_t>(Read(reg::kProcessValue)), 200);

  unit = UnitState{};
  LoadThreeStepProgram();
  Run(2);
  Advance(unit, 59.0);
  EXPECT_EQ(StepTime(), 0);
  EXPECT_EQ(SetPoint(), 101);  // 100 + 100 x (59/60) / 100
  Advance(unit, 61.0 * 60 - 59.0);
  EXPECT_EQ(Step(), 1);
  EXPECT_EQ(StepTime(), 61);

  unit = UnitState{};
  SetStep(1, 60, 300);
  SetStep(2, 0, 300);
  Run(3);
  Advance(unit, 30.0);
  EXPECT_EQ(StepTime(), 0);  // 300 against a process still near 70
  Advance(unit, 300.0);
  EXPECT_EQ(Step(), 2);  // caught up, then ran its 60 s
}

TEST_F(Controller, AProgramEndsAtItsHighStepAtTheEndOfMemoryAndAtAnUnknownCode) {
  struct Case {
    std::vector<std::array<std::int16_t, 3>> steps;  // step, duration, temperature
    std::uint16_t low, high;
    int endStep, setPoint;  // held once ended
  } cases[] = {
      {{{3, 10, 300}, {4, 10, 400}, {5, 10, 500}}, 3, 4, 4, 500},   // the last ramp ends at step 5's temperature
      {{{64, 10, 100}}, 64, 64, 64, 100},                           // memory ends at step 64
      {{{1, 10, 100}, {2, -500, 0}, {3, 10, 300}}, 1, 64, 2, 300},  // a code the controller does not know
  };
  for (const Case& c : cases) {
    unit = UnitState{};
    for (auto [n, duration, temperature] : c.steps) SetStep(n, duration, temperature);
    Write(reg::kProgramLowStep, c.low);
    Write(reg::kProgramHighStep, c.high);
    Run();
    Advance(unit, 100.0);
    EXPECT_FALSE(unit.running) << c.endStep;
    EXPECT_EQ(Step(), c.endStep);
    EXPECT_EQ(SetPoint(), c.setPoint) << c.endStep;
  }
}

// The console jumps by holding the program in mode 0, rewriting the executing step into a
// jump and resuming: the program must land at the start of the target step.
TEST_F(Controller, ModeZeroHoldsTheProgramAndARampSoakModeResumesItFromTheStepAsRewritten) {
  LoadThreeStepProgram();
  SetStep(3, 100, 150);
  SetStep(4, 0, 250);
  unit.setValue = 80;
  Write(reg::kRunMode, 1);
  Advance(unit, 30.0);
  EXPECT_FALSE(unit.running) << "a mode alone starts nothing";
  FrontPanelStart(unit);
  Advance(unit, 40.0);
  Write(reg::kRunMode, 0);
  EXPECT_FALSE(unit.running);
  Advance(unit, 600.0);
  EXPECT_EQ(Step(), 1);
  EXPECT_EQ(StepTime(), 40);
  EXPECT_EQ(SetPoint(), 140);
  EXPECT_EQ(static_cast<std::int16_t>(Read(reg::kProcessValue)), 80);  // mode 0 holds SV

  Write(reg::kRunMode, 1);
  Advance(unit, 70.0);
  EXPECT_EQ(Step(), 2);
  EXPECT_EQ(StepTime(), 10);
  Write(reg::kRunMode, 1, /*autoStart=*/true);  // writing the mode again does not restart
  EXPECT_EQ(Step(), 2);
  UnitState demo;
  demo.steps = unit.steps;
  ASSERT_FALSE(WriteRegister(demo, reg::kRunMode, 3, /*autoStart=*/true).has_value());
  EXPECT_TRUE(demo.running) << "auto-start, for demos";

  Write(reg::kRunMode, 0);
  Write(reg::kProgramFirst + 3 * 1 + 1, static_cast<std::uint16_t>(-3));  // step 2 becomes "jump to 3"
  Write(reg::kProgramFirst + 3 * 2 + 1, 60);                              // step 3 shortened to 60
  Write(reg::kRunMode, 1);
  EXPECT_TRUE(unit.running);
  EXPECT_EQ(Step(), 3);
  EXPECT_EQ(StepTime(), 0);
  EXPECT_EQ(SetPoint(), 150);
  Advance(unit, 30.0);
  EXPECT_EQ(SetPoint(), 200);  // halfway from 150 to step 4's 250
}

TEST_F(Controller, ProgramsThatLoopWithoutTimeCannotHangTheSimulator) {
  SetStep(1, -2, 100);
  SetStep(2, -1, 100);
  Run();
  Advance(unit, 3600.0);
  EXPECT_TRUE(unit.running);
  EXPECT_TRUE(Step() == 1 || Step() == 2);

  unit = UnitState{};  // a one-second loop run for a very long time
  SetStep(1, 1, 100);
  SetStep(2, -1, 0);
  Run();
  Advance(unit, 1e9);
  EXPECT_TRUE(unit.running);
}

TEST_F(Controller, RefusesValuesAndRegistersItDoesNotHave) {
  for (auto [reg, value] : {std::pair{reg::kRunMode, 5},
                            {reg::kProgramHighStep, 65},
                            {reg::kProgramLowStep, 0},
                            {reg::kAlarm1Type, 0x0101},
                            {reg::kUnitAddress, 0},
                            {reg::kUnitAddress, 248}})
    EXPECT_EQ(WriteRegister(unit, reg, static_cast<std::uint16_t>(value), false), ExceptionCode::IllegalDataValue)
        << reg << " " << value;
  EXPECT_EQ(WriteRegister(unit, reg::kProcessValue, 5, false), ExceptionCode::IllegalDataAddress);
  EXPECT_EQ(WriteRegister(unit, 0x40C0, 5, false), ExceptionCode::IllegalDataAddress);
  EXPECT_FALSE(ReadRegister(unit, 0x40C0).has_value());

  Request coil{1, FunctionCode::WriteSingleCoil, reg::kAutoTuneCoil, 1, {0x1234}};
  EXPECT_EQ(HandleRequest(unit, coil, false, WriteModel::Both).reply,
            EncodeExceptionReply(1, 0x05, ExceptionCode::IllegalDataValue));
  EXPECT_FALSE(unit.autoTune);
}

Request WriteTwo(std::uint16_t reg, std::uint16_t value, std::uint16_t next) {
  return {1, FunctionCode::WriteMultipleRegisters, reg, 2, {value, next}};
}

TEST_F(Controller, TheBothModelStoresTheSecondRegisterAndRefusesTheWholeWriteForEither) {
  SetStep(1, 60, 100);
  unit.temperatureScale = 1;
  const RegisterDump before = Registers(unit);
  // The 0x0000 a master sends for R + 1 clears the duration beside the PID set...
  HandleRequest(unit, WriteTwo(reg::kProgramFirst, 3, 0), false, WriteModel::Both);
  EXPECT_EQ(unit.steps[0].duration, 0);
  // ... and the scale beside the high step; the spare word beside the set value takes its value.
  HandleRequest(unit, WriteTwo(reg::kProgramHighStep, 9, 0), false, WriteModel::Both);
  HandleRequest(unit, WriteTwo(reg::kSetValue, 150, 0x1234), false, WriteModel::Both);
  EXPECT_EQ(ChangedRegisters(before, Registers(unit)),
            (std::vector<std::uint16_t>{0x0000, 0x0001, 0x200F, 0x2010, 0x4000, 0x4001}));
  EXPECT_EQ(unit.temperatureScale, 0);

  // A value the controller refuses in R + 1 (low step 0 beside the run mode) refuses R as well.
  const RegisterDump held = Registers(unit);
  EXPECT_EQ(HandleRequest(unit, WriteTwo(reg::kRunMode, 2, 0), false, WriteModel::Both).reply,
            EncodeExceptionReply(1, 0x10, ExceptionCode::IllegalDataValue));
  EXPECT_EQ(Registers(unit), held);
  // R + 1 is the unit's own address: another address is a change the line applies after the reply.
  EXPECT_FALSE(HandleRequest(unit, WriteTwo(reg::kTemperatureScale, 1, 1), false, WriteModel::Both).newAddress);
  EXPECT_EQ(HandleRequest(unit, WriteTwo(reg::kTemperatureScale, 1, 7), false, WriteModel::Both).newAddress, 7);

  // The first model keeps the first register only.
  const RegisterDump first = Registers(unit);
  HandleRequest(unit, WriteTwo(reg::kProgramHighStep, 8, 0), false, WriteModel::First);
  EXPECT_EQ(ChangedRegisters(first, Registers(unit)), (std::vector<std::uint16_t>{0x200F}));
}

}  // namespace
}  // namespace tarvel::sim
