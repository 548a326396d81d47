// Loads: one record per load through pauses, a restart of the recording process, lost readings
// and a full disk; its checks and result; the starts that are refused.
#include <gmock/gmock.h>

#include <SQLiteCpp/Database.h>

#include "load_fixture.h"
#include "profile/chart_data.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "watch/design_band.h"
#include "watch/load_checks.h"
#include "watch/load_start.h"

namespace tarvel::watch {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;

std::vector<std::pair<std::string, int>> Events(const LoadRecord& record) {
  std::vector<std::pair<std::string, int>> kinds;
  for (const LoadEvent& e : record.events) kinds.emplace_back(e.kind, e.channel);
  return kinds;
}

// "name ch PASS|FAIL: reason" of each check, as the report lists them.
std::vector<std::string> Checks(const LoadRecord& record) {
  std::vector<std::string> checks;
  for (const LoadCheck& c : record.checks)
    checks.push_back(c.name + " " + std::to_string(c.channel) + (c.pass ? " PASS" : " FAIL") + ": " + c.reason);
  return checks;
}

long long Count(const LoadRecord& record, bool gaps) {
  return std::count_if(record.samples.begin(), record.samples.end(),
                       [&](const LoadSample& s) { return s.gap == gaps; });
}

TEST_F(LoadRun, AZoneRunThroughAPauseARecordingRestartAndALostControllerIsOneRecordThatFails) {
  const std::vector<int> kiln{1, 2};
  auto tracker = Tracker();
  auto id = tracker->Start(Plan(kiln));
  ASSERT_TRUE(id.ok()) << id.status().message();
  double minute = 0;
  auto run = [&](double until, std::map<int, int> offset = {}, std::set<int> failing = {}) {
    for (; minute < until; minute += 0.25) Sweep(*tracker, kiln, minute, 2, offset, failing);
  };
  run(5);
  run(5.5, {{1, 15}});  // channel 1 runs 15 above the design, outside its band of 10, for two readings
  run(10);
  for (int ch : kiln)
    ASSERT_TRUE(tracker->Act({LoadAction::Kind::Pause, ch, now_, "Ann Smith", "Pause Profile", "2", "0"}));
  for (int held = 0; held < 4; ++held) Sweep(*tracker, kiln, minute, 0);  // run mode 0: the program stands
  for (int ch : kiln)
    ASSERT_TRUE(tracker->Act({LoadAction::Kind::Restart, ch, now_, "Ann Smith", "Restart Profile", "0", "2"}));
  run(40);
  run(41, {}, {2});  // in the hold, channel 2 does not answer for four readings
  run(50);
  tracker.reset();  // the recording process stops for two minutes while the program runs on
  now_ += 2min;
  minute += 2;
  tracker = Tracker();
  EXPECT_EQ(tracker->LoadOf(2), *id);
  run(75.25);  // both reach the end step

  ASSERT_EQ(Records().size(), 1u);
  EXPECT_TRUE(tracker->OpenLoads().empty());
  const RecordVerdict verdict = VerifyLoad(folder_, store_, *id);
  EXPECT_TRUE(verdict.Whole()) << verdict.breaks.front().what;
  auto record = ReadLoadRecord(LoadFile(folder_, *id));
  ASSERT_TRUE(record.ok()) << record.status().message();
  EXPECT_EQ(
      record->header.fields,
      (std::vector<ShopField>{{"Customer", "=HYPERLINK(\"x\")"}, {"Order", "4711"}, {"Notes", "rack 3, top shelf"}}));
  EXPECT_EQ(Count(*record, false), readings_);
  EXPECT_EQ(Count(*record, true), 4);
  EXPECT_THAT(Events(*record),
              ElementsAre(Pair("start", 0), Pair("pause", 1), Pair("pause", 2), Pair("restart", 1), Pair("restart", 2),
                          Pair("communication lost", 2), Pair("communication back", 2), Pair("recording resumed", 0),
                          Pair("end", 1), Pair("end", 2)));
  EXPECT_THAT(Checks(*record),
              ElementsAre("Required fields 0 PASS: every required field was given",
                          "Program run to its end 0 PASS: every controller reached its end step",
                          "Out of band 1 FAIL: 0.5 minutes out of band (above 0.5, below 0.0)",
                          // The step time is read in whole minutes: the part of the minute is known
                          // once a minute has been seen to pass, to within half a sweep.
                          "Largest deviation 1 FAIL: largest above +15 at 2026-12-07T10:05:15Z, largest below -1 at "
                          "2026-12-07T10:01:00Z; outside the band",
                          "Longest gap 1 FAIL: 0:02:15 from 2026-12-07T10:50:45Z (at most 0:00:30)",
                          "Communication during holds 1 PASS: no reading failed during a hold",
                          "Out of band 2 PASS: 0.0 minutes out of band (above 0.0, below 0.0)",
                          "Largest deviation 2 PASS: largest above +5 at 2026-12-07T10:00:45Z, largest below -1 at "
                          "2026-12-07T10:01:00Z",
                          "Longest gap 2 FAIL: 0:02:15 from 2026-12-07T10:50:45Z (at most 0:00:30)",
                          "Communication during holds 2 FAIL: 4 readings failed during a hold (segment 2, from "
                          "2026-12-07T10:41:00Z)",
                          // Lost: the minutes without channel 2 and those while nothing was recorded.
                          "Soak, segment 2 0 FAIL: 40.75 of 45.00 minutes with every controller in band"));
  ASSERT_TRUE(record->close);
  EXPECT_FALSE(record->close->pass);
  EXPECT_EQ(record->close->ended, "end step reached");
}

// A zone's load is over when every member that ran has ended: one that never started is marked
// so, rather than holding the load open for ever; a load none of whose members starts closes too.
TEST_F(LoadRun, AZoneMemberThatNeverStartsIsMarkedAndTheLoadStillCloses) {
  auto tracker = Tracker();
  auto id = tracker->Start(Plan({1, 2}));
  auto idle = tracker->Start(Plan({3}));
  ASSERT_TRUE(id.ok() && idle.ok());
  for (double minute = 0; minute <= 75.25; minute += 0.25) {
    LoadReading held{2, now_, true, "", 0, 1, 0, 70, 70, 1, 3, std::nullopt};  // channel 2 stays in run mode 0
    tracker->Take(held);
    Sweep(*tracker, {1}, minute);
    if (minute == 16) {
      EXPECT_EQ(tracker->OpenLoads(), (std::vector<std::string>{*id, *idle}));
      Sweep(*tracker, {3}, 0, 0);  // 15 minutes after its start: not waited for any more
    }
  }
  EXPECT_TRUE(tracker->OpenLoads().empty());
  auto record = ReadLoadRecord(LoadFile(folder_, *id));
  ASSERT_TRUE(record.ok() && record->close);
  EXPECT_THAT(Events(*record), ElementsAre(Pair("start", 0), Pair("end", 1), Pair("end", 2)));
  EXPECT_EQ(record->events.back().what, "not started");
  EXPECT_THAT(Checks(*record), ::testing::Contains("Program run to its end 0 FAIL: ch 2: not started"));
  record = ReadLoadRecord(LoadFile(folder_, *idle));
  ASSERT_TRUE(record.ok() && record->close);
  EXPECT_EQ(record->close->ended, "no program started within 15 minutes");
}

TEST_F(LoadRun, AnUndisturbedRunStartedOnTheFrontPanelPassesEveryCheck) {
  testing::WriteAll(folder_.Setup() / "LoadFields.txt", "# the shop's fields\nOrder\nCustomer\n");
  auto tracker = Tracker();
  tracker->SetPlanner([this](int channel) {
    LoadPlan plan = Plan({channel});
    plan.operatorName.clear();  // no client asked for this start
    return std::optional<LoadPlan>(plan);
  });
  Sweep(*tracker, {3}, 0, 0);  // idle in run mode 0: no load
  EXPECT_FALSE(tracker->LoadOf(3));
  for (double minute = 0; minute <= 75; minute += 0.25) Sweep(*tracker, {3}, minute);
  Sweep(*tracker, {3}, 75);  // still at its end step: the load is over

  ASSERT_EQ(Records().size(), 1u);
  auto record = ReadLoadRecord(Records().front());
  ASSERT_TRUE(record.ok()) << record.status().message();
  EXPECT_EQ(record->header.startedBy, "front panel");
  EXPECT_EQ(record->header.operatorName, "");
  EXPECT_EQ(Count(*record, false), readings_ - 2);  // from the start on, up to the end step
  ASSERT_TRUE(record->close);
  EXPECT_TRUE(record->close->pass) << ::testing::PrintToString(Checks(*record));
  EXPECT_THAT(Checks(*record),
              ::testing::Contains("Soak, segment 2 0 PASS: 45.00 of 45.00 minutes with every controller in band"));
  EXPECT_TRUE(VerifyLoad(folder_, store_, record->header.loadId).Whole());
}

TEST_F(LoadRun, AStartWithoutARequiredFieldOrOperatorIsRefusedWithTheFieldNamed) {
  testing::WriteAll(folder_.Setup() / "LoadFields.txt",
                    "Customer\nOrder *\nPart numbers\nQuantity\nMaterial\nStandard\nRevision\nNotes\n");
  auto tracker = Tracker();
  LoadPlan plan = Plan({1});
  plan.fields = {{"Customer", "ACME"}, {"Order", "  "}};
  EXPECT_EQ(tracker->Start(plan).status().message(), "Load not started: the field Order is required");
  plan.fields = {{"Ordre", "4711"}};
  EXPECT_THAT(tracker->Start(plan).status().message(),
              HasSubstr("the shop has no field Ordre (its fields: Customer, Order,"));
  plan = Plan({1});
  plan.operatorName = "";
  EXPECT_EQ(tracker->Start(plan).status().message(), "Load not started: Operator is required");
  EXPECT_TRUE(Records().empty());

  ASSERT_TRUE(tracker->Start(Plan({1})).ok());
  EXPECT_THAT(tracker->Start(Plan({2, 1})).status().message(), HasSubstr("channel 1 is in load L-20261207-0001-Zone1"));
}

// A start seen on a zone member is the zone's load: every member, the profile and the steps the
// started controller runs, and the operator and fields a client's start left for it.
TEST_F(LoadRun, AStartIsPlannedFromTheStoreWithTheZoneAndTheClientsFields) {
  for (int ch : {1, 2, 3}) {
    ASSERT_TRUE(
        store_.AddChannel({ch, ch + 10, "Zone " + std::to_string(ch), "set64rs", "/dev/ttyUSB" + std::to_string(ch)}));
    ASSERT_TRUE(store_.ResetControllerMemory(ch + 10));
  }
  ASSERT_TRUE(store_.SetZone(1, "Kiln"));
  ASSERT_TRUE(store_.SetZone(3, "Kiln"));
  ASSERT_TRUE(store_.WriteMemorySteps(11, {{11, 4, 30, 70, 1, 0}, {11, 5, 45, 250, 2, 0}, {11, 6, 0, 250, 1, 0}}));
  ASSERT_TRUE(store_.SaveRunSelection(11, "cure.txt", 5, 6));
  ASSERT_TRUE(RequestLoadStart(folder_, store_, {1, 3}, "Ann Smith", {{"Order", "4711"}}, "tarvel-cli", now_));

  const auto plan = PlanFromStore(folder_, store_, 1, 15);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->furnace, "Kiln");
  EXPECT_EQ(plan->controllers,
            (std::vector<LoadController>{{1, "Zone 1", 11, "/dev/ttyUSB1"}, {3, "Zone 3", 13, "/dev/ttyUSB3"}}));
  EXPECT_EQ(std::tuple(plan->profileName, plan->lowStep, plan->highStep), std::tuple("cure.txt", 5, 6));
  EXPECT_EQ(plan->program, (std::vector<LoadStep>{{5, 2, 45, 250}, {6, 1, 0, 250}}));
  EXPECT_EQ(std::tuple(plan->operatorName, plan->startedBy), std::tuple("Ann Smith", "tarvel-cli"));
  EXPECT_EQ(plan->fields, (std::vector<ShopField>{{"Order", "4711"}}));
  // Channel 2, on its own, was started on its panel: nobody asked.
  const auto alone = PlanFromStore(folder_, store_, 2, 15);
  ASSERT_TRUE(alone);
  EXPECT_EQ(std::tuple(alone->furnace, alone->operatorName, alone->startedBy, alone->controllers.size()),
            std::tuple("", "", "front panel", 1u));
  EXPECT_FALSE(PlanFromStore(folder_, store_, 9, 15)) << "not mapped";
}

