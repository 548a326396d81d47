#pragma once
// watch: the line watch. The sweep reads every mapped controller in turn; each reading goes to
// the console's monitor (a view of these readings: its channel is never read twice), to the
// stored restart state, to one run recorder per channel (every running controller is recorded
// to LogFiles/Channel-NN in the 21-byte record format, one file per run), to the alarms and the
// alarm log LogFiles/alarms.csv and the Alarms table (whose acknowledgements it takes in), to the load records
// (load_tracker.h: every reading, a failed one as a gap, the alarms, and the starts and operator actions clients left
// in the store), and to whoever listens: the line overview, tarvel-cli watch's lines and the MQTT publisher. After each
// sweep the zones' spreads are worked out and recorded.
//
// Everything runs on the thread that talks to the line (the GUI's command runner, tarvel-cli's
// main thread), one exchange per Step, so that a user command waits at most for one exchange.
// Listeners are called on that thread and hand over what they need; none may block.
// Qt-free; built on the controller's session, reading and recorder. Depends on controller, store
// and link.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller/run_recorder.h"
#include "controller/session.h"
#include "watch/alarms.h"
#include "watch/channel_status.h"
#include "watch/design_band.h"
#include "watch/load_tracker.h"
#include "watch/sweep.h"
#include "watch/zones.h"

namespace tarvel::watch {

struct WatchSettings {
  std::chrono::milliseconds period = Sweep::kDefaultPeriod;
  int consecutive = kDefaultConsecutive;  // readings in a row outside the band (or silent) before an alarm
  bool blockReads = true;                 // neighbouring registers in one read where a controller answers it
  int clearAfter = kDefaultClearAfter;    // good readings in a row before an alarm clears
  std::chrono::seconds noReplyAfter = kDefaultNoReplyAfter;  // silent this long (and N readings) for "no reply"
};

struct SweepSummary {
  long long number = 0;  // sweeps done since the watch started
  SteadyClock::duration took{}, period{};
  bool saturated = false;     // the sweep took longer than the period: the next starts at once
  std::vector<int> channels;  // the mapped channels, in channel order
  std::vector<ZoneSpread> zones;
};

class LineWatch {
 public:
  using Clock = std::function<SystemClock::time_point()>;
  using MonitorView = std::function<bool(int channel, std::uint8_t address, const controller::RunStateReading&)>;

  LineWatch(
      AppFolder folder, store::ConfigStore& store, link::Line& line, Clock clock = [] { return SystemClock::now(); },
      Sweep::Clock steady = [] { return SteadyClock::now(); });
  ~LineWatch();
  LineWatch(const LineWatch&) = delete;
  LineWatch& operator=(const LineWatch&) = delete;

  void Apply(const WatchSettings& settings);
  // Sweeps only the channels mapped to this port (a service with several lines), and with
  // alsoUnported those mapped to none; all when empty.
  void ServeOnly(std::string port, bool alsoUnported = false) {
    port_ = std::move(port);
    alsoUnported_ = alsoUnported;
  }
  const WatchSettings& Settings() const { return settings_; }
  // Shows the readings and raises alarms to the listeners, but records nothing: no run, zone or
  // alarm log, no load, no restart state, no operator action taken from the store. For a client
  // of the line service, which records the line itself -- two writers of one record would break it.
  void ObserveOnly() { observeOnly_ = true; }
  // Reads nothing: Step takes what next gives (a reading of a channel, or a sweep's end) -- the
  // readings of the line service's sweep, for a client that would otherwise read them twice.
  void FeedFrom(std::function<std::optional<SweepStep>()> next) { feed_ = std::move(next); }

  // One exchange of the sweep; or what a finished reading or sweep sets off (recording, alarms,
  // listeners), as a step of its own so that a command waiting meanwhile goes first; or
  // nothing, with the time until the next sweep is due.
  SweepStep Step();
  // A user command used the line since the last Step: the reading under way starts again.
  void CommandCameBetween() { sweep_.RestartReading(); }
  // Steps until the sweep under way (or the next, when none is) has ended.
  void RunSweep();

