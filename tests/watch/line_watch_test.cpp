// The line watch against simulated controllers: the order of the sweep, recording of every
// running controller, alarms, the console's monitor as a view, zone spreads.
#include <gmock/gmock.h>

#include <cmath>

#include "console/console.h"
#include "console/trend_points.h"
#include "profile/log_file.h"
#include "support/hooked_line.h"
#include "support/reading_frames.h"
#include "support/recording_view.h"
#include "watch/load_book.h"
#include "watch/load_start.h"
#include "watch_fixture.h"

namespace tarvel::watch {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

using testing::Reading;
using testing::Reads;

template <class T>
std::vector<T> Joined(std::initializer_list<std::vector<T>> parts) {
  std::vector<T> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

class Sweeping : public WatchFixture {
 protected:
  Sweeping() : WatchFixture({1, 2, 3}) {}

  // What the controller held when it was read, as its log should have it.
  profile::LogPoint Expected(int address, double time) {
    const sim::UnitState unit = sim_.Unit(static_cast<std::uint8_t>(address));
    return {time, double(unit.profileSetPoint), double(std::lround(unit.processTemperature))};
  }
};

// What the sweep feeds a load: the client's start with its operator, the alarms and their
// acknowledgement, the actions left in the store, a controller that did not answer. The load's
// own rules (its checks, gaps, a restart of the recording) are the tracker's tests.
TEST_F(Sweeping, TheSweepFeedsALoadItsStartAlarmsActionsAndSilence) {
  Map(1, 1, "Kiln");
  RunCure(1);
  ASSERT_TRUE(store_.WriteMemorySteps(1, {{1, 3, 0, 250, 1, 0}}));  // the end step holds the design's 250
  sim_.EditUnit(1, [](sim::UnitState& u) {
    u.steps[2] = {1, 0, 250};
    u.running = false;
    u.runMode = 0;
  });
  auto now = *ParseUtcTime("2026-12-07T10:00:00Z");
  LineWatch watch(folder_, store_, line_, [&now] { return now; });
  watch.Apply({60s, 2});
  auto sweep = [&](int minutes, int offset = 0) {  // a sweep a minute, the process on the design
    for (int i = 0; i < minutes; ++i) {
      sim_.AdvanceTime(1min);
      now += 1min;
      sim_.EditUnit(1, [offset](sim::UnitState& u) { u.processTemperature = u.profileSetPoint + offset; });
      watch.RunSweep();
    }
  };
  auto mode = [&](std::uint8_t code) {
    sim_.EditUnit(1, [code](sim::UnitState& u) {
      u.held = code == 0;
      u.running = code != 0;
      u.runMode = code;
    });
  };
  ASSERT_TRUE(RequestLoadStart(folder_, store_, {1}, "Ann Smith", {{"Order", "4711"}}, "tarvel-cli", now));
  mode(2);
  sim_.FrontPanelStart(1);
  sweep(10);
  sweep(2, 30);  // out of the band of 10 for two readings: an alarm
  ASSERT_TRUE(
      store_.AcknowledgeAlarm(1, "Bo", std::chrono::floor<std::chrono::milliseconds>(now).time_since_epoch().count())
          .ok());
  sweep(1);
  ASSERT_TRUE(store_.AddLoadAction(ActionRow(1, "pause", "Ann Smith", "Pause Profile", "mode 2", "mode 0", now)));
  mode(0);
  sweep(3);
  ASSERT_TRUE(store_.AddLoadAction(ActionRow(1, "restart", "Ann Smith", "Restart Profile", "mode 0", "mode 2", now)));
  mode(2);
  sweep(32);
  sim_.InjectFault(sim::Fault::NoReply, 1);  // in the hold
  sweep(40);

  const auto records = FilesIn(LoadsFolder(folder_));
  ASSERT_EQ(records.size(), 1u);
  auto record = ReadLoadRecord(records.front());
  ASSERT_TRUE(record.ok()) << record.status().message();
  EXPECT_EQ(std::tuple(record->header.operatorName, record->header.startedBy), std::tuple("Ann Smith", "tarvel-cli"));
  EXPECT_TRUE(store_.LoadActions().value().empty());
  std::vector<std::string> events;
  for (const LoadEvent& e : record->events) events.push_back(e.kind + " " + e.who);
  // One reading back in band does not clear the alarm; the pause does.
  EXPECT_THAT(events, ::testing::ElementsAre("start Ann Smith", "alarm raised ", "alarm acknowledged Bo",
                                             "pause Ann Smith", "alarm cleared ", "restart Ann Smith",
                                             "communication lost ", "communication back ", "end "));
  EXPECT_TRUE(record->close);
}

// A client's start that no run followed (the code never keyed, the client killed, nothing
// recording) expires after 15 minutes, said; a later, unrelated run does not take its operator.
TEST_F(Sweeping, AClientsStartNoRunFollowedExpiresAndALaterRunDoesNotTakeIt) {
  for (int unit = 1; unit <= 3; ++unit) Map(unit, unit, "Zone " + std::to_string(unit));
  auto now = *ParseUtcTime("2026-12-07T10:00:00Z");
  RunCure(1);
  sim_.AdvanceTime(5min);  // found running by a watch started now: the run began at 09:55
  ASSERT_TRUE(RequestLoadStart(folder_, store_, {1}, "Old Shift", {}, "tarvel-cli", now - 2h));
  ASSERT_TRUE(RequestLoadStart(folder_, store_, {2}, "Bo", {}, "console", now - 16min));  // idle since
  ASSERT_TRUE(RequestLoadStart(folder_, store_, {3}, "Cy", {}, "tarvel-cli", now - 14min));
  LineWatch watch(folder_, store_, line_, [&now] { return now; });
  std::vector<std::string> messages;
  watch.OnMessage([&](const std::string& text) {
    if (text.starts_with("The start")) messages.push_back(text);
  });
  watch.RunSweep();
  EXPECT_TRUE(FilesIn(LoadsFolder(folder_)).empty());
  EXPECT_THAT(messages, ::testing::ElementsAre(
                            "The start of channel 1 that Old Shift asked for at 2026-12-07T08:00:00Z expired: the "
                            "program found running began about 2026-12-07T09:55:00Z, more than 15 minutes after",
                            "The start of channel 2 that Bo asked for at 2026-12-07T09:44:00Z expired: no program "
                            "started within 15 minutes"));
  EXPECT_FALSE(store_.LoadStart(1).value());
  EXPECT_FALSE(store_.LoadStart(2).value());
  RunCure(3);  // within its 15 minutes: the load is Cy's
  now += 30s;
  watch.RunSweep();
  ASSERT_TRUE(watch.Loads()->LoadOf(3));
  EXPECT_EQ(ReadLoadRecord(LoadFile(folder_, *watch.Loads()->LoadOf(3)))->header.operatorName, "Cy");
}

TEST_F(Sweeping, ReadsEachMappedControllerInTurnAndGivesUpOnOneThatDoesNotAnswer) {
  Map(1, 1, "Kiln");
  Map(2, 3, "Oven");
  Map(3, 9, "Gone");  // nothing answers at 9
  Map(4, 2, "Dryer");
  line_.SetTiming({40ms, 40ms, 500ms, 0ms});
  Watch().RunSweep();
  EXPECT_EQ(Reads(sim_.Requests()), Joined({Reading(1, true), Reading(3, true), {{9, 0x200E}}, Reading(2, true)}));
  const auto& statuses = Watch().Statuses();
  ASSERT_EQ(statuses.size(), 4u);
  EXPECT_EQ(statuses.at(3).state, RunState::NoReply);
  EXPECT_EQ(statuses.at(3).failure, link::Outcome::NoReply);
  EXPECT_EQ(statuses.at(4).state, RunState::Idle);
  EXPECT_EQ(statuses.at(4).processValue, 70);

  // The map is read at the start of each sweep: a channel taken out is no longer asked.
  ASSERT_TRUE(store_.DeleteChannel(3));
  sim_.ClearRequests();
  Watch().RunSweep();
  EXPECT_EQ(Reads(sim_.Requests()), Joined({Reading(1), Reading(3), Reading(2)}));
  EXPECT_FALSE(Watch().Statuses().contains(3));
  EXPECT_EQ(Watch().CurrentSweep().Completed(), 2);
}

TEST_F(Sweeping, RecordsEveryRunningControllerInItsOwnFileOneRecordPerReading) {
  for (int unit = 1; unit <= 3; ++unit) Map(unit, unit, "Zone " + std::to_string(unit));
  RunCure(1);
  RunCure(2);
  sim_.AdvanceTime(5min);
  RunCure(3);  // started five minutes later
  std::map<int, std::vector<profile::LogPoint>> expected;
  for (int sweep = 1; sweep <= 3; ++sweep) {
    sim_.AdvanceTime(10min);
    Watch().RunSweep();
    for (int unit = 1; unit <= 3; ++unit) expected[unit].push_back(Expected(unit, 10.0 * sweep + (unit == 3 ? 0 : 5)));
  }
  for (int unit = 1; unit <= 3; ++unit) {
    const auto files = FilesIn(folder_.ChannelLogFolder(unit));
    ASSERT_EQ(files.size(), 1u) << "channel " << unit;
    EXPECT_EQ(fs::file_size(files[0]), 3 * profile::kLogRecordSize);
    EXPECT_EQ(profile::ReadLogFile(files[0]).value(), expected[unit]) << "channel " << unit;
    EXPECT_EQ(Watch().Statuses().at(unit).recording, files[0]);
  }

  // Unit 2 is paused (run mode 0): its run is over and it is not recorded, nor does its reading
  // replace the point Restart resumes from; started again, it gets a new file.
  auto restartPoint = [this] {
    const auto row = store_.ControllerConfig(2).value_or({}).value_or(store::ControllerConfigRow{});
    return std::tuple(row.runMode, row.segmentExecuting, row.segmentElapsedTime);
  };
  const auto beforePause = restartPoint();
  ASSERT_EQ(std::get<0>(beforePause), 2);
  sim_.EditUnit(2, [](sim::UnitState& u) { u.runMode = 0; });
  sim_.AdvanceTime(1min);
  Watch().RunSweep();
  EXPECT_EQ(Watch().Statuses().at(2).state, RunState::Held);
  EXPECT_EQ(restartPoint(), beforePause);
  EXPECT_EQ(fs::file_size(FilesIn(folder_.ChannelLogFolder(2))[0]), 3 * profile::kLogRecordSize);
  EXPECT_EQ(fs::file_size(FilesIn(folder_.ChannelLogFolder(1))[0]), 4 * profile::kLogRecordSize);
  RunCure(2);
  Watch().RunSweep();
  const auto files = FilesIn(folder_.ChannelLogFolder(2));
  ASSERT_EQ(files.size(), 2u);
  std::vector<std::uintmax_t> sizes = {fs::file_size(files[0]), fs::file_size(files[1])};
  EXPECT_THAT(sizes, ::testing::UnorderedElementsAre(3 * profile::kLogRecordSize, profile::kLogRecordSize));
}

// The console as a client of the line service watches the same line; the service records it.
// The console's watch shows every reading but writes nothing a second writer would spoil.
TEST_F(Sweeping, AWatchThatOnlyObservesShowsTheReadingsAndRecordsNothing) {
  Map(1, 1, "Kiln");
  RunCure(1);
  ASSERT_TRUE(store_.AddLoadAction(ActionRow(1, "pause", "Ann", "Pause Profile", "", "", SystemClock::now())));
  LineWatch observer(folder_, store_, line_);
  observer.ObserveOnly();
  sim_.AdvanceTime(10min);
  observer.RunSweep();
  sim_.EditUnit(1, [](sim::UnitState& u) { u.processTemperature = 900; });
  for (int sweep = 0; sweep < 3; ++sweep) observer.RunSweep();  // far out of band: an alarm shown, none logged

  EXPECT_EQ(observer.Statuses().at(1).state, RunState::Running);
  EXPECT_EQ(observer.Statuses().at(1).processValue, 900);
  EXPECT_TRUE(FilesIn(folder_.ChannelLogFolder(1)).empty());
  EXPECT_FALSE(fs::exists(observer.AlarmLog()));
  EXPECT_EQ(observer.Loads(), nullptr);
  EXPECT_EQ(store_.LoadActions().value().size(), 1u) << "the service's action, left for it";

  Watch().RunSweep();  // the recording watch takes what the observer left
  EXPECT_EQ(FilesIn(folder_.ChannelLogFolder(1)).size(), 1u);
  EXPECT_TRUE(store_.LoadActions().value().empty());
}

// A nickname is the user's text: one a spreadsheet would run as a formula is written as text.
TEST(AlarmLog, ANicknameThatLooksLikeAFormulaIsWrittenAsText) {
  AlarmEvent event{{1, 4, "=HYPERLINK(\"http://x\")"}, {}, AlarmKind::NoReply, true, "no reply", {}, {}, {}};
  EXPECT_THAT(AlarmLogLine(event), ::testing::HasSubstr(",1,\"'=HYPERLINK(\"\"http://x\"\")\",4,no reply,"));
  for (const char* nickName : {"+1", "-2", "@SUM(A1)", "\tx"}) {
    event.id.nickName = nickName;
    EXPECT_THAT(AlarmLogLine(event), ::testing::HasSubstr(",1,\"'" + std::string(nickName) + "\",4,")) << nickName;
  }
  event.id.nickName = "Kiln-2";
  EXPECT_THAT(AlarmLogLine(event), ::testing::HasSubstr(",1,Kiln-2,4,"));
}

class Alarms : public WatchFixture {
 protected:
  Alarms() : WatchFixture({1, 2}) {
    Map(1, 1, "Kiln, east");
    Map(2, 2, "Oven");
    RunCure(1);
    SetPv(2, 900);            // idle: far from anything, and no alarm for it
    sim_.AdvanceTime(15min);  // half way up the ramp: 160, band 150..170
    SetPv(1, 160);
    Watch().OnAlarm([this](const AlarmEvent& e) { events_.push_back(e); });
  }
  std::vector<std::string> Logged() { return Lines(testing::ReadAll(Watch().AlarmLog())); }
  // The console on channel 1 (on line, else on the watch's), shown the sweep's readings of it.
  console::Console& Console(link::Line* line = nullptr) {
    console_ =
        std::make_unique<console::Console>(folder_, store_, line ? *line : line_, view_, console::LineInfo{true, true});
    auto& selection = console_->Selection();
    selection.LoadChannelLists();
    selection.SelectIndex(0);
    selection.SetStartupComplete(true);
    console_->RunMonitor().SetRunsRecordedElsewhere(true);
    Watch().SetMonitorView(
        [c = console_.get()](int channel, std::uint8_t address, const controller::RunStateReading& r) {
          return c->RunMonitor().ShowReading(channel, address, r);
        });
    return *console_;
  }
  std::vector<AlarmEvent> events_;
  console::RecordingView view_;
  std::unique_ptr<console::Console> console_;
};

TEST_F(Alarms, OutsideTheBandForTwoReadingsRaisesAndBackInBandClears) {
  Watch().RunSweep();
  EXPECT_EQ(Watch().Statuses().at(1).band, Band::In);
  EXPECT_EQ(Watch().Statuses().at(1).Deviation(), 0);
  EXPECT_EQ(Watch().Statuses().at(2).state, RunState::Idle);

  // How many readings raise and clear is the tracker's rule (AlarmTracker below); this is what the
  // sweep does with its verdicts.
  SetPv(1, 300);
  Watch().RunSweep();
  EXPECT_EQ(Watch().Statuses().at(1).Deviation(), 140);
  Watch().RunSweep();
  EXPECT_EQ(Watch().Statuses().at(1).band, Band::Above);
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_TRUE(events_[0].raised);
  EXPECT_EQ(events_[0].text, "PV 300 above band 150..170 for 2 readings");
  auto logged = Logged();
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0], kAlarmLogHeader);
  EXPECT_THAT(logged[1],
              HasSubstr(",1,\"Kiln, east\",1,band,raised,300,150,170,PV 300 above band 150..170 for 2 readings"));