// The end row has no limit of its own: the last segment keeps its band up to the profile's end,
// rather than narrowing it to nothing, which put a load on its design out of band at the end.
TEST_F(LoadRun, TheLastSegmentKeepsItsBandToTheProfilesEnd) {
  const auto table = profile::ParseProfileText(profile::LoadProfileFile(folder_.Profiles() / "cure.txt").value());
  const int last = profile::LastProfileRow(table);
  const double end = profile::ProfileEndTime(table, last).value();
  for (double minute : {15.0, 31.0, 60.0, 74.9}) {
    const auto point = DesignAt(table, last, end, minute);
    ASSERT_TRUE(point && point->low && point->high) << minute;
    EXPECT_EQ(std::tuple(*point->low, *point->high), std::tuple(point->design - 10, point->design + 10)) << minute;
  }
  EXPECT_FALSE(DesignAt(table, last, end, 75)->low) << "no band once the profile has ended";
}

// An operator's jump back into a hold runs part of it again: the minutes soaked twice count once,
// and the stretch across the jump (time going back) counts for nothing.
TEST(LoadChecks, AJumpBackIntoAHoldSoaksItsMinutesOnce) {
  LoadRecord record;
  LoadHeader& h = record.header;
  h.opened = *ParseUtcTime("2026-12-07T10:00:00Z");
  h.controllers = {{1, "Zone 1", 1, "/dev/ttyUSB0"}};
  h.design = {DesignRow{"0.00", "30", "r", "70", "250", "6.00", "10"},
              DesignRow{"30.00", "45", "h", "250", "250", "0.00", "10"}};
  auto at = h.opened;
  auto run = [&](double from, double to) {
    for (double minute = from; minute <= to; minute += 0.25, at += 15s) {
      LoadSample s;
      s.at = at;
      s.channel = 1;
      s.time = minute;
      s.runMode = 2;
      s.processValue = 250;
      s.design = 250, s.low = 240, s.high = 260;
      s.band = LoadBand::In;
      record.samples.push_back(s);
    }
  };
  run(40, 50);
  run(35, 45);  // the jump back
  at += 5min;   // not recorded: no soak across it
  run(60, 62);
  const LoadResult result = CheckLoad(record, at);
  ASSERT_FALSE(result.checks.empty());
  EXPECT_EQ(result.checks.back().reason, "17.00 of 45.00 minutes with every controller in band");
}

