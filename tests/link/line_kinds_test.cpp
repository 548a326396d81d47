// The master on lines that are no paced wire: a line that delivers bytes as fast as it can (a
// virtual null-modem pair, a buffering USB adapter), one that echoes every request, and a
// repeater that sends each reply again some milliseconds later -- also after the next request
// went out, where the unit, still waiting to answer that request, drops the one after it.
// Every reply must be taken for its own request, or the exchange must fail.
#include <gtest/gtest.h>

#include <memory>

#include "link/sim_fixture.h"
#include "link/transfers.h"

namespace tarvel {
namespace {

using link::Outcome;
using link::Worst;
using std::chrono::milliseconds;

struct Kind {
  const char* name;
  int baud = 9600;
  bool echo = false;
  int duplicateAfterMs = -1;  // every reply again this long after it; -1: none
  milliseconds turnaround{1};
};

sim::Options OptionsFor(const Kind& kind) {
  sim::Options options = testing::QuickLine({1, 2});
  options.baud = kind.baud;
  options.echo = kind.echo;
  options.turnaround = kind.turnaround;
  if (kind.duplicateAfterMs >= 0) {
    options.faultRates = {{sim::Fault::Duplicate, 1.0}};
    options.secondFrameDelay = milliseconds(kind.duplicateAfterMs);
  }
  return options;
}

// A line of two units. A reply window far beyond what a loaded machine may add; a horizon beyond
// the latest copy.
struct KindLine : testing::ServedLine {
  explicit KindLine(const Kind& kind) : KindLine(OptionsFor(kind)) {}
  explicit KindLine(sim::Options options)
      : ServedLine(std::move(options),
                   link::LineTiming{milliseconds(250), milliseconds(250), milliseconds(500), milliseconds(400)}) {}
};

const Kind kKinds[] = {
    {"unpaced", 0},
    {"echoing", 9600, true},
    {"unpaced and echoing", 0, true},
    {"repeater after 5 ms", 9600, false, 5},
    {"repeater after 20 ms, slow unit", 9600, false, 20, milliseconds(40)},
    {"repeater after 50 ms", 9600, false, 50},
    {"repeater after 100 ms", 9600, false, 100},
    {"repeater after 300 ms", 9600, false, 300},
    {"unpaced repeater after 5 ms", 0, false, 5},
};

// Reads, writes and a coil write in turn, then a download of steps 50..53 and an upload with
// its read-back: each read gets its own register's value, each word goes where it belongs.
TEST(LineKinds, EveryExchangeGetsItsOwnReplyAndTransfersTheTrueWords) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    KindLine served(kind);
    auto& c = served.commands;
    for (int round = 0; round < 2; ++round) {
      auto sv = c.ReadSetValue(1);
      auto pv = c.ReadProcessValue(1);
      auto psp = c.ReadProfileSetPoint(1);
      auto alarm = c.ReadAlarm1Type(1);
      auto other = c.ReadSetValue(2);
      EXPECT_EQ(std::tuple(sv.outcome, sv.value, pv.value, psp.value, alarm.value, other.value),
                std::tuple(Outcome::Ok, 111, 222, 333, 7, 70))
          << "round " << round << ": "
          << link::Describe(Worst(Worst(Worst(pv.outcome, psp.outcome), alarm.outcome), other.outcome));
      EXPECT_EQ(c.WriteProgramStepWord(1, 10 + round, 2, 500 + round, 1009 + round), Outcome::Ok);
      EXPECT_EQ(c.AutoTuneOn(1), Outcome::Ok);
      EXPECT_EQ(c.AutoTuneOff(1), Outcome::Ok);
      EXPECT_EQ(served.sim.Unit(1).steps[9 + round].duration, 500 + round);
    }

    link::RangeRead read = link::ReadStepRange(c, 1, 50, 53);
    EXPECT_TRUE(read.ok()) << read.fault.Describe();
    for (int s = 50; s <= 53 && read.ok(); ++s)
      EXPECT_EQ(read.steps[static_cast<std::size_t>(s - 50)], (link::ProgramStep{s, 99 + s, 999 + s})) << "step " << s;
    const std::vector<link::ProgramStep> program{{1, 30, 70}, {2, 11, 250}, {3, 0, 100}};
    link::FrameUse use;
    const link::TransferFault wrote = link::WriteStepRange(c, 1, 51, program, use);
    link::RangeRead back = link::ReadStepRange(c, 1, 50, 54);
    EXPECT_TRUE(wrote.ok() && back.ok()) << wrote.Describe() << " " << back.fault.Describe();
    if (back.ok()) {
      EXPECT_EQ(back.steps, (std::vector<link::ProgramStep>{
                                {50, 149, 1049}, {1, 30, 70}, {2, 11, 250}, {3, 0, 100}, {54, 153, 1053}}));
    }
  }
}

// The repeater's copy of A's reply lands after B went out; the unit, waiting to answer B,
// drops whatever comes meanwhile. Taken for B's reply, the copy would leave B's true reply to
// be taken for the request after B, and so on down the line.
TEST(LineKinds, ACopyAfterTheNextRequestIsNeverTakenForItsReply) {
  for (auto [delayMs, turnaroundMs] : {std::pair{5, 10}, {5, 30}, {20, 40}}) {
    sim::Options options = OptionsFor({"slow unit", 9600, false, -1, milliseconds(turnaroundMs)});
    options.secondFrameDelay = milliseconds(delayMs);
    KindLine served(options);
    served.sim.InjectFault(sim::Fault::Duplicate);
    ASSERT_EQ(served.commands.ReadSetValue(1).value, 111);  // A; its copy comes 5 ms after it
    auto b = served.commands.ReadProcessValue(1);
    auto c = served.commands.ReadProfileSetPoint(1);
    auto d = served.commands.ReadSetValue(1);
    EXPECT_EQ(std::tuple(b.outcome, b.value, c.outcome, c.value, d.outcome, d.value),
              std::tuple(Outcome::Ok, 222, Outcome::Ok, 333, Outcome::Ok, 111))
        << "copy after " << delayMs << " ms, turnaround " << turnaroundMs;
  }
}

}  // namespace
}  // namespace tarvel