  // Kept open in the store, where anyone may acknowledge it; the watch takes that in.
  const auto open = store_.OpenAlarms().value();
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(std::tuple(open[0].softwareChannel, open[0].kind, open[0].text, open[0].ackedBy),
            std::tuple(1, "band", "PV 300 above band 150..170 for 2 readings", ""));
  ASSERT_TRUE(store_.AcknowledgeAlarm(1, "Bo", 1'000).ok());
  Watch().RunSweep();  // still outside: no second alarm
  EXPECT_EQ(Logged().size(), 2u);
  EXPECT_EQ(Watch().Statuses().at(1).alarmAckedBy, "Bo");
  EXPECT_EQ(Watch().Statuses().at(1).alarmAcked, SystemClock::time_point(1s));
  SetPv(1, 165);
  Watch().Apply({0ms, kDefaultConsecutive, true, 2});
  Watch().RunSweep();
  Watch().RunSweep();
  EXPECT_FALSE(Watch().Statuses().at(1).alarm);
  logged = Logged();
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_THAT(logged[2], HasSubstr(",1,\"Kiln, east\",1,band,cleared,165,150,170,back in band"));
  EXPECT_FALSE(Watch().Statuses().at(1).alarmAcked);
  EXPECT_TRUE(store_.OpenAlarms().value().empty());
  for (const auto& line : logged) EXPECT_THAT(line, ::testing::Not(HasSubstr(",Oven,"))) << "idle: no alarm";
}

TEST_F(Alarms, AnyControllerThatStopsAnsweringRaisesAndClearsWhenItAnswersAgain) {
  Watch().Apply({0ms, kDefaultConsecutive, true, 2, 0s});
  Watch().RunSweep();
  line_.SetTiming({30ms, 30ms});
  sim_.InjectFault(sim::Fault::NoReply, 4);  // two sweeps: each unit is asked once and given up
  Watch().RunSweep();
  EXPECT_EQ(Watch().Statuses().at(1).state, RunState::NoReply);
  EXPECT_EQ(Watch().Statuses().at(1).processValue, 160) << "the last good values stay";
  Watch().RunSweep();
  line_.SetTiming({250ms, 250ms});
  ASSERT_EQ(events_.size(), 2u) << "the idle oven as well";
  EXPECT_EQ(events_[0].kind, AlarmKind::NoReply);
  EXPECT_EQ(events_[1].id.channel, 2);
  Watch().RunSweep();
  Watch().RunSweep();
  ASSERT_EQ(events_.size(), 4u);
  EXPECT_FALSE(events_[2].raised);
  EXPECT_EQ(events_[2].text, "answering again");
  EXPECT_THAT(Logged()[1], HasSubstr(",no reply,raised,,,,no reply for 2 readings (no reply)"));
}

TEST_F(Alarms, TheDesignIsTakenAtTheTimeWithinTheControllersMinute) {
  auto now = SystemClock::now();
  watch_ = std::make_unique<LineWatch>(folder_, store_, line_, [&now] { return now; });
  watch_->Apply({0ms, kDefaultConsecutive});
  Watch().RunSweep();  // the controller shows minute 15 of the ramp 70 -> 250 over 30: design 160
  EXPECT_EQ(Watch().Statuses().at(1).design, 160);
  now += 30s;  // the controller still shows minute 15
  Watch().RunSweep();
  EXPECT_EQ(Watch().Statuses().at(1).programTime, 15.5);
  EXPECT_EQ(Watch().Statuses().at(1).design, 163);
  EXPECT_EQ(Watch().Statuses().at(1).Deviation(), -3);
  now += 5min;  // a controller whose clock stood: never past the minute it shows
  Watch().RunSweep();
  EXPECT_LT(*Watch().Statuses().at(1).programTime, 16);
  sim_.AdvanceTime(1min);
  Watch().RunSweep();
  EXPECT_EQ(Watch().Statuses().at(1).programTime, 16) << "a new minute starts at its beginning";
}

// Readings given to one tracker, one letter each: o outside the band, i in it, s silent, d idle;
// the alarm after each (upper case: acknowledged). a: an acknowledgement (A taken, x refused).
TEST(AlarmTracker, RaisesAfterNClearsAfterMGoodReadingsAndKeepsAnAckUntilItClears) {
  const AlarmRules rules{2, 3, 60s};
  struct Case {
    const char* readings;
    const char* active;  // per reading: b band, n no reply, - none
    bool answeredBefore;
  };
  const Case cases[] = {
      {"ooiioiii", "-bbbbbb-", true},        // an edge value dithering does not clear and raise again
      {"oood", "-bb-", true},                // a run that ends clears at once
      {"sssssii", "---nnnn", false},         // never answered: silent 60 s (readings 20 s apart) from the first
      {"sssiii", "-nnnn-", true},            // answered 60 s before the first silent reading: two readings do
      {"sisssi", "----nn", true},            // a reply in between starts the time anew
      {"aooaaoiiioo", "x-bAxBBB--b", true},  // held until it clears; a new raise needs a new ack
      {"ooassss", "-bABBnn", true},          // another alarm replacing it is not acknowledged
  };
  for (const Case& c : cases) {
    AlarmTracker tracker;
    ChannelStatus s;
    s.id = {1, 1, "Kiln"};
    s.at = SystemClock::time_point(100h);
    if (c.answeredBefore) s.lastGood = s.at - 40s;
    std::string got;
    for (const char* r = c.readings; *r; ++r) {
      if (*r == 'a') {
        got += tracker.Acknowledge(tracker.Active().value_or(AlarmKind::Band), "Bo", s.at, s) ? 'A' : 'x';
        EXPECT_EQ(s.alarmAckedBy, tracker.Active() ? "Bo" : "") << c.readings;
        continue;
      }
      s.at += 20s;
      s.state = *r == 's' ? RunState::NoReply : *r == 'd' ? RunState::Idle : RunState::Running;
      if (*r != 's') s.lastGood = s.at;
      s.band = *r == 'o' ? Band::Above : Band::In;
      s.bandLow = 150, s.bandHigh = 170;
      tracker.Update(s, rules);
      const char kind = !tracker.Active() ? '-' : *tracker.Active() == AlarmKind::Band ? 'b' : 'n';
      got += s.alarmAcked ? static_cast<char>(std::toupper(kind)) : kind;
    }
    EXPECT_EQ(got, c.active) << c.readings;
  }
}

TEST_F(Alarms, ZoneSpreadIsWorkedOutAfterEachSweepAndRecordedWhileTheZoneRuns) {
  RunCure(2);
  SetPv(1, 250);
  SetPv(2, 262);
  ASSERT_TRUE(store_.SetZone(1, "Furnace"));
  ASSERT_TRUE(store_.SetZone(2, "Furnace"));
  std::vector<SweepSummary> summaries;
  Watch().OnSweep([&](const SweepSummary& s) { summaries.push_back(s); });
  Watch().RunSweep();
  ASSERT_EQ(summaries.size(), 1u);
  ASSERT_EQ(summaries[0].zones.size(), 1u);
  EXPECT_EQ(summaries[0].zones[0].channels, (std::vector<int>{1, 2}));
  EXPECT_EQ(summaries[0].zones[0].Spread(), 12);
  EXPECT_EQ(Watch().Statuses().at(2).zone, "Furnace");
  const fs::path file = Watch().Zones().FileOf("Furnace");
  EXPECT_EQ(file.parent_path(), folder_.LogFiles() / "Zone-Furnace");
  const auto lines = Lines(testing::ReadAll(file));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Time,Spread,Lowest,Highest,Channel 1,Channel 2");
  EXPECT_THAT(lines[1], ::testing::EndsWith(",12,250,262,250,262"));

  // A member taken out changes the columns: a file of its own.
  ASSERT_TRUE(store_.RemoveFromZone(2));
  Watch().RunSweep();
  const fs::path second = Watch().Zones().FileOf("Furnace");
  EXPECT_NE(second, file);
  const auto secondLines = Lines(testing::ReadAll(second));
  ASSERT_EQ(secondLines.size(), 2u);
  EXPECT_EQ(secondLines[0], "Time,Spread,Lowest,Highest,Channel 1");
  EXPECT_THAT(secondLines[1], ::testing::EndsWith(",0,250,250,250"));
  EXPECT_EQ(Lines(testing::ReadAll(file)).size(), 2u);
}

TEST_F(Alarms, TheConsoleMonitorShowsTheSweepsReadingOfItsChannelWithoutReadingItAgain) {
  console::Console& console = Console();
  SetPv(1, 231);
  Watch().RunSweep();
  EXPECT_EQ(view_.fields[console::Field::ProcessTemperature], "231") << "monitoring off: shown all the same";
  EXPECT_EQ(view_.messages, "") << "the message area is left to the user's commands";
  console.SetMonitoring(true);  // the button reads once at once
  SetPv(1, 247);
  sim_.ClearRequests();
  Watch().RunSweep();
  EXPECT_EQ(Reads(sim_.Requests()), Joined({Reading(1), Reading(2)}));
  EXPECT_EQ(view_.fields[console::Field::ProcessTemperature], "247");
  EXPECT_EQ(view_.fields[console::Field::CurrentStep], "1");
  // One run, one file: the console's own recorder leaves it to the watch.
  EXPECT_EQ(FilesIn(folder_.ChannelLogFolder(1)).size(), 1u);
  EXPECT_EQ(store_.ControllerConfig(1).value()->segmentElapsedTime, 15);
}

// A pause from the console or tarvel-cli (watch::LoadActionLog) in a load under way: its action
// is in the store before the run mode 0 it writes, so a sweep between that write and the
// pause's end finds the operator's pause, not a run left to 0. One that stops short takes its
// action back, or says it failed.
TEST_F(Alarms, ASweepInTheMiddleOfAPauseFindsThePauseFirst) {
  ASSERT_TRUE(RequestLoadStart(folder_, store_, {1}, "Ann", {}, "tarvel-cli", SystemClock::now()));
  console::HookedLine hooked(line_);
  console::Console& console = Console(&hooked);
  Watch().RunSweep();
  ASSERT_TRUE(Watch().Loads()->LoadOf(1));
  std::vector<std::string> problems;
  LoadActionLog actions(store_, "Ann", [&problems](const std::string& p) { problems.push_back(p); });
  console.RunControls().Observe(&actions);

  for (bool taken : {false, true}) {  // the pause's first write is lost
    hooked.before = [&](int) {
      const auto rows = store_.LoadActions().value();
      if (rows.empty() || rows[0].what != "Pause Profile") return;
      if (taken) (void)store_.DropLoadActions({rows[0].id});  // as the process that records takes it
      sim_.InjectFault(sim::Fault::NoReply);
    };
    EXPECT_FALSE(console.RunControls().PauseProfile());
    EXPECT_EQ(sim_.Unit(1).runMode, 2);
  }
  // Taken back the first time; taken already the second, it is followed by its failure.
  const auto left = store_.LoadActions().value();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(std::tuple(left[0].kind, left[0].what), std::tuple("pause", "Pause Profile failed"));
  ASSERT_TRUE(store_.DropLoadActions({left[0].id}));
  bool swept = false;
  hooked.before = [&](int) {
    if (sim_.Unit(1).runMode == 0 && !swept) swept = true, Watch().RunSweep();
  };
  ASSERT_TRUE(console.RunControls().PauseProfile()) << view_.messages;
  ASSERT_TRUE(swept);
  Watch().RunSweep();
  EXPECT_TRUE(Watch().Loads()->LoadOf(1)) << "still open";
  const auto records = FilesIn(LoadsFolder(folder_));
  ASSERT_EQ(records.size(), 1u);
  const auto record = ReadLoadRecord(records.front());
  ASSERT_TRUE(record.ok());
  std::vector<std::string> events;
  for (const LoadEvent& e : record->events) events.push_back(e.kind + " " + e.who);
  EXPECT_THAT(events, ::testing::ElementsAre("start Ann", "pause Ann"));

  // A jump stops the program for a moment too: a sweep then finds the jump, not a run left to 0.
  swept = true;
  ASSERT_TRUE(console.RunControls().RestartProfile()) << view_.messages;
  Watch().RunSweep();  // running again
  swept = false;
  ASSERT_TRUE(console.RunControls().JumpTo(2, 0)) << view_.messages;
  ASSERT_TRUE(swept);
  Watch().RunSweep();
  EXPECT_TRUE(Watch().Loads()->LoadOf(1)) << "still open after the jump";
  events.clear();
  const auto after = ReadLoadRecord(records.front());
  ASSERT_TRUE(after.ok());
  for (const LoadEvent& e : after->events) events.push_back(e.kind + " " + e.who);
  EXPECT_THAT(events, ::testing::ElementsAre("start Ann", "pause Ann", "restart Ann", "jump Ann"));
  EXPECT_TRUE(problems.empty());
}

// Paused at 15 minutes (160, half way up the ramp), held for an hour and a half, restarted: the
// controller runs the copy the restart's jump left, its step time counting from the jump point.
// The design follows that, so nothing raises an alarm, the new log begins where the run stood
// and the trend leaves a gap across the pause instead of drawing a line. At the end step the
// run reads "finished".
TEST_F(Alarms, APausedAndRestartedRunStaysInItsBandAndEndsFinished) {
  console::Console& console = Console();
  console::TrendPoints trend;
  console.Recorder().OnPoint([&trend](const controller::RunTrace&, const controller::RunPoint& p) { trend.Add(p); });
  Watch().RunSweep();
  ASSERT_TRUE(console.RunControls().PauseProfile()) << view_.messages;
  for (int sweep = 0; sweep < 3; ++sweep) {
    sim_.AdvanceTime(30min);
    Watch().RunSweep();
    EXPECT_EQ(Watch().Statuses().at(1).state, RunState::Held);
  }
  const std::size_t beforeRestart = trend.Points().size();
  ASSERT_TRUE(console.RunControls().RestartProfile()) << view_.messages;
  for (int sweep = 1; sweep <= 4; ++sweep) {
    sim_.AdvanceTime(3min);
    Watch().RunSweep();
    const ChannelStatus& kiln = Watch().Statuses().at(1);
    EXPECT_EQ(kiln.state, RunState::Running);
    EXPECT_NEAR(*kiln.programTime, 15 + 3 * sweep, 1) << "sweep " << sweep;
    EXPECT_NEAR(*kiln.design, kiln.setPoint, 6) << "sweep " << sweep;
    EXPECT_EQ(kiln.band, Band::In) << "sweep " << sweep << ": " << StatusLine(kiln);
  }
  EXPECT_TRUE(events_.empty()) << events_.front().text;
  EXPECT_FALSE(fs::exists(Watch().AlarmLog()));
  const auto files = FilesIn(folder_.ChannelLogFolder(1));
  ASSERT_EQ(files.size(), 2u) << "one file before the pause, one after";
  const auto restarted = profile::ReadLogFile(files[0] == Watch().Statuses().at(1).recording ? files[0] : files[1]);
  ASSERT_EQ(restarted.value().size(), 4u);
  EXPECT_NEAR(restarted.value().front().time, 18, 1);

  const auto& points = trend.Points();
  ASSERT_GT(points.size(), beforeRestart);
  EXPECT_TRUE(points[beforeRestart].breakBefore) << "no line across the pause";
  EXPECT_NEAR(points[beforeRestart].time, 18, 1);
  for (std::size_t i = 1; i < points.size(); ++i) {
    if (!points[i].breakBefore) {
      EXPECT_LE(points[i].time - points[i - 1].time, 3.5) << "point " << i;
    }
  }

  sim_.AdvanceTime(75min);
  Watch().RunSweep();
  EXPECT_EQ(Watch().Statuses().at(1).state, RunState::Finished);
  EXPECT_THAT(StatusLine(Watch().Statuses().at(1)), HasSubstr(" finished "));
  EXPECT_TRUE(Watch().Statuses().at(1).recording.empty()) << "the run is over";
  EXPECT_TRUE(events_.empty());
}

// A pause that fails after the process that records has taken its action (a sweep came between
// its reads and its first write): the controller ran on, so the record keeps the pause and says
// it failed, and the run goes on as one run -- no restart from the panel that never was, the
// hold soaked to its end.
TEST_F(Alarms, APauseThatFailsAfterItsActionWasTakenKeepsOneRun) {
  auto now = SystemClock::now();
  watch_ = std::make_unique<LineWatch>(folder_, store_, line_, [&now] { return now; });
  watch_->Apply({5min, kDefaultConsecutive});  // the readings below are one period apart
  ASSERT_TRUE(RequestLoadStart(folder_, store_, {1}, "Ann", {}, "tarvel-cli", now));
  console::HookedLine hooked(line_);
  console::Console& console = Console(&hooked);
  Watch().RunSweep();
  for (int minutes = 20; minutes <= 35; minutes += 5) {  // up the ramp, into the hold at 250
    sim_.AdvanceTime(5min);
    now += 5min;
    SetPv(1, std::min(250, 70 + 6 * minutes));
    Watch().RunSweep();
  }
  LoadActionLog actions(store_, "Ann", [](const std::string& p) { ADD_FAILURE() << p; });
  console.RunControls().Observe(&actions);
  bool swept = false;
  hooked.before = [&](int) {
    if (swept || store_.LoadActions().value().empty()) return;
    swept = true;
    Watch().RunSweep();  // takes the pause, and reads the program still running
    sim_.InjectFault(sim::Fault::NoReply);
  };
  EXPECT_FALSE(console.RunControls().PauseProfile());
  ASSERT_TRUE(swept);
  EXPECT_EQ(sim_.Unit(1).runMode, 2);
  for (int sweep = 0; sweep < 9 && Watch().Loads()->LoadOf(1); ++sweep) {
    sim_.AdvanceTime(5min);
    now += 5min;
    SetPv(1, 250);
    Watch().RunSweep();
  }
  EXPECT_FALSE(Watch().Loads()->LoadOf(1)) << "over at its end step";
  const auto records = FilesIn(LoadsFolder(folder_));
  ASSERT_EQ(records.size(), 1u) << "one run, one load";
  const auto record = ReadLoadRecord(records.front());
  ASSERT_TRUE(record.ok());
  std::vector<std::string> events;
  for (const LoadEvent& e : record->events) events.push_back(e.kind + "|" + e.who + "|" + e.what);
  EXPECT_THAT(events, ::testing::ElementsAre("start|Ann|started from the tarvel-cli", "pause|Ann|Pause Profile",
                                             "pause|Ann|Pause Profile failed", "end||end step reached"));
  std::vector<std::string> checks;
  for (const LoadCheck& c : record->checks)
    if (c.name == "Program run to its end" || c.name.starts_with("Soak")) checks.push_back(c.name + ": " + c.reason);
  EXPECT_THAT(checks, ::testing::ElementsAre("Program run to its end: every controller reached its end step",
                                             "Soak, segment 2: 45.00 of 45.00 minutes with every controller in band"));
}

}  // namespace
}  // namespace tarvel::watch
