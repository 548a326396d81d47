#include "watch/line_watch.h"

#include <algorithm>

#include "watch/line_file.h"
#include "watch/load_start.h"

namespace tarvel::watch {
namespace {

// How long a program found running has run, from its steps: the timed steps before the one it is
// in and the time in that one, in the controller's unit (seconds in run modes 1 and 3, else
// minutes). A pause nobody watched makes it shorter, never longer.
std::chrono::seconds ProgramRunFor(const LoadReading& r, const std::vector<store::MemoryRow>& memory) {
  long long units = r.stepTime;
  for (const store::MemoryRow& m : memory)
    if (m.segment >= r.lowStep && m.segment < r.step && m.duration > 0) units += m.duration;
  return std::chrono::seconds(r.runMode == 1 || r.runMode == 3 ? units : units * 60);
}

long long Millis(SystemClock::time_point at) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

}  // namespace

LineWatch::LineWatch(AppFolder folder, store::ConfigStore& store, link::Line& line, Clock clock, Sweep::Clock steady)
    : folder_(folder),
      store_(store),
      clock_(std::move(clock)),
      session_(folder, store, line),
      sweep_(
          session_, [this] { return Channels(); }, std::move(steady)),
      zoneRecorder_(folder) {}

LineWatch::~LineWatch() = default;

void LineWatch::Apply(const WatchSettings& settings) {
  const bool newPeriod = settings.period != settings_.period;
  settings_ = settings;
  session_.blockReads = settings.blockReads;
  sweep_.SetPeriod(settings.period);
  if (newPeriod && !sweep_.InProgress()) sweep_.StartOver();
}

Status LineWatch::SetZone(int channel, const std::string& zone) {
  return zone.empty() ? store_.RemoveFromZone(channel) : store_.SetZone(channel, zone);
}

void LineWatch::Message(const std::string& text) {
  for (auto& listener : messageListeners_) listener(text);
}

std::vector<WatchedChannel> LineWatch::Channels() {
  std::vector<WatchedChannel> channels;
  for (const store::ChannelRow& row : store_.Channels().value_or({}))
    if (port_.empty() || row.port == port_ || (alsoUnported_ && row.port.empty()))
      channels.push_back({row.softwareChannel, row.modbusAddress, row.nickName});
  zoneRows_ = store_.Zones().value_or({});
  const auto zones = ZoneOfChannel(zoneRows_);
  // Channels taken out of the map leave the overview; their recordings and alarms close.
  std::vector<int> gone;
  std::erase_if(statuses_, [&](const auto& entry) {
    const bool out = std::none_of(channels.begin(), channels.end(),
                                  [&](const WatchedChannel& c) { return c.channel == entry.first; });
    if (out) gone.push_back(entry.first);
    return out;
  });
  std::erase_if(tracked_, [&](const auto& entry) { return !statuses_.contains(entry.first); });
  if (!loads_ && !observeOnly_) {
    // Alarms a watch before this one left open are over: a new watch raises what still holds.
    for (const WatchedChannel& c : channels) gone.push_back(c.channel);
    StartLoads(channels);
  }
  if (!gone.empty() && !observeOnly_)
    if (Status closed = store_.ClearAlarms(gone, Millis(clock_())); !closed.ok())
      Message("Alarms: " + closed.message());
  for (const WatchedChannel& c : channels) {
    ChannelStatus& status = statuses_[c.channel];
    if (status.id != c) {  // a new channel, or its address changed
      status = ChannelStatus();
      status.id = c;
    }
    auto zone = zones.find(c.channel);
    status.zone = zone == zones.end() ? "" : zone->second;
  }
  return channels;
}

SweepStep LineWatch::Step() {
  if (pending_) {
    SweepStep step = std::move(*pending_);
    pending_.reset();
    if (step.reading) Take(step.of, *step.reading);
    if (step.sweepEnded) Finish(step);
    step.exchanged = false;
    step.again = true;
    return step;
  }
  if (feed_) {
    std::optional<SweepStep> fed = feed_();
    if (!fed) return {.wait = std::chrono::milliseconds(50)};
    if (fed->sweepEnded || !statuses_.contains(fed->of.channel)) Channels();  // the map and zones as stored now
    if (fed->reading && statuses_.contains(fed->of.channel)) Take(fed->of, *fed->reading);
    if (fed->sweepEnded) Finish(*fed);
    return {.again = true};
  }
  SweepStep step = sweep_.Next();
  if (!step.learnt.ok())
    Message("The database did not keep which frames controller " + std::to_string(step.of.address) +
            " answers: " + step.learnt.message());
  if (step.reading || step.sweepEnded) {
    pending_ = step;
    step.reading.reset();
    step.sweepEnded = false;
  }
  return step;
}

void LineWatch::RunSweep() {
  for (;;) {
    const SweepStep step = Step();
    if (step.sweepEnded) return;
    if (!step.again && !sweep_.InProgress()) sweep_.StartOver();
  }
}

double LineWatch::PeriodSeconds() const {
  // A sweep that runs back to back reads each controller once a sweep.
  const auto period = settings_.period > SteadyClock::duration::zero() ? settings_.period : sweep_.LastDuration();
  return std::max(1.0, std::chrono::duration<double>(period).count());
}

void LineWatch::StartLoads(const std::vector<WatchedChannel>& channels) {
  // Only the open loads of the channels on this line: a service has a watch per line.
  auto mine = [channels](const store::LoadRow& row) {
    std::size_t at = 0;
    while (at < row.channels.size()) {
      const std::size_t comma = std::min(row.channels.find(',', at), row.channels.size());
      const int channel = std::atoi(row.channels.substr(at, comma - at).c_str());
      if (std::none_of(channels.begin(), channels.end(), [&](const WatchedChannel& c) { return c.channel == channel; }))
        return false;
      at = comma + 1;
    }
    return true;
  };
  loads_ = std::make_unique<LoadTracker>(
      folder_, store_, [this] { return clock_(); }, OpenRecordFile, mine);
  loads_->OnMessage([this](const std::string& text) { Message(text); });
  loads_->OnLoad([this](const LoadRecord& record) {
    for (auto& listener : loadListeners_) listener(record);
  });
  loads_->SetPlanner([this](int channel) {
    ExpireStart(channel, clock_(), true);  // the program began since the reading before
    auto plan = Plan(channel);
    if (plan && !plan->operatorName.empty())
      for (const LoadController& c : plan->controllers) claimed_.push_back(c.channel);
    return plan;
  });
}

// The plan from the store, of the controllers on this line only: a zone across two lines is a
// load on each, as each line's watch records only its own.
std::optional<LoadPlan> LineWatch::Plan(int channel) {
  auto plan = PlanFromStore(folder_, store_, channel, PeriodSeconds());
  if (plan)
    std::erase_if(plan->controllers, [this](const LoadController& c) { return !statuses_.contains(c.channel); });
  return plan;
}

bool LineWatch::ExpireStart(int channel, SystemClock::time_point at, bool running) {
  auto waiting = store_.LoadStart(channel);
  if (!waiting.ok() || !waiting->has_value() || !LoadStartExpired(**waiting, at)) return false;
  const std::string minutes = std::to_string(kLoadStartWaits.count());
  Message("The start of channel " + std::to_string(channel) + " that " + (*waiting)->operatorName + " asked for at " +
          UtcTime(RequestedAt(**waiting)) + " expired: " +
          (running
               ? "the program found running began about " + UtcTime(at) + ", more than " + minutes + " minutes after"
               : "no program started within " + minutes + " minutes"));
  if (Status dropped = store_.DropLoadStarts({channel}); !dropped.ok())
    Message("Load start expired: " + dropped.message());
  return true;
}

// Operator actions clients left in the store, before the reading they may explain (a pause
// before the run mode 0 it leaves).
void LineWatch::TakeActions() {
  if (!loads_) return;
  auto rows = store_.LoadActions();
  if (!rows.ok() || rows->empty()) return;
  std::vector<long long> taken;
  for (const store::LoadActionRow& row : *rows) {
    if (!statuses_.contains(row.softwareChannel)) continue;       // another line's
    if (auto action = ActionOf(row)) (void)loads_->Act(*action);  // no load under way: nothing to record
    taken.push_back(row.id);
  }
  if (taken.empty()) return;  // every one another line's: no write
  if (Status dropped = store_.DropLoadActions(taken); !dropped.ok())
    Message("Operator actions for the load records: " + dropped.message());
}

void LineWatch::RecordLoad(const WatchedChannel& channel, const controller::RunStateReading& reading,
                           const std::vector<store::MemoryRow>& memory, const Tracked& tracked, bool firstGood) {
  if (!loads_) return;
  LoadReading r;
  r.channel = channel.channel;
  r.at = statuses_[channel.channel].at;
  r.ok = reading.complete();
  if (!r.ok) {
    r.why = std::string(link::Describe(reading.outcome()));
    loads_->Take(r);
    return;
  }
  r.runMode = reading.runMode.value;
  r.step = reading.currentStep.value;
  r.stepTime = reading.stepTime.value;
  r.setPoint = reading.setPoint().value;
  r.processValue = reading.processValue.value;
  r.lowStep = reading.programLowStep.value;
  r.highStep = reading.programHighStep.value;
  // In a step a jump shortened the controller counts from the jump point, which only the
  // memory copy knows: the recorder's time has it.
  if (tracked.point && std::any_of(memory.begin(), memory.end(), [&](const store::MemoryRow& m) {
        return m.modified != 0 && m.segment >= r.lowStep && m.segment <= r.highStep;
      }))
    r.programTime = tracked.point->time;

  const bool program = r.runMode >= 1 && r.runMode <= 4;
  if (!program && !loads_->LoadOf(r.channel)) (void)ExpireStart(r.channel, r.at, false);
  if (program && firstGood && !loads_->LoadOf(r.channel) &&
      !ExpireStart(r.channel, r.at - ProgramRunFor(r, memory), true)) {
    // Started by a client while nothing recorded: the load begins at the first reading.
    auto waiting = store_.LoadStart(r.channel);
    if (waiting.ok() && waiting->has_value())
      if (auto plan = Plan(r.channel)) {
        if (auto id = loads_->Start(*plan); !id.ok()) Message(id.status().message());
        for (const LoadController& c : plan->controllers) claimed_.push_back(c.channel);
      }
  }
  loads_->Take(r);
  if (!claimed_.empty()) {
    if (Status dropped = store_.DropLoadStarts(claimed_); !dropped.ok())
      Message("Load starts taken: " + dropped.message());
    claimed_.clear();
  }
}

void LineWatch::Take(const WatchedChannel& channel, const controller::RunStateReading& reading) {
  if (!observeOnly_) TakeActions();
  const auto address = static_cast<std::uint8_t>(channel.address);
  const bool shown = monitorView_ && monitorView_(channel.channel, address, reading);
  auto config = store_.ControllerConfig(channel.address);
  const std::optional<store::ControllerConfigRow> row = config.ok() ? *config : std::nullopt;

  ChannelStatus& status = statuses_[channel.channel];
  Tracked& tracked = tracked_[channel.channel];
  status.id = channel;
  status.at = clock_();
  const std::vector<store::MemoryRow> memory = store_.Memory(channel.address).value_or({});
  status.state = StateOf(reading, row, memory);
  status.failure = reading.outcome();
  status.profile = row ? row->profileNameExecuting : "";
  if (reading.complete()) {
    status.lastGood = status.at;
    status.lowStep = reading.programLowStep.value;
    status.highStep = reading.programHighStep.value;
    status.step = reading.currentStep.value;
    status.stepTime = reading.stepTime.value;
    status.runMode = reading.runMode.value;
    status.setPoint = reading.setPoint().value;
    status.processValue = reading.processValue.value;
    status.relays = reading.relays.value;
    tracked.wasActive = status.state == RunState::Running || status.state == RunState::Held;
    // The restart state follows every reading of a running program, as the console's monitor
    // keeps it: a paused controller's reading never replaces the point Restart resumes from.
    if (!shown && !observeOnly_ && reading.RestartPoint()) {
      if (Status saved = store_.SaveRunState(channel.address, status.runMode, status.step, status.stepTime);
          !saved.ok())
        Message("Run state of channel " + std::to_string(channel.channel) + ": " + saved.message());
    }
    const bool firstGood = !tracked.lastStepAndTime;
    if (!observeOnly_) {
      Record(tracked, status, reading);
      RecordLoad(channel, reading, memory, tracked, firstGood);
    }
  } else if (!observeOnly_) {
    if (tracked.recorder) tracked.recorder->Lost();
    RecordLoad(channel, reading, memory, tracked, false);
  }

  for (const AlarmEvent& event :
       tracked.alarms.Update(status, {settings_.consecutive, settings_.clearAfter, settings_.noReplyAfter})) {
    if (!observeOnly_) {
      if (Status written = AppendLine(AlarmLog(), kAlarmLogHeader, AlarmLogLine(event)); !written.ok())
        Message("Alarm log: " + written.message());
      StoreAlarm(event);
    }
    if (loads_) (void)loads_->Alarm(channel.channel, event.at, event.raised, event.text);
    for (auto& listener : alarmListeners_) listener(event);
  }
  TakeAcknowledgement(tracked, status);
  for (auto& listener : statusListeners_) listener(status);
}

void LineWatch::StoreAlarm(const AlarmEvent& event) {
  Status stored = store_.ClearAlarms({event.id.channel}, Millis(event.at));
  if (stored.ok() && event.raised)
    stored = store_.RaiseAlarm({0, event.id.channel, AlarmKindName(event.kind), Millis(event.at), event.text}).status();
  if (!stored.ok()) Message("Alarms of channel " + std::to_string(event.id.channel) + ": " + stored.message());
}

void LineWatch::TakeAcknowledgement(Tracked& tracked, ChannelStatus& status) {
  // Asked only while an alarm waits for one: a quiet line reads nothing more.
  if (!tracked.alarms.Active() || tracked.alarms.Acknowledged()) return;
  auto row = store_.OpenAlarm(status.id.channel);
  if (!row.ok() || !row->has_value() || (**row).ackedBy.empty() ||
      (**row).kind != AlarmKindName(*tracked.alarms.Active()))
    return;
  const auto at = SystemClock::time_point(std::chrono::milliseconds((**row).acked));
  if (tracked.alarms.Acknowledge(*tracked.alarms.Active(), (**row).ackedBy, at, status) && loads_)
    (void)loads_->AlarmAcknowledged(status.id.channel, at, (**row).ackedBy, status.alarmText);
}

void LineWatch::Record(Tracked& tracked, ChannelStatus& status, const controller::RunStateReading& reading) {
  const bool running = status.state == RunState::Running;
  if (!tracked.recorder) {
    tracked.recorder = std::make_unique<controller::RunRecorder>(session_, [this] { return clock_(); });
    tracked.recorder->OnEvent([this](const controller::RecordingEvent& event) {
      Message(event.kind == controller::RecordingEvent::Kind::Opened ? "Recording run to " + event.file.string()
                                                                     : "Run recording: " + event.problem);
    });
    tracked.recorder->OnPoint([&tracked](const controller::RunTrace& trace, const controller::RunPoint& point) {
      tracked.trace = trace;
      tracked.point = point;
    });
  }
  // A new start of the program (back at its first step with less time than before) is a new run.
  const std::pair<int, int> stepAndTime{status.step, status.stepTime};
  if (tracked.lastStepAndTime && status.step == status.lowStep && stepAndTime < *tracked.lastStepAndTime)
    tracked.recorder->Stop();
  tracked.lastStepAndTime = stepAndTime;
  if (!running) tracked.recorder->Stop();  // a run that stopped is over: the next gets a file of its own

  tracked.point.reset();
  tracked.recorder->OnReading(status.id.channel, static_cast<std::uint8_t>(status.id.address), reading, running);
  const controller::RunRecording* file = tracked.recorder->Recording();
  status.recording = file ? file->File() : std::filesystem::path();
  if (const auto& trace = tracked.recorder->Trace()) {
    status.temperatureScale = trace->temperatureScale;
    status.timeScale = trace->timeScale;
  }
  status.programTime.reset();
  status.design = status.bandLow = status.bandHigh = std::nullopt;
  status.band = Band::None;
  if (!running || !tracked.point || tracked.trace->profileName.empty()) return;
  if (!tracked.tick || tracked.tick->first != tracked.point->time) tracked.tick = {tracked.point->time, status.at};
  // At most one count of the controller's clock past what it shows (a second or a minute).
  const double count = controller::ToProfileTime(1, status.runMode, tracked.trace->timeScale);
  const double seconds = std::chrono::duration<double>(status.at - tracked.tick->second).count();
  const double since = controller::ToProfileTime(seconds, 1, tracked.trace->timeScale);  // mode 1 counts seconds
  status.programTime = tracked.point->time + std::clamp(since, 0.0, count * 0.999);
  if (auto design = designs_.At(tracked.trace->profileFile, *status.programTime)) {
    status.design = design->design;
    status.bandLow = design->low;
    status.bandHigh = design->high;
    if (design->low && design->high)
      status.band = status.processValue > *design->high  ? Band::Above
                    : status.processValue < *design->low ? Band::Below
                                                         : Band::In;
  }
}

void LineWatch::Finish(const SweepStep& step) {
  ++finished_;
  SweepSummary summary;
  const bool fed = step.number > 0;  // a sweep of the service that reads for this watch
  summary.number = fed ? step.number : sweep_.Completed();
  summary.took = fed ? step.took : sweep_.LastDuration();
  summary.period = fed ? step.period : sweep_.Period();
  summary.saturated = fed ? step.saturated : sweep_.Saturated();
  for (const auto& [channel, status] : statuses_) summary.channels.push_back(channel);
  summary.zones = Spreads(zoneRows_, statuses_);
  const auto now = clock_();
  for (const ZoneSpread& zone : summary.zones) {
    if (observeOnly_) break;
    if (Status written = zoneRecorder_.Record(zone, statuses_, now); !written.ok())
      Message("Zone " + zone.zone + ": " + written.message());
  }
  for (auto& listener : sweepListeners_) listener(summary);
}

}  // namespace tarvel::watch