// A line service has a tracker per line: each continues only the open loads of its own channels,
// so that no record gets two writers.
TEST_F(LoadRun, ATrackerContinuesOnlyTheOpenLoadsItIsGiven) {
  auto tracker = Tracker();
  auto one = tracker->Start(Plan({1}));
  auto two = tracker->Start(Plan({2}));
  ASSERT_TRUE(one.ok() && two.ok());
  tracker.reset();
  LoadTracker second(
      folder_, store_, [this] { return now_; }, OpenRecordFile,
      [](const store::LoadRow& row) { return row.channels == "2"; });
  EXPECT_EQ(second.OpenLoads(), std::vector<std::string>{*two});
  EXPECT_FALSE(second.LoadOf(1));
}

// A database another program holds locked at the close loses nothing either: the seal goes into
// the Loads table at the first reading after it is free.
TEST_F(LoadRun, AFullDiskOrALockedDatabaseLosesNoSampleAndTheRecordSaysFromWhenToWhenItCouldNotWrite) {
  store::ConfigStore quick(folder_.ConfigDatabase(), 10ms);  // a lock is met at once, not after 5 s
  auto tracker = Tracker(&quick);
  auto id = tracker->Start(Plan({1}));
  ASSERT_TRUE(id.ok());
  double minute = 0;
  const int started = syncs_;
  for (; minute < 2; minute += 0.25) Sweep(*tracker, {1}, minute);
  EXPECT_GT(syncs_, started) << "the samples of two minutes are on the disk, not only written";
  const auto full = now_;
  diskFull_ = true;
  for (; minute < 5; minute += 0.25) Sweep(*tracker, {1}, minute);
  ASSERT_TRUE(tracker->Act({LoadAction::Kind::SetValue, 1, now_, "Ann Smith", "Set Value", "250", "240"}));
  diskFull_ = false;
  const auto freed = now_;
  for (; minute < 70; minute += 0.25) Sweep(*tracker, {1}, minute);
  SQLite::Database other(folder_.ConfigDatabase().string(), SQLite::OPEN_READWRITE);
  other.exec("BEGIN EXCLUSIVE");
  for (; minute <= 75; minute += 0.25) Sweep(*tracker, {1}, minute);
  EXPECT_EQ(tracker->OpenLoads(), std::vector<std::string>{}) << "closed in its record";
  EXPECT_EQ(store_.Load(*id).value()->state, "open") << "not yet in the table";
  other.exec("ROLLBACK");
  Sweep(*tracker, {1}, 75, 0);
  --readings_;  // after the close: in no load
  EXPECT_THAT(messages_, ::testing::Contains(::testing::AllOf(HasSubstr("is in use by another program"),
                                                              HasSubstr("tried again at the next reading"))));

  EXPECT_THAT(messages_, ::testing::Contains(HasSubstr("the disk is full; the load's lines are kept")));
  const RecordVerdict verdict = VerifyLoad(folder_, store_, *id);
  EXPECT_TRUE(verdict.Whole()) << verdict.breaks.front().what;
  auto record = ReadLoadRecord(LoadFile(folder_, *id));
  ASSERT_TRUE(record.ok());
  EXPECT_EQ(Count(*record, false), readings_);
  auto hole = std::find_if(record->events.begin(), record->events.end(),
                           [](const LoadEvent& e) { return e.kind == event::kNotWritten; });
  ASSERT_NE(hole, record->events.end());
  EXPECT_EQ(hole->from, full);
  EXPECT_EQ(hole->to, freed + 30s);  // writing is tried again every 30 seconds
  EXPECT_THAT(hole->what, HasSubstr("the disk is full; 16 lines kept"));
  ASSERT_TRUE(record->close);
  EXPECT_TRUE(record->close->pass);
}

}  // namespace
}  // namespace tarvel::watch
