// Records that never disagree with the controller: a database write that fails stops the
// command before the controller is touched, steps a write may have changed stay marked until a
// good read, a clear takes the log rows it touches out, a kill at any exchange leaves no
// unmarked row that disagrees, and an address change is settled by asking both addresses.
#include <SQLiteCpp/SQLiteCpp.h>
#include <gmock/gmock.h>

#include "sim/controller.h"
#include "support/console_fixture.h"
#include "support/profiles.h"
#include "support/run_process.h"

#include <optional>

namespace tarvel::console {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Another program holding the database's write lock.
struct Lock {
  explicit Lock(const std::filesystem::path& file) : db(file.string(), SQLite::OPEN_READWRITE) {
    db.exec("BEGIN EXCLUSIVE");
  }
  ~Lock() { db.exec("ROLLBACK"); }
  SQLite::Database db;
};

class Records : public ConsoleFixture {
 protected:
  Records() {
    Map(1, 1, "Kiln");
    EXPECT_TRUE(testing::WriteCureProfile(folder_.Profiles() / "cure.txt"));
    sim_.EditUnit(1, [](sim::UnitState& u) {
      for (int s = 1; s <= 64; ++s)
        u.steps[s - 1] = {1, static_cast<std::int16_t>(s), static_cast<std::int16_t>(100 + s)};
    });
    std::vector<store::MemoryRow> rows;
    for (int s = 1; s <= 64; ++s) rows.push_back({1, s, s, 100 + s, 1, 0});
    EXPECT_TRUE(store_.WriteMemorySteps(1, rows));
  }
  // A console whose writes wait 50 ms for a lock, opened and compiled at start.
  int AddressOf(int channel) {
    auto row = store_.ChannelByNumber(channel).value_or(std::nullopt);
    return row ? row->modbusAddress : 0;
  }
  Console& Compiled(const std::string& start) {
    console_ = std::make_unique<Console>(folder_, quick_, hooked_, view_, info_);
    console_->Load();
    console_->Activate();
    EXPECT_TRUE(console_->Program().OpenProfile(folder_.Profiles() / "cure.txt"));
    console_->Program().SetStartStepText(start);
    console_->Program().BuildAndCheckTarget();
    view_.messages.clear();
    return *console_;
  }
  int Writes() const {
    int writes = 0;
    for (const auto& frame : sim_.Requests()) writes += frame[1] == 0x10 || frame[1] == 0x05;
    return writes;
  }
  std::vector<int> Unknown() {
    std::vector<int> steps;
    for (const auto& row : store_.UnknownSteps(1).value_or({})) steps.push_back(row.segment);
    return steps;
  }
  // Steps whose row is unmarked and holds other words than the controller.
  std::vector<int> Disagreeing() {
    std::vector<int> steps;
    for (const auto& r : store_.Memory(1).value_or({}))
      if (r.unknown == 0 && r.modified == 0 && Mapped(r.segment) != Held(r.segment, r.segment)[0])
        steps.push_back(r.segment);
    return steps;
  }

