// Exchanges that go wrong: each is a failure with its own outcome, nothing of it leaks into
// the next exchange, and the commands that take two exchanges report either failure.
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "link/sim_fixture.h"
#include "sim/pty_line.h"
#include "sim/rtu_codec.h"
#include "support/temp_dir.h"

namespace tarvel {
namespace {

using link::Outcome;
using std::chrono::milliseconds;
using testing::Bytes;

class Faults : public testing::SimLineTest {
 protected:
  void SetUp() override {
    // A shorter window keeps the many failures quick, yet leaves a sound reply (first byte
    // some 20 ms after the request) a wide margin on a loaded machine.
    StartLine(testing::QuickLine({1, 2}), milliseconds(150));
    Sim().EditUnit(1, [](sim::UnitState& u) {
      u.setValue = 111;
      u.processTemperature = 222;
    });
  }
};

TEST_F(Faults, EachBadReplyIsAFailureOfItsOwnKindAndTheLineRecovers) {
  // A stray byte shifts the frame libmodbus cuts from the line, so its check sum fails.
  for (auto [fault, expected] : {std::pair{sim::Fault::NoReply, Outcome::NoReply}, {sim::Fault::BadCrc, Outcome::BadCrc},
                                 {sim::Fault::WrongAddress, Outcome::WrongAddress},
                                 {sim::Fault::Exception, Outcome::Exception}, {sim::Fault::StrayByte, Outcome::BadCrc}}) {
    Sim().InjectFault(fault);
    auto failed = commands_.ReadSetValue(1);
    EXPECT_EQ(failed.outcome, expected) << static_cast<int>(fault);
    EXPECT_EQ(failed.value, 0);
    auto next = commands_.ReadProcessValue(1);
    ASSERT_EQ(next.outcome, Outcome::Ok) << "after fault " << static_cast<int>(fault);
    EXPECT_EQ(next.value, 222);
  }
}

TEST_F(Faults, WritesFailOnBadRepliesAndAMissingUnitIsNoReply) {
  Sim().InjectFault(sim::Fault::Exception);
  EXPECT_EQ(commands_.WriteRunMode(1, 2), Outcome::Exception);
  Sim().InjectFault(sim::Fault::WrongAddress);
  EXPECT_EQ(commands_.AutoTuneOn(1), Outcome::WrongAddress);
  Sim().InjectFault(sim::Fault::NoReply);
  EXPECT_EQ(commands_.WriteProgramStepWord(1, 3, 3, 500), Outcome::NoReply);
  EXPECT_EQ(commands_.ReadProcessValue(3).outcome, Outcome::NoReply);
  EXPECT_EQ(commands_.AutoTuneOff(2), Outcome::Ok);
}

// A late reply arrives after the window; each read after it must get its own register's
// value or fail, never the late one. The line absorbs replies that start within two windows
// of their request; the cases leave the simulator some 70 ms of slack to stall in.
TEST(LateReply, IsNeverTakenForTheNextExchange) {
  for (auto [window, late] : {std::pair{milliseconds(100), milliseconds(130)}, {milliseconds(150), milliseconds(230)}}) {
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
    using Read = link::Reply<std::int16_t> (link::CommandSet::*)(std::uint8_t);
    const std::pair<Read, int> reads[] = {{&link::CommandSet::ReadSetValue, 111},
                                          {&link::CommandSet::ReadProcessValue, 222},
                                          {&link::CommandSet::ReadProfileSetPoint, 333}};
    // The first read is the late one: a reader that stalled past it finds its own reply waiting.
    for (int i = 0; i < 7; ++i) {
      auto [read, expected] = reads[i % 3];
      auto reply = (commands.*read)(1);
      if (reply.ok()) EXPECT_EQ(reply.value, expected) << "window " << window.count() << " late " << late.count();
      else EXPECT_EQ(reply.outcome, Outcome::NoReply);
    }
    // Within two windows of the failure the line is clean again.
    EXPECT_EQ(commands.ReadProcessValue(1).value, 222);
  }
}

TEST_F(Faults, TwoExchangeCommandsReportTheFailureThatMatters) {
  // The set value read only saves a write: after a failed read the value is written anyway
  // (0 included) and the write's own outcome counts.
  TakeRequests();
  Sim().InjectFault(sim::Fault::NoReply);
  EXPECT_EQ(commands_.WriteSetValue(1, 0), Outcome::Ok);
  EXPECT_EQ(Sim().Unit(1).setValue, 0);
  Sim().InjectFault(sim::Fault::BadCrc, 2);
  EXPECT_EQ(commands_.WriteSetValue(1, 500), Outcome::BadCrc);
  EXPECT_EQ(TakeRequests().size(), 4u);  // read and write, twice

  Sim().InjectFault(sim::Fault::NoReply);  // the low step write
  EXPECT_EQ(commands_.WriteProgramLimits(1, 2, 8), Outcome::NoReply);
  EXPECT_EQ(Sim().Unit(1).programHighStep, 8);  // the high step still went out
  // The controller refuses a high step beyond its 64 steps; the low step went through.
  EXPECT_EQ(commands_.WriteProgramLimits(1, 3, 65), Outcome::Exception);
  EXPECT_EQ(Sim().Unit(1).programLowStep, 3);
}

TEST_F(Faults, ASimulatorThatGoesAwayIsAPortFailureNotAHang) {
  sim_.reset();
  EXPECT_EQ(commands_.ReadSetValue(1).outcome, Outcome::PortError);
}

TEST_F(Faults, ExchangesFromSeveralThreadsDoNotInterleave) {
  // Each thread reads its own register; a mixed-up exchange would hand one thread the
  // other's value.
  int wrong[2] = {0, 0};
  auto reader = [this, &wrong](int which, std::uint16_t reg, std::uint16_t expected) {
    for (int i = 0; i < 20; ++i) {
      auto reply = line_.ReadRegisters(1, reg);
      if (!reply.ok() || reply.value != expected) ++wrong[which];
    }
  };
  std::thread a(reader, 0, link::reg::kSetValue, std::uint16_t{111});
  std::thread b(reader, 1, link::reg::kProcessValue, std::uint16_t{222});
  a.join();
  b.join();
  EXPECT_EQ(wrong[0] + wrong[1], 0);
  EXPECT_EQ(Sim().Requests().size(), 40u);
}

// A missing port's message is checked where the user reads it, in cli_line_test.cpp.
TEST(OpenPort, APathThatIsNoSerialDeviceIsRefusedAndTheLineStaysClosed) {
  link::ModbusRtuLine line;
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

Bytes WithCrc(Bytes frame) {
  sim::AppendCrc(frame);
  return frame;
}

// Replies the simulator never gives, from a scripted peer on a pseudo-terminal of our own:
// it answers each request it reads with the next scripted reply, as it stands.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::vector<Bytes> replies)
      : pty_(sim::PseudoTerminal::Open().value()), thread_([this, replies = std::move(replies)] { Serve(replies); }) {}
  ~ScriptedPeer() { thread_.join(); }
  const std::string& Device() const { return pty_.SlavePath(); }

 private:
  void Serve(const std::vector<Bytes>& replies) {
    for (const auto& reply : replies) {
      Bytes request;
      for (std::size_t expected = 8; request.size() < expected;) {
        pollfd pfd{pty_.MasterFd(), POLLIN, 0};
        std::uint8_t buffer[64];
        if (poll(&pfd, 1, 5000) <= 0) return;
        const ssize_t got = read(pty_.MasterFd(), buffer, sizeof buffer);
        if (got <= 0) return;
        request.insert(request.end(), buffer, buffer + got);
        if (request.size() >= 2 && request[1] == 0x10) expected = 13;
      }
      if (write(pty_.MasterFd(), reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) return;
    }
  }

  sim::PseudoTerminal pty_;
  std::thread thread_;
};

TEST(ScriptedPeer, RepliesThatDoNotAnswerTheRequestAreRefused) {
  ScriptedPeer peer({
      WithCrc({0x01, 0x10, 0x40, 0x01, 0x00, 0x02}),        // echo names another register
      WithCrc({0x01, 0x05, 0x00, 0x01, 0x00, 0x00}),        // echo of "off" to an "on"
      WithCrc({0x01, 0x04, 0x04, 0x00, 0x07, 0x00, 0x00}),  // another function
      WithCrc({0x01, 0x03, 0x02, 0x00, 0x07}),              // one register instead of two
      {0x01, 0x03, 0x04},                                   // stalls after three bytes
      WithCrc({0x01, 0x03, 0x04, 0x12, 0x34, 0x00, 0x00}),  // and a sound one at last
  });
  link::ModbusRtuLine line({std::chrono::milliseconds(150), std::chrono::milliseconds(150)});
  ASSERT_TRUE(line.Open(peer.Device()).ok());
  EXPECT_EQ(line.WriteRegisters(1, 0x4000, 5), Outcome::BadEcho);
  EXPECT_EQ(line.WriteCoil(1, 1, true), Outcome::BadEcho);
  EXPECT_EQ(line.ReadRegisters(1, 0x0000).outcome, Outcome::WrongFunction);
  EXPECT_EQ(line.ReadRegisters(1, 0x0000).outcome, Outcome::BadLength);
  EXPECT_EQ(line.ReadRegisters(1, 0x0000).outcome, Outcome::Incomplete);
  auto sound = line.ReadRegisters(1, 0x0000);
  EXPECT_EQ(sound.outcome, Outcome::Ok);
  EXPECT_EQ(sound.value, 0x1234);
}

}  // namespace
}  // namespace tarvel
