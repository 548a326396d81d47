// The controller model as a master sees it through its registers: program execution,
// run modes, the process, and the register map's encodings.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sim/controller.h"

namespace tarvel::sim {
namespace {

class Controller : public ::testing::Test {
 protected:
  void SetStep(int n, std::int16_t duration, std::int16_t temperature, std::int16_t pid = 1) {
    unit.steps[static_cast<std::size_t>(n - 1)] = {pid, duration, temperature};
  }
  void Write(std::uint16_t reg, std::uint16_t value, bool autoStart = false) {
    const auto refused = WriteRegister(unit, reg, value, autoStart);
    ASSERT_FALSE(refused.has_value()) << "register " << reg << " refused " << value;
  }
  std::uint16_t Read(std::uint16_t reg) const { return ReadRegister(unit, reg).value(); }
  int Step() const { return Read(reg::kCurrentStep); }
  int StepTime() const { return Read(reg::kStepTime); }
  int SetPoint() const { return static_cast<std::int16_t>(Read(reg::kProfileSetPoint)); }
  int Relay1() const { return Read(reg::kRelayStates) >> 8; }
  int Relay2() const { return Read(reg::kRelayStates) & 0xFF; }

  // The steps seen executing, one look per simulated second.
  std::vector<int> StepsSeen(int seconds) {
    std::vector<int> seen{Step()};
    for (int s = 0; s < seconds; ++s) {
      Advance(unit, 1.0);
      if (Step() != seen.back()) seen.push_back(Step());
    }
    return seen;
  }

  // Ramp 100 -> 200 over 100 s, ramp 200 -> 150 over 50 s, end at 150.
  void LoadThreeStepProgram() {
    SetStep(1, 100, 100);
    SetStep(2, 50, 200);
    SetStep(3, 0, 150);
    Write(reg::kProgramLowStep, 1);
    Write(reg::kProgramHighStep, 3);
  }