  // The console's monitor shows a reading of its channel while monitoring is on (true: it did,
  // and stored the restart state itself).
  void SetMonitorView(MonitorView view) { monitorView_ = std::move(view); }
  void OnStatus(std::function<void(const ChannelStatus&)> listener) { statusListeners_.push_back(std::move(listener)); }
  void OnAlarm(std::function<void(const AlarmEvent&)> listener) { alarmListeners_.push_back(std::move(listener)); }
  void OnSweep(std::function<void(const SweepSummary&)> listener) { sweepListeners_.push_back(std::move(listener)); }
  // A load of this line opened, continued or closed (load_tracker.h).
  void OnLoad(std::function<void(const LoadRecord&)> listener) { loadListeners_.push_back(std::move(listener)); }
  // Recording messages and failures to write a file, one line each.
  void OnMessage(std::function<void(const std::string&)> listener) { messageListeners_.push_back(std::move(listener)); }

  // The latest status of every mapped channel, by channel number.
  const std::map<int, ChannelStatus>& Statuses() const { return statuses_; }
  const Sweep& CurrentSweep() const { return sweep_; }
  // Sweeps whose every reading has been taken in (recorded, checked, passed on).
  long long SweepsFinished() const { return finished_; }
  std::filesystem::path AlarmLog() const { return folder_.LogFiles() / "alarms.csv"; }
  const ZoneRecorder& Zones() const { return zoneRecorder_; }
  // The loads under way on the channels watched; made at the first sweep (it continues the open
  // loads of those channels), null before.
  const LoadTracker* Loads() const { return loads_.get(); }
  // Puts channel in zone (empty: in none); the next sweep shows it.
  [[nodiscard]] Status SetZone(int channel, const std::string& zone);
  // The channels of zone as the store has them now.
  std::vector<int> MembersOf(const std::string& zone) { return ZoneMembers(store_.Zones().value_or({}), zone); }

 private:
  struct Tracked {
    std::unique_ptr<controller::RunRecorder> recorder;
    AlarmTracker alarms;
    bool wasActive = false;  // running or held when it last answered
    std::optional<std::pair<int, int>> lastStepAndTime;
    std::optional<controller::RunTrace> trace;
    std::optional<controller::RunPoint> point;
    // The program time the controller last showed, and when it was first read: a minute
    // controller counts whole minutes, the design is compared at the time within the minute.
    std::optional<std::pair<double, SystemClock::time_point>> tick;
  };
  // The row of the Alarms table of an alarm just raised or cleared, and an acknowledgement given
  // to the active one since (whoever gave it: the CLI, the console, the service).
  void StoreAlarm(const AlarmEvent& event);
  void TakeAcknowledgement(Tracked& tracked, ChannelStatus& status);

  std::vector<WatchedChannel> Channels();
  void Take(const WatchedChannel& channel, const controller::RunStateReading& reading);
  void Record(Tracked& tracked, ChannelStatus& status, const controller::RunStateReading& reading);
  void Finish(const SweepStep& step);
  void StartLoads(const std::vector<WatchedChannel>& channels);
  void TakeActions();
  void RecordLoad(const WatchedChannel& channel, const controller::RunStateReading& reading,
                  const std::vector<store::MemoryRow>& memory, const Tracked& tracked, bool firstGood);
  double PeriodSeconds() const;
  std::optional<LoadPlan> Plan(int channel);
  // Drops and says a client's start of channel too old for a run that began at at (running), or
  // for an idle controller read at at: true when it did.
  bool ExpireStart(int channel, SystemClock::time_point at, bool running);
  void Message(const std::string& text);

  AppFolder folder_;
  store::ConfigStore& store_;
  Clock clock_;
  controller::Session session_;
  Sweep sweep_;
  WatchSettings settings_;
  DesignBands designs_;
  ZoneRecorder zoneRecorder_;
  std::vector<store::ZoneRow> zoneRows_;
  std::map<int, ChannelStatus> statuses_;
  std::map<int, Tracked> tracked_;
  std::string port_;
  std::unique_ptr<LoadTracker> loads_;
  std::vector<int> claimed_;  // channels whose waiting start the planner just gave a load
  bool alsoUnported_ = false;
  bool observeOnly_ = false;
  std::function<std::optional<SweepStep>()> feed_;
  std::optional<SweepStep> pending_;  // a reading or sweep end not yet taken in
  long long finished_ = 0;

  MonitorView monitorView_;
  std::vector<std::function<void(const ChannelStatus&)>> statusListeners_;
  std::vector<std::function<void(const AlarmEvent&)>> alarmListeners_;
  std::vector<std::function<void(const SweepSummary&)>> sweepListeners_;
  std::vector<std::function<void(const LoadRecord&)>> loadListeners_;
  std::vector<std::function<void(const std::string&)>> messageListeners_;
};

}  // namespace tarvel::watch
