// Exchanges that go wrong: each is a failure with its own outcome, nothing of it leaks into
// the next exchange, and the commands that take two exchanges report either failure.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "link/sim_fixture.h"
#include "sim/pty_line.h"
#include "sim/rtu_codec.h"
#include "support/processes.h"
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
    line_.SetTiming({milliseconds(150), milliseconds(150), milliseconds(200)});
    Sim().EditUnit(1, [](sim::UnitState& u) {
      u.setValue = 111;
      u.processTemperature = 222;
    });
  }
};

TEST_F(Faults, EachBadReplyIsAFailureOfItsOwnKindAndTheLineRecovers) {
  // Another unit's frame is skipped while the exchange waits on for its own reply, which
  // here never comes.
  for (auto [fault, expected] : {std::pair{sim::Fault::NoReply, Outcome::NoReply},
                                 {sim::Fault::BadCrc, Outcome::BadCrc},
                                 {sim::Fault::WrongAddress, Outcome::WrongAddress},
                                 {sim::Fault::Exception, Outcome::Exception}}) {
    Sim().InjectFault(fault);
    auto failed = commands_.ReadSetValue(1);
    EXPECT_EQ(failed.outcome, expected) << static_cast<int>(fault);
    EXPECT_EQ(failed.value, 0);
    auto next = commands_.ReadProcessValue(1);
    ASSERT_EQ(next.outcome, Outcome::Ok) << "after fault " << static_cast<int>(fault);
    EXPECT_EQ(next.value, 222);
  }
  // A stray byte before a sound reply is noise: the reply is found behind it.
  Sim().InjectFault(sim::Fault::StrayByte);
  EXPECT_EQ(commands_.ReadSetValue(1).value, 111);
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

// Reads of three registers in turn; each must get its own register's value or fail,
// never another's. The count of failures.
int ReadInTurn(link::CommandSet& commands, int reads) {
  using Read = link::Reply<std::int16_t> (link::CommandSet::*)(std::uint8_t);
  const std::pair<Read, int> kReads[] = {{&link::CommandSet::ReadSetValue, 111},
                                         {&link::CommandSet::ReadProcessValue, 222},
                                         {&link::CommandSet::ReadProfileSetPoint, 333}};
  int failed = 0;
  for (int i = 0; i < reads; ++i) {
    auto [read, expected] = kReads[i % 3];
    auto reply = (commands.*read)(1);
    if (reply.ok()) {
      EXPECT_EQ(reply.value, expected) << "read " << i;
    } else {
      ++failed;
    }
  }
  return failed;
}

struct ServedLine {
  explicit ServedLine(sim::Options options) : sim(std::move(options)) {
    auto device = sim.Start();
    EXPECT_TRUE(device.ok());
    EXPECT_TRUE(line.Open(device.value_or("")).ok());
    sim.EditUnit(1, [](sim::UnitState& u) {
      u.setValue = 111;
      u.processTemperature = 222;
      u.profileSetPoint = 333;
    });
  }
  sim::SimulatedLine sim;
  link::ModbusRtuLine line;
  link::CommandSet commands{line};
};

// A reply that comes after the window -- even 200 to 400 ms late -- is heard out before the
// next request goes: only the late exchange fails, and each read after it gets its own value.
TEST(LateReply, IsNeverTakenForTheNextExchange) {
  for (auto late : {milliseconds(130), milliseconds(250), milliseconds(400)}) {
    auto options = testing::QuickLine({1});
    options.lateReplyDelay = late;
    ServedLine served(options);
    served.sim.InjectFault(sim::Fault::LateReply);
    EXPECT_EQ(served.commands.ReadSetValue(1).outcome, Outcome::NoReply) << late.count();
    EXPECT_EQ(ReadInTurn(served.commands, 6), 0) << "late " << late.count();
  }
}

TEST_F(Faults, TwoExchangeCommandsReportTheFailureThatMatters) {
  // The set value read gives the word beside the set value: after a failed read nothing is
  // written (0 included), as the write would have to guess that word.
  TakeRequests();
  Sim().InjectFault(sim::Fault::NoReply);
  EXPECT_EQ(commands_.WriteSetValue(1, 0), Outcome::NoReply);
  Sim().InjectFault(sim::Fault::BadCrc);
  EXPECT_EQ(commands_.WriteSetValue(1, 500), Outcome::BadCrc);
  EXPECT_EQ(TakeRequests().size(), 2u);  // the two reads
  EXPECT_EQ(Sim().Unit(1).setValue, 111);

  Sim().InjectFault(sim::Fault::NoReply);  // the low step write
  EXPECT_EQ(commands_.WriteProgramLimits(1, 2, 8, 1), Outcome::NoReply);
  EXPECT_EQ(Sim().Unit(1).programHighStep, 8);  // the high step still went out
  // The controller refuses a high step beyond its 64 steps, and with it the low step beside it.
  EXPECT_EQ(commands_.WriteProgramLimits(1, 3, 65), Outcome::Exception);
  EXPECT_EQ(Sim().Unit(1).programLowStep, 1);
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
  // Each thread's reply is the same as its last: heard within the horizon, it is asked for again.
  EXPECT_EQ(Sim().Requests().size(), 40u + static_cast<std::size_t>(line_.Counts().resends));
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

// Held for exclusive use while open and let go on close, so that a later run, as a user who
// cannot break the hold, opens it again. One owner at a time, each told who holds the port: a
// second line (here in the same process, as root) is refused, and never clears the hold it did
// not take. A program that holds the port exclusively without our lock keeps it; its hold, left
// behind once it is gone (the simulator keeps the terminal open), is taken over.
TEST(OpenPort, OneOwnerAtATimeAndNoHoldClearedByAnother) {
  sim::SimulatedLine sim(testing::QuickLine({1}));
  auto device = sim.Start();
  ASSERT_TRUE(device.ok());
  const int other = ::open(device->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);  // before the hold
  ASSERT_GE(other, 0);
  auto exclusive = [other] {
    int held = -1;
    return ioctl(other, TIOCGEXCL, &held) == 0 ? held : -1;
  };
  const std::string inUse = "Serial port " + *device + " is in use by ";
  link::ModbusRtuLine owner, second;
  ASSERT_TRUE(owner.Open(*device).ok());
  auto refused = second.Open(*device);
  EXPECT_EQ(refused.outcome, link::OpenOutcome::CannotOpen);
  EXPECT_EQ(refused.message, inUse + "link_tests (pid " + std::to_string(getpid()) + ")");
  EXPECT_EQ(exclusive(), 1) << "the refused line left the owner's hold alone";
  owner.Close();
  EXPECT_EQ(exclusive(), 0);
  ASSERT_TRUE(second.Open(*device).ok());
  EXPECT_TRUE(link::CommandSet(second).ReadRunMode(1).ok());
  second.Close();

  {
    testing::Spawned holder;  // another program, holding the port exclusively without our lock
    ASSERT_TRUE(holder.Start({"/usr/bin/python3", "-c",
                              "import fcntl, os, sys, termios, time\n"
                              "fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)\n"
                              "fcntl.ioctl(fd, termios.TIOCEXCL)\n"
                              "print(os.getpid(), flush=True)\n"
                              "time.sleep(600)\n",
                              *device}));
    ASSERT_TRUE(holder.WaitFor(""));
    auto busy = owner.Open(*device);
    EXPECT_EQ(busy.message, inUse + "python3 (pid " + holder.Lines().back() + ")");
    EXPECT_EQ(exclusive(), 1);
  }  // and ends
  EXPECT_EQ(exclusive(), 1);
  ASSERT_TRUE(owner.Open(*device).ok()) << "a hold whose owner is gone";
  owner.Close();
  EXPECT_EQ(exclusive(), 0);
  ::close(other);
}

// A line handed over by another owner is heard out before its first request: a repeater's copy
// of the last owner's last reply, coming once the new owner talks, is never taken for a reply.
TEST(OpenPort, ALineHandedOverIsHeardOutFirst) {
  auto options = testing::QuickLine({1});
  options.turnaround = milliseconds(40);
  options.secondFrameDelay = milliseconds(100);
  ServedLine served(options);
  served.sim.InjectFault(sim::Fault::Duplicate);
  EXPECT_TRUE(served.commands.ReadAlarm1Type(1).ok());  // a reply the next owner never hears itself
  served.line.Close();
  link::ModbusRtuLine next;
  ASSERT_TRUE(next.Open(served.sim.DevicePath()).ok());
  link::CommandSet commands(next);
  EXPECT_EQ(ReadInTurn(commands, 6), 0);
}

Bytes WithCrc(Bytes frame) {
  sim::AppendCrc(frame);
  return frame;
}

// Replies the simulator never gives, from a scripted peer on a pseudo-terminal of our own:
// it answers each request it reads with the next scripted reply, as it stands, after the
// time the request would take on a 9600 baud wire and a turnaround -- or at once.
struct Scripted {
  Bytes reply;
  bool atOnce = false;
};

class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::vector<Scripted> replies)
      : pty_(sim::PseudoTerminal::Open().value()), thread_([this, replies = std::move(replies)] { Serve(replies); }) {}
  ~ScriptedPeer() { thread_.join(); }
  const std::string& Device() const { return pty_.SlavePath(); }

 private:
  void Serve(const std::vector<Scripted>& replies) {
    for (const auto& [reply, atOnce] : replies) {
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
      if (!atOnce) std::this_thread::sleep_for(milliseconds(20));  // the wire time, not a wait for the master
      if (write(pty_.MasterFd(), reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) return;
    }
  }

  sim::PseudoTerminal pty_;
  std::thread thread_;
};

TEST(ScriptedPeer, RepliesThatDoNotAnswerTheRequestAreRefused) {
  auto reply = [](std::uint8_t address, std::uint8_t high) {
    return WithCrc({address, 0x03, 0x04, high, 0x34, 0x56, 0x78});
  };
  auto joined = [](Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
  };
  const Bytes twoAnswers = joined(reply(1, 0x21), reply(1, 0x22));
  ScriptedPeer peer({
      {WithCrc({0x01, 0x10, 0x40, 0x01, 0x00, 0x02})},        // echo names another register
      {WithCrc({0x01, 0x05, 0x00, 0x01, 0x00, 0x00})},        // echo of "off" to an "on"
      {WithCrc({0x01, 0x04, 0x04, 0x00, 0x07, 0x00, 0x00})},  // another function
      {WithCrc({0x01, 0x03, 0x02, 0x00, 0x07})},              // one register instead of two
      {{0x01, 0x03, 0x04}},                                   // stalls after three bytes
      {joined(reply(2, 0x11), reply(1, 0x12)), true},         // another unit's frame, then the reply, at once
      {reply(1, 0x12)},                                       // the same reply again: asked for once more,
      {reply(1, 0x12)},                                       // and said again: it is the unit's
      {twoAnswers},
      {twoAnswers},
      {twoAnswers},
      {twoAnswers},                              // two answers each time it is asked
      {joined(reply(1, 0x14), reply(1, 0x14))},  // the reply, and a copy of it right after
  });
  link::ModbusRtuLine line({milliseconds(150), milliseconds(150), milliseconds(0)});
  ASSERT_TRUE(line.Open(peer.Device()).ok());
  EXPECT_EQ(line.WriteRegisters(1, 0x4000, 5, 0), Outcome::BadEcho);
  EXPECT_EQ(line.WriteCoil(1, 1, true), Outcome::BadEcho);
  EXPECT_EQ(line.ReadRegisters(1, 0x0000).outcome, Outcome::WrongFunction);
  EXPECT_EQ(line.ReadRegisters(1, 0x0000).outcome, Outcome::BadLength);
  EXPECT_EQ(line.ReadRegisters(1, 0x0000).outcome, Outcome::Incomplete);
  auto first = [&line] {
    auto read = line.ReadRegisters(1, 0x0000);
    return std::pair(read.outcome, read.value);
  };
  EXPECT_EQ(first(), std::pair(Outcome::Ok, std::uint16_t{0x1234}));
  EXPECT_EQ(first(), std::pair(Outcome::Ok, std::uint16_t{0x1234}));
  EXPECT_EQ(line.ReadRegisters(1, 0x0000).outcome, Outcome::Ambiguous);
  auto pair = line.ReadRegisterPair(1, 0x0000);
  EXPECT_EQ(pair.outcome, Outcome::Ok);
  EXPECT_EQ(std::pair(pair.value.first, pair.value.second), std::pair(std::uint16_t{0x1434}, std::uint16_t{0x5678}));
  const link::LineCounts counts = line.Counts();
  EXPECT_EQ(std::tuple(counts.strays, counts.copies, counts.resends), std::tuple(1 + 4, 1, 1 + 3));
}

}  // namespace
}  // namespace tarvel
