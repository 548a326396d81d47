// Exchanges that go wrong: each is a failure with its own outcome, nothing of it leaks into
// the next exchange, and the commands that take two exchanges report either failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "link/sim_fixture.h"
#include "support/temp_dir.h"

namespace tarvel {
namespace {

using link::Outcome;
using std::chrono::milliseconds;

// Shorter windows keep the many failures quick, yet leave a sound reply (first byte some
// 20 ms after the request) a wide margin on a loaded machine.
constexpr link::LineTiming kShortWindow{milliseconds(150), milliseconds(150)};

class Faults : public testing::SimLineTest {
 protected:
  void SetUp() override {
    StartLine(testing::QuickLine({1, 2}), kShortWindow);
    Sim().EditUnit(1, [](sim::UnitState& u) {
      u.setValue = 111;
      u.processTemperature = 222;
    });
  }
};

TEST_F(Faults, EachBadReplyIsAFailureOfItsOwnKindAndTheLineRecovers) {
  struct Case {
    sim::Fault fault;
    Outcome expected;
  };
  // A stray byte shifts the frame libmodbus cuts from the line, so its check sum fails.
  for (auto [fault, expected] : {Case{sim::Fault::NoReply, Outcome::NoReply}, Case{sim::Fault::BadCrc, Outcome::BadCrc},
                                 Case{sim::Fault::WrongAddress, Outcome::WrongAddress},
                                 Case{sim::Fault::Exception, Outcome::Exception},
                                 Case{sim::Fault::StrayByte, Outcome::BadCrc}}) {
    Sim().InjectFault(fault);
    auto failed = commands_.ReadSetValue(1);
    EXPECT_EQ(failed.outcome, expected) << static_cast<int>(fault);
    EXPECT_EQ(failed.value, 0);
    auto next = commands_.ReadProcessValue(1);
    ASSERT_EQ(next.outcome, Outcome::Ok) << "after fault " << static_cast<int>(fault);
    EXPECT_EQ(next.value, 222);
  }
}

TEST_F(Faults, WritesFailOnBadRepliesToo) {
  Sim().InjectFault(sim::Fault::Exception);
  EXPECT_EQ(commands_.WriteRunMode(1, 2), Outcome::Exception);
  Sim().InjectFault(sim::Fault::WrongAddress);
  EXPECT_EQ(commands_.AutoTuneOn(1), Outcome::WrongAddress);
  Sim().InjectFault(sim::Fault::NoReply);
  EXPECT_EQ(commands_.WriteProgramStepWord(1, 3, 3, 500), Outcome::NoReply);
  EXPECT_EQ(commands_.AutoTuneOff(1), Outcome::Ok);
}

// A late reply arrives after the window; the next read must get its own register's value
// or fail, never the late one. The line absorbs replies that start within two windows of
// their request; the cases leave the simulator some 70 ms of slack to stall in.
TEST(LateReply, IsNeverTakenForTheNextExchange) {
  for (auto [window, late] : {std::pair{milliseconds(100), milliseconds(130)},
                              std::pair{milliseconds(150), milliseconds(230)}}) {
    auto options = testing::QuickLine({1});
    options.lateReplyDelay = late;
    sim::SimulatedLine sim(options);
    auto device = sim.Start();
    ASSERT_TRUE(device.ok());
    sim.EditUnit(1, [](sim::UnitState& u) {
      u.setValue = 111;
      u.processTemperature = 222;
      u.profileSetPoint = 333;
    });
    link::ModbusRtuLine line({window, window});
    ASSERT_TRUE(line.Open(*device).ok());
    link::CommandSet commands(line);

    sim.InjectFault(sim::Fault::LateReply);
    auto lateRead = commands.ReadSetValue(1);
    // A reader that stalled past the late reply finds it waiting: then it is this read's own.
    if (lateRead.ok()) {
      EXPECT_EQ(lateRead.value, 111);
    } else {
      EXPECT_EQ(lateRead.outcome, Outcome::NoReply);
    }
    for (int i = 0; i < 3; ++i) {
      auto next = commands.ReadProcessValue(1);
      if (next.ok()) {
        EXPECT_EQ(next.value, 222) << "window " << window.count() << " late " << late.count();
      }
      auto after = commands.ReadProfileSetPoint(1);
      if (after.ok()) {
        EXPECT_EQ(after.value, 333) << "window " << window.count() << " late " << late.count();
      }
    }
    // Within two windows of the failure the line is clean again.
    EXPECT_EQ(commands.ReadProcessValue(1).value, 222);
  }
}

TEST_F(Faults, WriteSetValueWritesNothingWhenItsReadFails) {
  TakeRequests();
  Sim().InjectFault(sim::Fault::NoReply);
  EXPECT_EQ(commands_.WriteSetValue(1, 0), Outcome::NoReply);
  Sim().InjectFault(sim::Fault::BadCrc);
  EXPECT_EQ(commands_.WriteSetValue(1, 500), Outcome::BadCrc);
  EXPECT_EQ(TakeRequests().size(), 2u);  // two reads, no write
  EXPECT_EQ(Sim().Unit(1).setValue, 111);
}

TEST_F(Faults, WriteProgramLimitsReportsAFailureOfEitherWrite) {
  Sim().InjectFault(sim::Fault::NoReply);  // the low step write
  EXPECT_EQ(commands_.WriteProgramLimits(1, 2, 8), Outcome::NoReply);
  EXPECT_EQ(Sim().Unit(1).programHighStep, 8);  // the high step still went out

  // The controller refuses a high step beyond its 64 steps; the low step went through.
  EXPECT_EQ(commands_.WriteProgramLimits(1, 3, 65), Outcome::Exception);
  EXPECT_EQ(Sim().Unit(1).programLowStep, 3);
}

TEST_F(Faults, AMissingUnitIsNoReplyAndItsNeighbourStillAnswers) {
  EXPECT_EQ(commands_.ReadProcessValue(3).outcome, Outcome::NoReply);
  EXPECT_TRUE(commands_.ReadProcessValue(2).ok());
}

TEST_F(Faults, ASimulatorThatGoesAwayIsAPortFailureNotAHang) {
  sim_.reset();
  EXPECT_EQ(commands_.ReadSetValue(1).outcome, Outcome::PortError);
}

TEST_F(Faults, ExchangesFromSeveralThreadsDoNotInterleave) {
  // Each thread reads its own register; a mixed-up exchange would hand one thread the
  // other's value.
  auto reader = [this](std::uint16_t reg, std::uint16_t expected, int& wrong) {
    for (int i = 0; i < 20; ++i) {
      auto reply = line_.ReadRegisters(1, reg);
      if (!reply.ok() || reply.value != expected) ++wrong;
    }
  };
  int wrongA = 0, wrongB = 0;
  std::thread a(reader, link::reg::kSetValue, std::uint16_t{111}, std::ref(wrongA));
  std::thread b(reader, link::reg::kProcessValue, std::uint16_t{222}, std::ref(wrongB));
  a.join();
  b.join();
  EXPECT_EQ(wrongA, 0);
  EXPECT_EQ(wrongB, 0);
  EXPECT_EQ(Sim().Requests().size(), 40u);
}

TEST(OpenPort, TellsNotInstalledFromCannotOpen) {
  link::ModbusRtuLine line;
  auto missing = line.Open("/dev/ttyTarvelNoSuchPort");
  EXPECT_EQ(missing.outcome, link::OpenOutcome::NotInstalled);
  EXPECT_EQ(missing.message, "Serial port /dev/ttyTarvelNoSuchPort not installed");

  testing::TempDir dir;
  testing::WriteAll(dir / "plain-file", "not a port");
  auto notTty = line.Open((dir / "plain-file").string());
  EXPECT_EQ(notTty.outcome, link::OpenOutcome::CannotOpen);
  EXPECT_NE(notTty.message.find((dir / "plain-file").string()), std::string::npos) << notTty.message;
  EXPECT_NE(notTty.message.find("not a serial device"), std::string::npos) << notTty.message;

  auto charDevice = line.Open("/dev/null");  // a device, but not a terminal
  EXPECT_EQ(charDevice.outcome, link::OpenOutcome::CannotOpen);
  EXPECT_FALSE(line.IsOpen());
  EXPECT_EQ(line.ReadRegisters(1, 0).outcome, Outcome::PortClosed);
}

}  // namespace
}  // namespace tarvel
