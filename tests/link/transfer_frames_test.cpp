// How many exchanges a program transfer takes, and which frames, against controllers that keep
// one or both registers of a write and answer reads of two or of many registers: counted from
// the simulator's request log, with the words it holds afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/sim_fixture.h"
#include "link/transfers.h"
#include "sim/controller.h"
#include "sim/rtu_codec.h"

namespace tarvel {
namespace {

using link::FrameUse;
using link::Known;
using link::Outcome;
using link::ProgramStep;
using testing::Bytes;

struct Model {
  sim::WriteModel writes;
  int maxRead;
};

class TransferFrames : public testing::SimLineTest {
 protected:
  void Start(Model model) {
    auto options = testing::QuickLine({1});
    options.writeModel = model.writes;
    options.maxRead = model.maxRead;
    StartLine(options);
    HearNoCopies();
  }
  // Counts of the reads and writes in the request log since the last call.
  std::pair<int, int> ReadsAndWrites() {
    int reads = 0, writes = 0;
    for (const Bytes& frame : TakeRequests()) (frame.at(1) == 0x03 ? reads : writes) += 1;
    return {reads, writes};
  }
  std::vector<ProgramStep> Program(int count, int base) {
    std::vector<ProgramStep> steps;
    for (int i = 0; i < count; ++i) steps.push_back({base + 3 * i, -(base + 3 * i + 1), base + 3 * i + 2});
    return steps;
  }
  void ExpectHeld(int first, const std::vector<ProgramStep>& steps) {
    const auto unit = Sim().Unit(1);
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const auto& s = unit.steps.at(static_cast<std::size_t>(first - 1) + i);
      EXPECT_EQ((ProgramStep{s.pidSet, s.duration, s.temperature}), steps[i]) << "step " << first + i;
    }
  }
};

Bytes Read(std::uint16_t reg, std::uint16_t count) { return sim::EncodeReadRequest(1, reg, count); }

// Both registers of every read are used: 192 words in 96 reads, an odd range ends with a read
// whose second register lies past it, and nothing outside the range is stored.
TEST_F(TransferFrames, PairReadsTakeBothRegistersOfEveryRead) {
  Start({sim::WriteModel::Both, 2});
  const auto program = Program(64, 100);
  ASSERT_TRUE(link::WriteStepRange(commands_, 1, 1, program).ok());
  ExpectHeld(1, program);
  TakeRequests();
  FrameUse pairs{{}, false};
  auto all = link::ReadStepRange(commands_, 1, 1, 64, pairs);
  ASSERT_TRUE(all.ok()) << all.fault.Describe();
  EXPECT_EQ(all.steps, program);
  const auto frames = TakeRequests();
  ASSERT_EQ(frames.size(), 96u);
  for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i], Read(0x4000 + 2 * i, 2)) << i;
  EXPECT_EQ(pairs.known.blockReads, Known::Untried) << "nothing learnt with block reads off";

  auto one = link::ReadStepRange(commands_, 1, 7, 7, pairs);
  ASSERT_TRUE(one.ok());
  EXPECT_EQ(one.steps, std::vector<ProgramStep>{program[6]});
  EXPECT_EQ(TakeRequests(), (std::vector<Bytes>{Read(0x4012, 2), Read(0x4014, 2)}));

  // The last step's third word comes with the register after the program memory.
  auto last = link::ReadStepRange(commands_, 1, 64, 64, pairs);
  EXPECT_EQ(last.steps, std::vector<ProgramStep>{program[63]});
  EXPECT_EQ(TakeRequests(), (std::vector<Bytes>{Read(0x40BD, 2), Read(0x40BF, 2)}));
}