  UnitState unit;
};

TEST_F(Controller, RampsInterpolateBetweenStepTemperaturesAndAZeroDurationEndsTheProgram) {
  LoadThreeStepProgram();
  Write(reg::kRunMode, 1);
  FrontPanelStart(unit);
  EXPECT_EQ(Step(), 1);
  EXPECT_EQ(SetPoint(), 100);

  Advance(unit, 50.0);
  EXPECT_EQ(Step(), 1);
  EXPECT_EQ(StepTime(), 50);
  EXPECT_EQ(SetPoint(), 150);

  Advance(unit, 75.0);  // 25 s into step 2: 200 -> 150 a quarter of the way
  EXPECT_EQ(Step(), 2);
  EXPECT_EQ(StepTime(), 25);
  EXPECT_EQ(SetPoint(), 175);
  EXPECT_TRUE(unit.running);

  Advance(unit, 30.0);
  EXPECT_EQ(Step(), 3);
  EXPECT_FALSE(unit.running);
  EXPECT_EQ(SetPoint(), 150);
  Advance(unit, 1000.0);  // an ended program holds its last set point
  EXPECT_EQ(Step(), 3);
  EXPECT_EQ(SetPoint(), 150);
  EXPECT_EQ(Read(reg::kRunMode), 1);
}

TEST_F(Controller, MinuteModesCountStepTimeInWholeMinutes) {
  LoadThreeStepProgram();
  Write(reg::kRunMode, 2);
  FrontPanelStart(unit);
  Advance(unit, 59.0);
  EXPECT_EQ(Step(), 1);
  EXPECT_EQ(StepTime(), 0);
  EXPECT_EQ(SetPoint(), 101);  // 100 + 100 x (59/60) / 100
  Advance(unit, 61.0 * 60 - 59.0);
  EXPECT_EQ(Step(), 1);
  EXPECT_EQ(StepTime(), 61);
  Advance(unit, 40.0 * 60);
  EXPECT_EQ(Step(), 2);
  EXPECT_EQ(StepTime(), 1);
}

TEST_F(Controller, JumpsAndEventStepsSteerTheProgramAndSwitchRelays) {
  SetStep(1, 10, 100);
  SetStep(2, kRelay1On, 200);
  SetStep(3, 10, 200);
  SetStep(4, -6, 0);    // jumps over step 5
  SetStep(5, 10, 300);  // ...whose temperature is still where step 3 ramps to
  SetStep(6, kRelay2On, 300);
  SetStep(7, 10, 300);
  SetStep(8, kRelay1Off, 250);
  SetStep(9, 0, 250);
  Write(reg::kRunMode, 1);
  FrontPanelStart(unit);

  Advance(unit, 5.0);
  EXPECT_EQ(SetPoint(), 150);  // step 1 ramps to step 3's temperature, passing the event step
  EXPECT_EQ(Relay1(), 0);
  Advance(unit, 10.0);
  EXPECT_EQ(Step(), 3);
  EXPECT_EQ(Relay1(), 1);
  EXPECT_EQ(SetPoint(), 250);
  Advance(unit, 10.0);
  EXPECT_EQ(Step(), 7);
  EXPECT_EQ(Relay2(), 1);
  EXPECT_EQ(SetPoint(), 275);
  Advance(unit, 5.0);
  EXPECT_EQ(Step(), 9);
  EXPECT_EQ(Relay1(), 0);
  EXPECT_EQ(Relay2(), 1);
  EXPECT_FALSE(unit.running);
  EXPECT_EQ(SetPoint(), 250);

  unit = UnitState{};
  SetStep(1, 2, 100);
  SetStep(2, kRelay1On, 100);
  SetStep(3, 2, 100);
  SetStep(4, -1, 0);  // a loop
  Write(reg::kRunMode, 1);
  FrontPanelStart(unit);
  EXPECT_EQ(StepsSeen(9), (std::vector<int>{1, 3, 1, 3, 1}));
  EXPECT_TRUE(unit.running);
}

TEST_F(Controller, RunsOnlyBetweenItsProgramLimits) {
  for (int n = 1; n <= 8; ++n) SetStep(n, 10, static_cast<std::int16_t>(100 * n));
  Write(reg::kProgramLowStep, 3);
  Write(reg::kProgramHighStep, 4);
  Write(reg::kRunMode, 1);
  FrontPanelStart(unit);
  EXPECT_EQ(Step(), 3);
  EXPECT_EQ(SetPoint(), 300);
  EXPECT_EQ(StepsSeen(100), (std::vector<int>{3, 4}));
  EXPECT_FALSE(unit.running);
  EXPECT_EQ(SetPoint(), 500);  // the last ramp ends at the next step's temperature and holds it

  // Memory ends at step 64: a program that runs off it ends there.
  unit = UnitState{};
  SetStep(64, 10, 100);
  Write(reg::kProgramLowStep, 64);
  Write(reg::kRunMode, 1);
  FrontPanelStart(unit);
  Advance(unit, 20.0);
  EXPECT_EQ(Step(), 64);
  EXPECT_FALSE(unit.running);
  EXPECT_EQ(SetPoint(), 100);
}

TEST_F(Controller, OnlyTheFrontPanelStartsAProgramUnlessAutoStartIsOn) {
  LoadThreeStepProgram();
  Write(reg::kRunMode, 1);
  Advance(unit, 30.0);
  EXPECT_FALSE(unit.running);
  EXPECT_EQ(StepTime(), 0);

  // The start code entered in mode 0 arms the start: the console writes the mode afterwards.
  Write(reg::kRunMode, 0);
  FrontPanelStart(unit);
  EXPECT_FALSE(unit.running);
  Write(reg::kProgramLowStep, 2);
  Write(reg::kRunMode, 2);
  EXPECT_TRUE(unit.running);
  EXPECT_EQ(Step(), 2);

  UnitState demo;
  demo.steps = unit.steps;
  ASSERT_FALSE(WriteRegister(demo, reg::kRunMode, 3, /*autoStart=*/true).has_value());
  EXPECT_TRUE(demo.running);
  EXPECT_EQ(demo.currentStep, 1);
}

TEST_F(Controller, ModeZeroStopsTheProgramWhereItStandsAndARampSoakModeResumesIt) {
  LoadThreeStepProgram();
  unit.setValue = 80;
  Write(reg::kRunMode, 1);
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

  // A running program is not restarted by writing its mode again.
  Write(reg::kRunMode, 1, /*autoStart=*/true);
  EXPECT_EQ(Step(), 2);
}

// The console's jump sequence: the executing step becomes a jump to step 64, step 64 a
// timed step and then a jump to the target, toggling the mode so that each change takes.
TEST_F(Controller, TheConsolesJumpSequenceLandsInTheShortenedTargetStep) {
  for (int n = 1; n <= 6; ++n) SetStep(n, 120, static_cast<std::int16_t>(100 + 10 * n));
  SetStep(7, 0, 250);
  Write(reg::kProgramHighStep, 7);
  Write(reg::kRunMode, 1);
  FrontPanelStart(unit);
  Advance(unit, 130.0);
  ASSERT_EQ(Step(), 2);
  const int current = Step();
  const auto at = [](int step, int word) { return static_cast<std::uint16_t>(reg::kProgramFirst + 3 * (step - 1) + word - 1); };

  Write(reg::kRunMode, 1);
  Write(reg::kProgramLowStep, 1);
  Write(reg::kProgramHighStep, 64);
  Write(reg::kRunMode, 0);
  Write(at(current, 2), static_cast<std::uint16_t>(-64));
  Write(at(64, 2), 1000);
  Write(reg::kRunMode, 1);
  Write(reg::kRunMode, 0);
  EXPECT_EQ(Step(), 64);
  Write(at(64, 2), static_cast<std::uint16_t>(-5));
  Write(at(5, 2), 90);   // segment 5 from 30 s in: 120 - 30
  Write(at(5, 3), 152);  // 150 + (160 - 150) x 30 / 120 = 152.5, to the even neighbour
  Write(reg::kRunMode, 1);
  Write(reg::kRunMode, 1);
  Write(at(current, 2), 120);
  Write(reg::kProgramLowStep, 1);
  Write(reg::kProgramHighStep, 7);
  Write(reg::kRunMode, 1);

  EXPECT_TRUE(unit.running);
  EXPECT_EQ(Step(), 5);
  EXPECT_EQ(StepTime(), 0);
  EXPECT_EQ(SetPoint(), 152);
  Advance(unit, 90.0);
  EXPECT_EQ(Step(), 6);
  EXPECT_EQ(SetPoint(), 160);
}

TEST_F(Controller, ProgramsThatLoopWithoutTimeCannotHangTheSimulator) {
  SetStep(1, -2, 100);
  SetStep(2, -1, 100);
  Write(reg::kRunMode, 1);
  FrontPanelStart(unit);
  Advance(unit, 3600.0);
  EXPECT_TRUE(unit.running);
  EXPECT_TRUE(Step() == 1 || Step() == 2);

  // A one-second loop run for a very long time.
  unit = UnitState{};
  SetStep(1, 1, 100);
  SetStep(2, -1, 0);
  Write(reg::kRunMode, 1);
  FrontPanelStart(unit);
  Advance(unit, 1e9);
  EXPECT_TRUE(unit.running);
}

TEST_F(Controller, UnknownDurationCodesEndTheProgram) {
  SetStep(1, 10, 100);
  SetStep(2, -500, 0);
  SetStep(3, 10, 300);
  Write(reg::kRunMode, 1);
  FrontPanelStart(unit);
  Advance(unit, 15.0);
  EXPECT_EQ(Step(), 2);
  EXPECT_FALSE(unit.running);
  EXPECT_EQ(SetPoint(), 300);  // where step 1's ramp ended
}

TEST_F(Controller, TheProcessFollowsTheActiveSetPointWithAFirstOrderLag) {
  unit.setValue = 200;
  unit.processTemperature = 70;
  Advance(unit, kProcessTimeConstant);
  EXPECT_NEAR(unit.processTemperature, 200 - 130 * std::exp(-1.0), 0.01);
  EXPECT_EQ(static_cast<std::int16_t>(Read(reg::kProcessValue)), 152);
  EXPECT_TRUE(unit.heaterOn);
  Advance(unit, 20 * kProcessTimeConstant);
  EXPECT_EQ(static_cast<std::int16_t>(Read(reg::kProcessValue)), 200);
  EXPECT_FALSE(unit.heaterOn);

  // Running, it follows the program instead; cooling needs no heater.
  LoadThreeStepProgram();
  Write(reg::kRunMode, 1);
  FrontPanelStart(unit);
  Advance(unit, 10 * kProcessTimeConstant);
  EXPECT_NEAR(unit.processTemperature, ActiveSetPoint(unit), 15.0);
  EXPECT_LT(unit.processTemperature, 200);
  EXPECT_FALSE(unit.heaterOn);
}

TEST_F(Controller, PvProgressionHoldsTheStepClockWhileTheProcessLagsFarBehind) {
  SetStep(1, 60, 300);
  SetStep(2, 0, 300);
  unit.processTemperature = 70;
  Write(reg::kRunMode, 3);
  FrontPanelStart(unit);
  Advance(unit, 30.0);
  EXPECT_EQ(StepTime(), 0);  // 300 against a process still near 70
  Advance(unit, 300.0);
  EXPECT_EQ(Step(), 2);  // caught up, then ran its 60 s
}

TEST_F(Controller, RefusesValuesAndRegistersItDoesNotHave) {
  Write(0x4004, static_cast<std::uint16_t>(-1011));  // step 2, word 2
  EXPECT_EQ(unit.steps[1].duration, -1011);
  EXPECT_EQ(WriteRegister(unit, reg::kRunMode, 5, false), ExceptionCode::IllegalDataValue);
  EXPECT_EQ(WriteRegister(unit, reg::kProgramHighStep, 65, false), ExceptionCode::IllegalDataValue);
  EXPECT_EQ(WriteRegister(unit, reg::kProgramLowStep, 0, false), ExceptionCode::IllegalDataValue);
  EXPECT_EQ(WriteRegister(unit, reg::kAlarm1Type, 0x0101, false), ExceptionCode::IllegalDataValue);
  EXPECT_EQ(WriteRegister(unit, reg::kProcessValue, 5, false), ExceptionCode::IllegalDataAddress);
  EXPECT_EQ(WriteRegister(unit, 0x40C0, 5, false), ExceptionCode::IllegalDataAddress);
  EXPECT_FALSE(ReadRegister(unit, 0x0001).has_value());
  EXPECT_FALSE(ReadRegister(unit, 0x40C0).has_value());
}

TEST_F(Controller, RequestsReadTwoRegistersAndWritesTakeOnlyTheFirst) {
  unit.programLowStep = 5;
  unit.programHighStep = 9;
  // A read of R returns R and R + 1.
  Request read{1, FunctionCode::ReadHoldingRegisters, reg::kProgramLowStep, 2, {}};
  EXPECT_EQ(HandleRequest(unit, read, false).reply, (std::vector<std::uint8_t>{0x01, 0x03, 0x04, 0x00, 0x05, 0x00, 0x09,
                                                                                0x2A, 0x34}));
  // The 0x0000 the master sends for R + 1 must not clear the high step.
  Request write{1, FunctionCode::WriteMultipleRegisters, reg::kProgramLowStep, 2, {3, 0}};
  HandleRequest(unit, write, false);
  EXPECT_EQ(unit.programLowStep, 3);
  EXPECT_EQ(unit.programHighStep, 9);

  Request coil{1, FunctionCode::WriteSingleCoil, reg::kAutoTuneCoil, 1, {0xFF00}};
  EXPECT_EQ(HandleRequest(unit, coil, false).reply, EncodeCoilReply(1, 1, 0xFF00));
  EXPECT_TRUE(unit.autoTune);
  coil.values = {0x1234};
  EXPECT_EQ(HandleRequest(unit, coil, false).reply, EncodeExceptionReply(1, 0x05, ExceptionCode::IllegalDataValue));
  EXPECT_TRUE(unit.autoTune);
  coil.start = 2;
  coil.values = {0x0000};
  EXPECT_EQ(HandleRequest(unit, coil, false).reply, EncodeExceptionReply(1, 0x05, ExceptionCode::IllegalDataAddress));

  // An address change is answered from the old address and only announced.
  Request move{1, FunctionCode::WriteMultipleRegisters, reg::kUnitAddress, 2, {7, 0}};
  const Handled handled = HandleRequest(unit, move, false);
  EXPECT_EQ(handled.reply, EncodeWriteReply(1, reg::kUnitAddress, 2));
  EXPECT_EQ(handled.newAddress, 7);
  EXPECT_EQ(unit.address, 1);
  move.values = {0, 0};
  EXPECT_EQ(HandleRequest(unit, move, false).reply, EncodeExceptionReply(1, 0x10, ExceptionCode::IllegalDataValue));
}

}  // namespace
}  // namespace tarvel::sim