  store::ConfigStore quick_{folder_.ConfigDatabase(), std::chrono::milliseconds(50)};
};

TEST_F(Records, ALockedDatabaseStopsEachCommandBeforeTheControllerIsTouched) {
  ASSERT_TRUE(store_.WriteLogEntry({1, "old.txt", 12, 20, "K", "F", "M", "SV"}));
  ASSERT_TRUE(store_.WriteLogEntry({1, "run.txt", 1, 3, "K", "F", "M", "SV"}));
  ASSERT_TRUE(store_.SaveRunSelection(1, "run.txt", 1, 3));
  sim_.EditUnit(1, [](sim::UnitState& u) { u.programLowStep = 1, u.programHighStep = 3, u.runMode = 2; });
  sim_.FrontPanelStart(1);
  Console& console = Compiled("10");
  console.RunMonitor().ReadControllerRunMode();
  const auto before = sim_.Registers(1);
  {
    Lock lock(folder_.ConfigDatabase());
    sim_.ClearRequests();
    EXPECT_FALSE(console.ProfileUpload().Run({"cure.txt", "10", "SV"}).logged) << "over old.txt at 12..20";
    EXPECT_THAT(view_.messages, HasSubstr("locked"));
    EXPECT_THAT(view_.messages, HasSubstr("Nothing was written to the controller"));
    console.Log().DeleteProfile(2);
    console.Log().ClearProfileLog();
    EXPECT_FALSE(console.Memory().ClearProgramRange(30, 31));
    EXPECT_FALSE(console.RunControls().JumpToSegmentPoint("2", "1"));
    EXPECT_FALSE(console.RunControls().StartProfile());
    EXPECT_FALSE(console.RunControls().PauseProfile());
    EXPECT_THAT(view_.messages, HasSubstr("the run state Restart resumes from could not be stored"));
    EXPECT_FALSE(console.Memory().DownloadProgramRange(5, 6).has_value());
    EXPECT_THAT(view_.messages, HasSubstr("The memory map of steps 5 to 6 could not be stored"));
    console.Log().Show(1);
    EXPECT_FALSE(console.RunControls().SelectRunProfile(1)) << "old.txt";
    EXPECT_THAT(view_.messages, HasSubstr("Database locked"));
  }
  EXPECT_EQ(Writes(), 0);
  EXPECT_EQ(sim::ChangedRegisters(before, sim_.Registers(1)), std::vector<std::uint16_t>{});
  EXPECT_EQ(store_.Log(1).value_or({}).size(), 2u);
  EXPECT_THAT(Unknown(), ElementsAre());
  EXPECT_THAT(store_.ModifiedSteps(1).value_or({}), ElementsAre());
}

// A jump needs no stored original of the steps it borrows: one the map may not hold, or has no
// row for (a channel added before channels got their rows), is read or created, never a refusal.
TEST_F(Records, AJumpNeverRefusesForARowTheMapLacksAndStartNeverWritesAStaleOriginal) {
  ASSERT_TRUE(store_.WriteLogEntry({1, "run.txt", 1, 10, "K", "F", "M", "SV"}));
  ASSERT_TRUE(store_.SaveRunSelection(1, "run.txt", 1, 10));
  sim_.EditUnit(1, [](sim::UnitState& u) { u.programLowStep = 1, u.programHighStep = 10, u.runMode = 2; });
  sim_.FrontPanelStart(1);
  // Step 5 was a jump's, then an upload began over it; step 64 has no row at all.
  ASSERT_TRUE(store_.SetStepModified(1, 5, 1));
  ASSERT_TRUE(store_.MarkStepsUnknown(1, 5, 5, store::TouchedLogRows::Keep).ok());
  SQLite::Database(folder_.ConfigDatabase().string(), SQLite::OPEN_READWRITE)
      .exec("DELETE FROM ControllerMemory WHERE Segment = 64");
  sim_.EditUnit(1, [](sim::UnitState& u) { u.steps[4] = {2, 77, 777}; });
  Console& console = Started();
  console.RunMonitor().ReadControllerRunMode();
  EXPECT_TRUE(console.RunControls().JumpToSegmentPoint("3", "1")) << view_.messages;
  EXPECT_EQ(sim_.Unit(1).currentStep, 3);
  EXPECT_THAT(Disagreeing(), ElementsAre());

  console.RunControls().StartProfile();
  EXPECT_EQ(sim_.Unit(1).steps[4].temperature, 777) << "the stale original is not written over the new words";
  EXPECT_THAT(store_.ModifiedSteps(1).value_or({}), ElementsAre());
  EXPECT_THAT(Unknown(), ElementsAre(5, 64));
}

// Select records what it is about to write before it writes: when the database refuses the
// selection once the controller holds the limits, the intent stays, and the next command that
// needs the selection settles it with the controller's limits.
TEST_F(Records, ASelectionIsRecordedBeforeItsLimitsAreWrittenAndSettledByTheNextCommand) {
  ASSERT_TRUE(store_.WriteLogEntry({1, "run.txt", 1, 3, "K", "F", "M", "SV"}));
  ASSERT_TRUE(store_.WriteLogEntry({1, "old.txt", 12, 20, "K", "F", "M", "SV"}));
  ASSERT_TRUE(store_.SaveRunSelection(1, "run.txt", 1, 3));
  sim_.EditUnit(1, [](sim::UnitState& u) { u.programLowStep = 1, u.programHighStep = 3; });
  Console& console = Compiled("40");
  console.Log().Show(1);
  std::optional<Lock> lock;
  hooked_.writes = 0;
  hooked_.before = [&](int) {
    if (hooked_.writes > 0 && !lock) lock.emplace(folder_.ConfigDatabase());  // after the first limit
  };
  EXPECT_FALSE(console.RunControls().SelectRunProfile(2));
  hooked_.before = nullptr;
  lock.reset();
  EXPECT_EQ((std::pair<int, int>(sim_.Unit(1).programLowStep, sim_.Unit(1).programHighStep)), std::pair(12, 20));
  EXPECT_THAT(view_.messages, HasSubstr("not confirmed"));
  EXPECT_EQ(console.RunControls().GetSavedProgramLimits(1), std::pair(12, 20))
      << "settled with the controller's limits";
  EXPECT_EQ(store_.ControllerConfig(1).value_or({}).value_or(store::ControllerConfigRow{}).profileNameExecuting,
            "old.txt");
}

TEST_F(Records, StepsWrittenAndNotReadBackStayMarkedShownAsUnknownAndOfferedForDownload) {
  Console& console = Compiled("31");
  hooked_.exchanges = 0;
  // The writes go through; the read-back and the second reading after it do not.
  hooked_.before = [this](int exchange) {
    if (exchange >= 12) sim_.InjectFault(sim::Fault::NoReply);
  };
  EXPECT_FALSE(console.ProfileUpload().Run({"cure.txt", "31", "SV"}).logged);
  hooked_.before = nullptr;
  EXPECT_EQ(sim_.Unit(1).steps[31].duration, 45) << "the controller holds the program";
  EXPECT_THAT(Unknown(), ElementsAre(31, 32, 33));
  EXPECT_THAT(Disagreeing(), ElementsAre());
  const auto& grid = view_.gridRows[Grid::ProgramMemory];
  EXPECT_EQ(grid[31], (std::vector<std::string>{"", "1", "32", "?", "?", "?", "0"}));
  EXPECT_EQ(grid[33][3], "34") << "an unmarked step shows its words";
  EXPECT_THAT(view_.messages, HasSubstr("Steps 31 to 33 of unit #1 may hold other words than the memory map"));
  EXPECT_EQ(view_.fields[Field::DownloadStartStep], "31");
  EXPECT_EQ(view_.fields[Field::DownloadStopStep], "33");

  Console& again = Started();  // the next start says so too
  EXPECT_THAT(view_.messages, HasSubstr("Use DownLoad Memory with Low Step 31 and High Step 33 to read them"));
  again.Memory().DownloadMemory("31", "33");
  EXPECT_THAT(Unknown(), ElementsAre());
  EXPECT_EQ(store_.MemoryStep(1, 32).value_or(std::nullopt).value_or(store::MemoryRow{}).duration, 45);
  EXPECT_EQ(view_.gridRows[Grid::ProgramMemory][31][3], "45");

  // Another controller put at the address: every step is unknown, and the reason is that one.
  ASSERT_TRUE(store_.DeleteChannel(1));
  ASSERT_TRUE(store_.AddChannel({1, 1, "Other", "xmt63"}));
  Started();
  EXPECT_THAT(view_.messages,
              HasSubstr("Steps 1 to 64 of unit #1 may hold other words than the memory map (shown as ?): "
                        "they have not been read since a controller was put at this address"));
}

TEST_F(Records, AClearTakesTheLogRowsItTouchesOutBeforeItWrites) {
  Console& console = Compiled("31");
  ASSERT_TRUE(console.ProfileUpload().Run({"cure.txt", "31", "SV"}).logged);
  view_.messages.clear();
  EXPECT_TRUE(console.Memory().ClearProgramRange(31, 32));
  EXPECT_THAT(store_.Log(1).value_or({}), ElementsAre()) << "step 33 alone is not cure.txt";
  EXPECT_THAT(view_.messages, HasSubstr("Profile cure.txt (steps 31 to 33) taken out of the profile log"));
  EXPECT_THAT(Unknown(), ElementsAre());

  // A database locked once the zeros are written is said to be locked, never a line failure.
  std::optional<Lock> lock;
  hooked_.writes = 0;
  hooked_.before = [&](int) {
    if (hooked_.writes > 0 && !lock) lock.emplace(folder_.ConfigDatabase());
  };
  view_.messages.clear();
  EXPECT_FALSE(console.Memory().ClearProgramRange(40, 41));
  hooked_.before = nullptr;
  lock.reset();
  EXPECT_THAT(view_.messages, HasSubstr("Database locked"));
  EXPECT_THAT(view_.messages, ::testing::Not(HasSubstr(kCommError)));
  EXPECT_THAT(Unknown(), ElementsAre(40, 41)) << "written, not read back into the map";
}

TEST_F(Records, AKillAtAnyExchangeLeavesNoUnmarkedRowThatDisagreesAndDownloadClearsTheMarks) {
  line_.Close();  // the port is the child's
  const std::string file = (folder_.Profiles() / "cure.txt").string();
  // The fourth exchange writes, the twelfth reads back; the upload makes 20 in all.
  for (int at : {4, 8, 12, 16}) {
    sim_.ClearRequests();
    const pid_t child = testing::SpawnCli(folder_.Root(), {"upload", "1", file, "31", "--yes"}, sim_.DevicePath());
    ASSERT_GT(child, 0);
    testing::KillWhen(child, [&] { return sim_.WaitForRequests(at, std::chrono::seconds(20)); });
    EXPECT_THAT(Disagreeing(), ElementsAre()) << "killed at exchange " << at;
    if (!store_.Log(1).value_or({}).empty()) {
      EXPECT_EQ(sim_.Unit(1).steps[31].duration, 45) << "logged, so written";
    }
  }
  auto download = testing::RunCli(folder_.Root(), {"download", "1", "31", "33"}, sim_.DevicePath());
  EXPECT_EQ(download.exitCode, 0) << download.out << download.err;
  EXPECT_THAT(Unknown(), ElementsAre());
  EXPECT_THAT(Disagreeing(), ElementsAre());

  // Killed between the address change and its record: the next command on the line asks both.
  sim_.ClearRequests();
  const pid_t child = testing::SpawnCli(folder_.Root(), {"address", "1", "7"}, sim_.DevicePath());
  // Three probes of 7 (a free address is one that never answers), then the write.
  testing::KillWhen(child, [&] { return sim_.WaitForRequests(4, std::chrono::seconds(20)); });
  auto next = testing::RunCli(folder_.Root(), {"log", "1"}, sim_.DevicePath());
  EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
  const int at = sim_.HasUnit(7) ? 7 : 1;
  EXPECT_EQ(AddressOf(1), at);
  EXPECT_THAT(store_.PendingAddressChanges().value_or({}), ElementsAre());
}

TEST_F(Records, TheNextStartSettlesARecordedAddressChangeByAskingBothAddresses) {
  ASSERT_TRUE(store_.RecordAddressChange(1, 7));
  ASSERT_EQ(link::CommandSet(line_).WriteUnitAddress(1, 7),
            link::Outcome::Ok);  // the unit took it, the database did not
  Started();
  EXPECT_EQ(AddressOf(1), 7);
  EXPECT_EQ(store_.MemoryStep(7, 5).value_or(std::nullopt).value_or(store::MemoryRow{}).temperature, 105)
      << "its rows went with it";
  EXPECT_THAT(view_.messages, HasSubstr("Channel 1 moved to ModBusAddress=7"));

  ASSERT_TRUE(store_.RecordAddressChange(7, 9));  // the unit never got this one
  Started();
  EXPECT_EQ(AddressOf(1), 7);
  EXPECT_THAT(view_.messages, HasSubstr("Unit #7 kept its address"));
  EXPECT_THAT(store_.PendingAddressChanges().value_or({}), ElementsAre());

  ASSERT_TRUE(store_.RecordAddressChange(5, 9));  // nobody answers at either
  Started();
  EXPECT_THAT(view_.messages,
              HasSubstr("The address change of unit #5 to 9 is not confirmed: neither address answers"));
  EXPECT_EQ(store_.PendingAddressChanges().value_or({}).size(), 1u);
}

}  // namespace
}  // namespace tarvel::console