// The first read of a range with block reads untried is the probe: answered, the range comes in
// blocks of 64 and they are known; refused or unanswered, pairs, and they are known refused.
TEST_F(TransferFrames, TheBlockProbeAnsweredRefusedOrUnanswered) {
  for (int maxRead : {64, 2}) {
    SCOPED_TRACE(maxRead);
    Start({sim::WriteModel::Both, maxRead});
    const auto program = Program(64, -500);
    ASSERT_TRUE(link::WriteStepRange(commands_, 1, 1, program).ok());
    TakeRequests();
    FrameUse use;
    auto read = link::ReadStepRange(commands_, 1, 1, 64, use);
    ASSERT_TRUE(read.ok()) << read.fault.Describe();
    EXPECT_EQ(read.steps, program);
    const auto frames = TakeRequests();
    if (maxRead == 64) {
      EXPECT_EQ(use.known.blockReads, Known::Yes);
      EXPECT_EQ(frames, (std::vector<Bytes>{Read(0x4000, 64), Read(0x4040, 64), Read(0x4080, 64)}));
      // Known: a range inside the area still reads from its own start, the last block short.
      read = link::ReadStepRange(commands_, 1, 30, 64, use);
      EXPECT_EQ(read.steps, std::vector<ProgramStep>(program.begin() + 29, program.end()));
      EXPECT_EQ(TakeRequests(), (std::vector<Bytes>{Read(0x4057, 64), Read(0x4097, 41)}));
    } else {
      EXPECT_EQ(use.known.blockReads, Known::No);
      ASSERT_EQ(frames.size(), 97u);
      EXPECT_EQ(frames.front(), Read(0x4000, 64));
      // Refused: never asked again.
      read = link::ReadStepRange(commands_, 1, 1, 2, use);
      EXPECT_EQ(TakeRequests().size(), 3u);
    }
  }

  // Silence to the probe while the two-register read right after is answered: no block reads.
  Start({sim::WriteModel::Both, 64});
  TakeRequests();
  Sim().InjectFault(sim::Fault::NoReply);
  FrameUse use;
  auto read = link::ReadStepRange(commands_, 1, 1, 2, use);
  ASSERT_TRUE(read.ok()) << read.fault.Describe();
  EXPECT_EQ(use.known.blockReads, Known::No);
  EXPECT_EQ(TakeRequests(), (std::vector<Bytes>{Read(0x4000, 64), Read(0x4000, 2), Read(0x4002, 2), Read(0x4004, 2)}));

  // Silence to both: a fault of the line, nothing learnt, and the range fails as it did.
  Sim().InjectFault(sim::Fault::NoReply, 2);
  FrameUse again;
  read = link::ReadStepRange(commands_, 1, 1, 2, again);
  EXPECT_EQ(read.fault.outcome, Outcome::NoReply);
  EXPECT_EQ(again.known.blockReads, Known::Untried);
}

// An upload learns from its first pair write whether the second word takes: on a controller
// that keeps both, 64 steps go in 96 writes once known; on one that keeps only the first, word
// by word. Either way the controller holds the program and nothing beside it changed.
TEST_F(TransferFrames, PairWritesAreLearntFromTheFirstWriteOfAnUpload) {
  for (auto writes : {sim::WriteModel::Both, sim::WriteModel::First}) {
    const bool both = writes == sim::WriteModel::Both;
    SCOPED_TRACE(both ? "both" : "first");
    Start({writes, 2});
    Sim().EditUnit(1, [](sim::UnitState& u) {
      u.spareWords[0x40C0] = 0x5555;
      u.steps[9] = {1, 2, 3};
    });
    const auto before = Sim().Registers(1);
    TakeRequests();
    FrameUse use;
    const auto program = Program(64, 1000);
    auto fault = link::WriteStepRange(commands_, 1, 1, program, use);
    ASSERT_TRUE(fault.ok()) << fault.Describe();
    ExpectHeld(1, program);
    EXPECT_EQ(Sim().Registers(1).at(0x40C0), 0x5555);
    EXPECT_EQ(use.known.pairWrites, both ? Known::Yes : Known::No);
    // The register after the range, the first pair before and after the learning write.
    EXPECT_EQ(ReadsAndWrites(), std::make_pair(3, both ? 96 : 192));

    // Known: no read at all on a controller that keeps both; an odd count ends with the last
    // word written again beside the word before it, never past the range.
    const auto next = Program(3, -7);
    fault = link::WriteStepRange(commands_, 1, 62, next, use);
    ASSERT_TRUE(fault.ok()) << fault.Describe();
    ExpectHeld(62, next);
    ExpectHeld(1, std::vector<ProgramStep>(program.begin(), program.begin() + 61));
    EXPECT_EQ(Sim().Registers(1).at(0x40C0), 0x5555);
    EXPECT_EQ(ReadsAndWrites(), std::make_pair(both ? 0 : 1, both ? 5 : 9));
    const auto after = Sim().Registers(1);
    std::vector<std::uint16_t> changed;
    for (std::uint16_t r = 0x4000; r < 0x40C0; ++r) changed.push_back(r);
    EXPECT_THAT(sim::ChangedRegisters(before, after), ::testing::IsSubsetOf(changed));
  }
}

// A first pair whose second word already holds what is written shows nothing: the range goes
// word by word and pair writes stay untried.
TEST_F(TransferFrames, ASecondWordAlreadyInPlaceTeachesNothing) {
  Start({sim::WriteModel::First, 2});
  Sim().EditUnit(1, [](sim::UnitState& u) { u.steps[0] = {0, 5, 0}; });
  TakeRequests();
  FrameUse use;
  const std::vector<ProgramStep> program{{9, 5, 8}};
  ASSERT_TRUE(link::WriteStepRange(commands_, 1, 1, program, use).ok());
  ExpectHeld(1, program);
  EXPECT_EQ(use.known.pairWrites, Known::Untried);
  EXPECT_EQ(ReadsAndWrites(), std::make_pair(2, 3));
}

}  // namespace
}  // namespace tarvel
