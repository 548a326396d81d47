// What the console learns of a controller's frames -- pair writes from an upload, each block
// shape from the first read that could use it -- kept in the database per controller, used by
// the next transfer, and learnt again when a read-back disagrees; on the simulator's request log.
#include <gmock/gmock.h>

#include "support/console_fixture.h"
#include "support/profiles.h"

namespace tarvel::console {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Row = store::CapabilityRow;

struct Model {
  sim::WriteModel writes;
  int maxRead;
};

class FramesBase : public ConsoleFixture {
 protected:
  explicit FramesBase(Model model) : ConsoleFixture({1}, {true, true}, model.writes, model.maxRead), model_(model) {
    Map(1, 1, "Kiln");
    EXPECT_TRUE(testing::WriteCureProfile(folder_.Profiles() / "cure.txt"));
  }
  bool Both() const { return model_.writes == sim::WriteModel::Both; }
  bool Blocks() const { return model_.maxRead >= link::kBlockRegisters; }

  struct Count {
    int reads = 0, blockReads = 0, writes = 0;
    bool operator==(const Count&) const = default;
  };
  Count Take() {
    Count c;
    for (const auto& frame : sim_.Requests()) {
      if (frame.at(1) != 0x03)
        ++c.writes;
      else if (frame.at(5) > 2)
        ++c.blockReads;
      else
        ++c.reads;
    }
    sim_.ClearRequests();
    return c;
  }
  UploadResult Upload(Console& console) {
    EXPECT_TRUE(console.Program().OpenProfile(folder_.Profiles() / "cure.txt"));
    console.Program().SetStartStepText("10");
    console.Program().BuildAndCheckTarget();
    (void)store_.DeleteLogEntry(1, "cure.txt");
    sim_.ClearRequests();
    view_.messages.clear();
    return console.ProfileUpload().Run({"cure.txt", "10", "SV"});
  }
  Row Known() { return store_.Capabilities(1).value_or(Row{}); }

