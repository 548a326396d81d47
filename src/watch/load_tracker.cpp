#include "watch/load_tracker.h"

#include <algorithm>

#include "profile/chart_data.h"
#include "watch/design_band.h"
#include "watch/load_checks.h"
#include "watch/load_start.h"

namespace tarvel::watch {
namespace {

// The program's time on the profile's axis: the timed steps before the executing one and the
// time in it, from the controller's unit (seconds in run modes 1 and 3, minutes in 2 and 4; a
// held program keeps the unit it was compiled to) to the profile's.
double ProgramTimeOf(const LoadHeader& header, const LoadReading& r, std::optional<SystemClock::time_point> tick) {
  double time = r.stepTime;
  if ((r.runMode == 2 || r.runMode == 4) && tick)
    time += std::clamp(std::chrono::duration<double>(r.at - *tick).count() / 60, 0.0, 0.98);
  for (const LoadStep& s : header.program)
    if (s.step >= r.lowStep && s.step < r.step && s.duration > 0) time += s.duration;
  const bool seconds = r.runMode == 1 || r.runMode == 3 || (r.runMode == 0 && header.timeScale == 'S');
  const double inSeconds = seconds ? time : time * 60;
  return header.timeScale == 'S' ? inSeconds : header.timeScale == 'H' ? inSeconds / 3600 : inSeconds / 60;
}

// At the end of its program: at the high step, which is an end step (time 0) or whose time is up.
bool AtEnd(const LoadHeader& header, const LoadReading& r) {
  if (r.step != r.highStep) return false;
  auto step =
      std::find_if(header.program.begin(), header.program.end(), [&](const LoadStep& s) { return s.step == r.step; });
  const int duration = step == header.program.end() ? 0 : step->duration;
  return duration <= 0 || r.stepTime >= duration;
}

}  // namespace

LoadTracker::~LoadTracker() = default;

void LoadTracker::Say(const std::string& text) const {
  if (message_) message_(text);
}

std::optional<std::string> LoadTracker::LoadOf(int channel) const {
  for (const auto& [id, load] : loads_)
    if (!load.closed && load.members.contains(channel)) return id;
  return std::nullopt;
}

std::vector<std::string> LoadTracker::OpenLoads() const {
  std::vector<std::string> ids;
  for (const auto& [id, load] : loads_)
    if (!load.closed) ids.push_back(id);
  return ids;
}

LoadTracker::Load* LoadTracker::Find(int channel) {
  auto id = LoadOf(channel);
  return id ? &loads_.at(*id) : nullptr;
}

void LoadTracker::OnLoad(std::function<void(const LoadRecord&)> listener) {
  loadListener_ = std::move(listener);
  for (const auto& [id, load] : loads_) Tell(load);
}

void LoadTracker::Tell(const Load& load) const {
  if (loadListener_) loadListener_(load.record);
}

void LoadTracker::Record(Load& load, const LoadSample& sample) {
  load.writer->Add(SampleLine(sample), sample.at, false);
  load.checks->Add(sample);
  ++load.record.lines;
  load.record.lastAt = std::max(load.record.lastAt, sample.at);
}

void LoadTracker::Record(Load& load, const LoadEvent& e) {
  load.writer->Add(EventLine(e), e.at, true);
  load.record.events.push_back(e);
  ++load.record.lines;
  load.record.lastAt = std::max(load.record.lastAt, e.at);
}

LoadSample LoadTracker::SampleOf(const Load& load, const LoadReading& r) const {
  LoadSample s;
  s.at = r.at;
  s.channel = r.channel;
  auto seen = seen_.find(r.channel);
  s.time = r.programTime ? *r.programTime
                         : ProgramTimeOf(load.record.header, r, seen == seen_.end() ? std::nullopt : seen->second.tick);
  s.runMode = r.runMode;
  s.step = r.step;
  s.stepTime = r.stepTime;
  s.setPoint = r.setPoint;
  s.processValue = r.processValue;
  if (auto point = DesignAt(load.design, load.lastRow, load.endTime, s.time)) {
    s.design = point->design;
    s.low = point->low;
    s.high = point->high;
    if (s.low && s.high)
      s.band = s.processValue > *s.high ? LoadBand::Above : s.processValue < *s.low ? LoadBand::Below : LoadBand::In;
  }
  return s;
}

void LoadTracker::RecordGap(Load& load, const LoadReading& r) {
  Member& m = load.members[r.channel];
  LoadSample gap;
  gap.at = r.at;
  gap.channel = r.channel;
  gap.gap = true;
  gap.why = r.why.empty() ? "no reply" : r.why;
  Record(load, gap);
  if (!m.lost) {
    LoadEvent lost(r.at, event::kLost, r.channel);
    lost.what = gap.why;
    Record(load, lost);
  }
  m.lost = true;
}

bool LoadTracker::FollowPause(Load& load, Member& m, const LoadReading& r, bool program) {
  if (m.ended || m.pause == Pause::None) return false;
  if (!program) {
    m.pause = Pause::Held;
    return true;
  }
  if (m.pause == Pause::Held) {  // resumed on the controller's own panel
    LoadEvent resumed(r.at, event::kRestart, r.channel);
    resumed.who = "front panel";
    resumed.newValue = "mode " + std::to_string(r.runMode);
    Record(load, resumed);
  }
  // Still running once its pause failed: it never held, the run goes on. Asked: its writes are
  // still to come.
  if (m.pause != Pause::Asked) m.pause = Pause::None;
  return true;
}

void LoadTracker::Take(const LoadReading& r) {
  std::optional<Seen> before;
  if (auto seen = seen_.find(r.channel); seen != seen_.end()) before = seen->second;
  Load* load = Find(r.channel);

  if (!r.ok) {
    if (load) RecordGap(*load, r);
    Settle(r.at);
    return;
  }
  const bool program = InProgram(r.runMode);
  Seen& seen = seen_[r.channel] = {r.runMode, r.step, r.stepTime, r.at, before ? before->tick : std::nullopt};
  if (!program)
    seen.tick.reset();  // held: its minute stands
  else if (before && (before->runMode == 0 || before->step != r.step || before->stepTime != r.stepTime))
    seen.tick = r.at - std::min<SystemClock::duration>(r.at - before->at, std::chrono::minutes(1)) / 2;

  // Back at the low step from a later one while the program runs: it began again.
  const bool back = before && program && InProgram(before->runMode) && r.step == r.lowStep && before->step > r.step;
  if (load) {
    Member& m = load->members[r.channel];
    if (m.lost) Record(*load, LoadEvent(r.at, event::kBack, r.channel));
    m.lost = false;
    if (!FollowPause(*load, m, r, program) && !m.ended && back && m.running && !m.jumped) {
      EndMember(*load, r.channel, r.at, "program started again at step " + std::to_string(r.step));
      load = Find(r.channel);
    }
  }
  if (load && !load->closed && r.at - load->record.header.opened > kLoadStartWaits &&
      std::none_of(load->members.begin(), load->members.end(), [](const auto& e) { return e.second.started; })) {
    EndUnstarted(*load, r.at, "no program started within " + std::to_string(kLoadStartWaits.count()) + " minutes");
    load = nullptr;
  }
  if (load) {
    Member& m = load->members[r.channel];
    // A jump stops the program for a moment (run mode 0 between its writes): not its end.
    const bool midJump = m.jumped && !program;
    m.jumped = midJump;
    if (program && !m.ended) m.running = m.started = true;
    Record(*load, SampleOf(*load, r));
    if (!m.ended && m.running) {
      if (!program && m.pause == Pause::None && !midJump)
        EndMember(*load, r.channel, r.at, "run mode left to 0 at step " + std::to_string(r.step));
      else if (program && AtEnd(load->record.header, r))
        EndMember(*load, r.channel, r.at, "end step reached");
    }
  } else if (planner_ && before && program) {
    StartSeen(r, *before, back);
  }
  Settle(r.at);
}

void LoadTracker::StartSeen(const LoadReading& r, const Seen& before, bool back) {
  // A start on the controller's panel: out of run mode 0 into a program, or back to its low
  // step (or to less time in it).
  const bool started =
      before.runMode == 0 || back || (r.step == r.lowStep && before.step == r.step && before.stepTime > r.stepTime);
  if (!started) return;
  if (auto plan = planner_(r.channel)) {
    if (plan->operatorName.empty()) plan->startedBy = "front panel";  // no client asked for it
    auto opened = Open(*plan, r.at, false);
    if (!opened.ok()) Say(opened.status().message());
    if (Load* begun = Find(r.channel)) {
      begun->members[r.channel].running = begun->members[r.channel].started = true;
      Record(*begun, SampleOf(*begun, r));
    }
  }
}

bool LoadTracker::Act(const LoadAction& a) {
  Load* load = Find(a.channel);
  if (!load) return false;
  // A cancel may name the load it ends (as its old value): one that ended before the cancel was
  // taken is not followed by a cancel of the next load on the channel.
  const bool cancel = a.kind == LoadAction::Kind::Cancel;
  if (cancel && !a.oldValue.empty() && a.oldValue != load->record.header.loadId) return false;
  static const char* const kKinds[] = {event::kPause,    event::kRestart, event::kJump,
                                       event::kSetValue, event::kMode,    event::kCancel};
  LoadEvent e(a.at, kKinds[static_cast<int>(a.kind)], a.channel);
  e.who = a.who;
  e.what = a.what;
  e.oldValue = cancel ? "" : a.oldValue;  // the record's own id
  e.newValue = a.newValue;
  Record(*load, e);
  Member& m = load->members[a.channel];
  switch (a.kind) {
    case LoadAction::Kind::Pause:
      if (!StoppedShort(a.what, a.oldValue, a.newValue))
        m.pause = Pause::Asked;
      else if (m.pause != Pause::None)
        m.pause = Pause::Failed;  // the next reading tells whether it held the program
      break;
    case LoadAction::Kind::Restart:
      m.pause = Pause::None;
      m.running = false;
      m.jumped = true;
      break;
    case LoadAction::Kind::Jump: m.jumped = true; break;
    case LoadAction::Kind::Cancel:
      Close(*load, a.at,
            "cancelled by " + (a.who.empty() ? std::string("an operator") : a.who) +
                (a.what.empty() ? "" : ": " + a.what),
            true);
      break;
    default: break;
  }
  Settle(a.at);
  return true;
}

bool LoadTracker::Alarm(int channel, SystemClock::time_point at, bool raised, const std::string& text) {
  Load* load = Find(channel);
  if (!load) return false;
  LoadEvent e(at, raised ? event::kAlarmRaised : event::kAlarmCleared, channel);
  e.what = text;
  Record(*load, e);
  return true;
}

bool LoadTracker::AlarmAcknowledged(int channel, SystemClock::time_point at, const std::string& who,
                                    const std::string& text) {
  Load* load = Find(channel);
  if (!load) return false;
  LoadEvent e(at, event::kAlarmAcknowledged, channel);
  e.who = who;
  e.what = text;
  Record(*load, e);
  return true;
}

void LoadTracker::EndMember(Load& load, int channel, SystemClock::time_point at, const std::string& how) {
  Member& m = load.members[channel];
  if (m.ended) return;
  m.ended = true;
  LoadEvent end(at, event::kEnd, channel);
  end.what = how;
  Record(load, end);
  // Over once every controller that ran has ended: one that never started is not waited for.
  if (std::all_of(load.members.begin(), load.members.end(),
                  [](const auto& e) { return e.second.ended || !e.second.started; }))
    EndUnstarted(load, at, how);
}

void LoadTracker::EndUnstarted(Load& load, SystemClock::time_point at, const std::string& how) {
  for (auto& [channel, member] : load.members)
    if (!member.ended && !member.started) {
      member.ended = true;
      LoadEvent end(at, event::kEnd, channel);
      end.what = "not started";
      Record(load, end);
    }
  Close(load, at, how);
}

void LoadTracker::Close(Load& load, SystemClock::time_point at, const std::string& ended, bool cancelled) {
  if (load.closed) return;
  const LoadResult result = load.checks->Result(load.record, at);
  for (const LoadCheck& check : result.checks) {
    load.writer->Add(CheckLine(check), at, false);
    load.record.checks.push_back(check);
  }
  load.record.close = LoadClose{at, result.pass && !cancelled, ended, "", cancelled};
  load.writer->Add(ResultLine(*load.record.close), at, false);
  load.writer->Add(CloseLine(at), at, true, true);
  load.record.lines += static_cast<long long>(result.checks.size()) + 2;
  load.closed = true;
  Tell(load);
}

}  // namespace tarvel::watch