  Model model_;
};

class Frames : public FramesBase, public ::testing::WithParamInterface<Model> {
 protected:
  Frames() : FramesBase(GetParam()) {}
};

// A controller that keeps only the first register of a write.
class FirstRegisterOnly : public FramesBase {
 protected:
  FirstRegisterOnly() : FramesBase({sim::WriteModel::First, 2}) {}
};

// cure.txt compiled at step 10.
const std::vector<link::ProgramStep> kCure{{1, 30, 70}, {2, 45, 250}, {1, 0, 250}};

// The first upload learns and keeps both answers; the second uses them: nine words in five
// writes on a controller that keeps both registers, nine on one that keeps the first only.
TEST_P(Frames, AnUploadLearnsOnceAndTheNextUsesWhatTheDatabaseKeeps) {
  EXPECT_EQ(Known(), (Row{1, std::nullopt, std::nullopt, std::nullopt})) << "nothing known before the first reading";
  Console& console = Started();
  EXPECT_EQ(Known(), (Row{1, std::nullopt, std::nullopt, Blocks()}))
      << "the first run-state reading tried its block of the run mode and the limits";
  auto result = Upload(console);
  ASSERT_TRUE(result.logged) << view_.messages;
  EXPECT_EQ(Held(10, 12), kCure);
  EXPECT_EQ(Known(), (Row{1, Both(), Blocks(), Blocks()}));
  // The probe, the word after the range and the first pair before and after the learning
  // write; the read-back tries a block of the step area first, then takes five pairs if refused.
  const Count first = Take();
  EXPECT_EQ(first.writes, Both() ? 5 : 9);
  EXPECT_EQ(first.blockReads, 1);
  EXPECT_EQ(first.reads, 4 + (Blocks() ? 0 : 5));

  result = Upload(console);
  ASSERT_TRUE(result.logged) << view_.messages;
  EXPECT_EQ(Held(10, 12), kCure);
  const Count second = Take();
  EXPECT_EQ(second.writes, Both() ? 5 : 9);
  EXPECT_EQ(second.blockReads, Blocks() ? 1 : 0);
  EXPECT_EQ(second.reads, 1 + (Both() ? 0 : 1) + (Blocks() ? 0 : 5));
  EXPECT_THAT(view_.messages, HasSubstr("Read-back matches the compiled profile"));
}

// A controller changed for one that keeps only the first register: the pair writes believed in
// leave words behind, the read-back says so as ever, and the next upload learns again.
TEST_F(FirstRegisterOnly, AReadBackThatDisagreesMakesTheNextUploadLearnAgain) {
  ASSERT_TRUE(store_.SaveCapabilities({1, true, std::nullopt, std::nullopt}));
  Console& console = Started();
  auto result = Upload(console);
  EXPECT_FALSE(result.logged);
  EXPECT_THAT(view_.messages, HasSubstr("ERROR: The controller does not hold the compiled profile"));
  EXPECT_FALSE(Known().pairWrites.has_value()) << "forgotten, to be learnt again";

  result = Upload(console);
  ASSERT_TRUE(result.logged) << view_.messages;
  EXPECT_EQ(Held(10, 12), kCure);
  EXPECT_EQ(Known().pairWrites, false);
}

// The same believed pair writes in a clear leave words behind: the clear compares what it reads
// back with zeros, says so instead of "cleared", forgets, and the next clear learns again.
TEST_F(FirstRegisterOnly, AClearThatLeavesWordsSaysSoAndTheNextLearnsAgain) {
  sim_.EditUnit(1, [](sim::UnitState& u) { u.steps[9] = {3, 40, 300}, u.steps[10] = {4, 50, 400}; });
  ASSERT_TRUE(store_.SaveCapabilities({1, true, std::nullopt, std::nullopt}));
  Console& console = Started();
  view_.messages.clear();
  EXPECT_FALSE(console.Memory().ClearProgramRange(10, 11));
  EXPECT_THAT(view_.messages, Not(HasSubstr("Program memory range cleared")));
  EXPECT_THAT(view_.messages, HasSubstr("Unit #1 did not keep what was written: step 10 word 2 reads back 40, not 0"));
  EXPECT_FALSE(Known().pairWrites.has_value()) << "forgotten, to be learnt again";
  EXPECT_EQ(Mapped(10), Held(10, 10)[0]) << "the map holds what the controller holds";

  EXPECT_TRUE(console.Memory().ClearProgramRange(10, 11));
  EXPECT_EQ(Held(10, 11), (std::vector<link::ProgramStep>{{}, {}}));
  EXPECT_EQ(Known().pairWrites, false);
}

// Downloads and readings use blocks where the controller answered one, pairs otherwise; with
// the setting off no read asks for more than two registers, whatever is known.
TEST_P(Frames, DownloadsAndReadingsUseBlocksWhereAnsweredAndNotWhenSwitchedOff) {
  RunProgramOnUnit1();
  Console& console = Started();
  sim_.ClearRequests();
  console.Memory().DownloadMemory("1", "64");
  EXPECT_EQ(store_.MemoryStep(1, 2).value_or(std::nullopt)->duration, 30);
  EXPECT_EQ(store_.MemoryStep(1, 3).value_or(std::nullopt)->temperature, 200);
  // The first read of the step area is the probe, a block: answered, its words are used.
  EXPECT_EQ(Take(), Blocks() ? (Count{0, 3, 0}) : (Count{96, 1, 0}));
  EXPECT_EQ(Known().blockReads, Blocks());

  // The run mode with the limits in one block; the step, its time, the set points and the
  // process value, whose neighbours the map does not describe, in pairs.
  console.RunMonitor().ReadRunState();
  const auto fields = view_.fields;
  EXPECT_EQ(fields.at(Field::CurrentStep), "1");
  EXPECT_EQ(fields.at(Field::ProgramStepLow) + "-" + fields.at(Field::ProgramStepHigh), "1-3");
  EXPECT_EQ(Take(), Blocks() ? (Count{6, 1, 0}) : (Count{8, 0, 0}));

  console.SetBlockReads(false);
  console.RunMonitor().ReadRunState();
  EXPECT_EQ(view_.fields, fields) << "the same reading either way";
  EXPECT_EQ(Take(), (Count{8, 0, 0}));
  console.Memory().DownloadMemory("1", "64");
  EXPECT_EQ(Take(), (Count{96, 0, 0}));
}

INSTANTIATE_TEST_SUITE_P(Models, Frames,
                         ::testing::Values(Model{sim::WriteModel::Both, 2}, Model{sim::WriteModel::First, 2},
                                           Model{sim::WriteModel::Both, 64}, Model{sim::WriteModel::First, 64}),
                         [](const auto& model) {
                           return std::string(model.param.writes == sim::WriteModel::Both ? "Both" : "First") +
                                  "Reads" + std::to_string(model.param.maxRead);
                         });

}  // namespace
}  // namespace tarvel::console
