#include "watch/load_tracker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>

#include "profile/chart_data.h"
#include "profile/profile_text.h"
#include "watch/design_band.h"
#include "watch/load_checks.h"
#include "watch/load_start.h"

namespace tarvel::watch {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The readable end of an id: the furnace's name or the first controller's nickname, letters and
// digits only.
std::string IdTag(const LoadPlan& plan) {
  std::string tag;
  for (char c : plan.furnace.empty() ? plan.controllers.front().nickname : plan.furnace)
    if (std::isalnum(static_cast<unsigned char>(c)) && tag.size() < 12) tag += c;
  return tag.empty() ? "CH" + std::to_string(plan.controllers.front().channel) : tag;
}

// The next free number of the day: one more than the highest record of that day.
int NextNumberOfDay(const fs::path& folder, const std::string& prefix) {
  int highest = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(prefix) && name.size() >= prefix.size() + 4)
      highest = std::max(highest, std::atoi(name.substr(prefix.size(), 4).c_str()));
  }
  return highest + 1;
}

bool InProgram(int runMode) { return runMode >= 1 && runMode <= 4; }

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

LoadTracker::LoadTracker(AppFolder folder, store::ConfigStore& store, Clock clock, RecordOpener open, const Mine& mine)
    : folder_(std::move(folder)), store_(store), clock_(std::move(clock)), open_(std::move(open)) {
  auto rows = store_.OpenLoads();
  if (!rows.ok()) {
    Say("Loads under way cannot be continued: " + rows.status().message());
    return;
  }
  const auto now = clock_();
  for (const store::LoadRow& row : rows.value())
    if (!mine || mine(row)) Resume(row, now);
}

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

Result<std::string> LoadTracker::Start(const LoadPlan& plan) { return Open(plan, clock_(), true); }

Result<std::string> LoadTracker::Open(const LoadPlan& plan, SystemClock::time_point at, bool asked) {
  auto refuse = [](const std::string& why) { return Status::Error(Status::Code::Invalid, "Load not started: " + why); };
  if (plan.controllers.empty()) return refuse("no controller");
  for (const LoadController& c : plan.controllers)
    if (auto other = LoadOf(c.channel)) return refuse("channel " + std::to_string(c.channel) + " is in load " + *other);

  LoadHeader header;
  const std::vector<FieldRule> rules = ReadFieldRules(folder_);
  if (asked)
    if (Status checked = CheckLoadStart(rules, plan.operatorName, plan.fields); !checked.ok()) return checked;
  header.operatorName = Trimmed(plan.operatorName);
  for (const FieldRule& rule : rules) {
    std::string value;
    for (const ShopField& given : plan.fields)
      if (Lower(given.name) == Lower(rule.name)) value = Trimmed(given.value);
    if (!value.empty()) header.fields.push_back({rule.name, value});
    if (value.empty() && rule.required) header.missing.push_back(rule.name);
  }

  Load load;
  header.opened = at;
  header.startedBy = plan.startedBy;
  header.furnace = plan.furnace;
  header.controllers = plan.controllers;
  header.profileName = plan.profileName;
  header.lowStep = plan.lowStep;
  header.highStep = plan.highStep;
  header.program = plan.program;
  header.sweepPeriod = plan.sweepPeriod;
  std::ifstream in(plan.profileFile, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (const std::string text = profile::ProfileTextFromBytes(bytes); !text.empty()) {
    header.profileSha256 = Sha256Hex(bytes);
    header.timeScale = profile::TimeScaleField(text);
    header.temperatureScale = profile::TemperatureScaleField(text);
    load.design = profile::ParseProfileText(text);
    load.lastRow = profile::LastProfileRow(load.design);
    for (int row = 1; row <= load.lastRow; ++row) {
      DesignRow cells;
      for (int c = 0; c < 7; ++c) cells[c] = load.design.at(row, profile::kStartTime + c);
      header.design.push_back(cells);
    }
    load.endTime = profile::ProfileEndTime(load.design, load.lastRow).value_or(0);
  } else {
    Say("Load of channel " + std::to_string(plan.controllers.front().channel) + ": the profile file " +
        plan.profileFile.string() + " cannot be read; the load has no design to compare with");
  }

  // The id: the day and its number, unique because the file is made only where none is.
  char day[16];
  const std::time_t seconds = SystemClock::to_time_t(at);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  std::strftime(day, sizeof day, "%Y%m%d", &utc);
  const std::string prefix = std::string("L-") + day + "-";
  for (int number = NextNumberOfDay(LoadsFolder(folder_), prefix); !load.writer && number <= 9999; ++number) {
    char id[64];
    std::snprintf(id, sizeof id, "%s%04d-%s", prefix.c_str(), number, IdTag(plan).c_str());
    auto writer = RecordWriter::Create(LoadFile(folder_, id), open_);
    if (writer.ok()) {
      load.writer = std::move(writer).value();
      header.loadId = id;
    } else if (writer.status().code() != Status::Code::Duplicate) {
      return Status::Error(writer.status().code(), "Load not started: " + writer.status().message());
    }
  }
  if (!load.writer) return Status::Failed("Load not started: no free load number for " + std::string(day));
  load.writer->OnMessage([this, id = header.loadId](const std::string& text) { Say("Load " + id + ": " + text); });

  for (const LoadController& c : plan.controllers) load.members[c.channel] = Member{};
  load.record.header = header;
  load.checks.emplace(header);
  load.writer->Add(HeaderLine(header), at, true);
  load.record.lines = 1;
  const std::string id = header.loadId;
  Load& placed = loads_[id] = std::move(load);
  LoadEvent start(at, event::kStart);
  start.who = header.operatorName.empty() ? "front panel" : header.operatorName;
  start.what = "started from the " + plan.startedBy;
  Record(placed, start);
  Tell(placed);
  Settle(at);
  return id;
}

void LoadTracker::OnLoad(std::function<void(const LoadRecord&)> listener) {
  loadListener_ = std::move(listener);
  for (const auto& [id, load] : loads_) Tell(load);
}

void LoadTracker::Tell(const Load& load) const {
  if (loadListener_) loadListener_(load.record);
}

void LoadTracker::Resume(const store::LoadRow& row, SystemClock::time_point now) {
  const fs::path file = LoadFile(folder_, row.loadId);
  std::size_t cut = 0;
  auto writer = RecordWriter::Continue(file, open_, &cut);
  auto record = writer.ok() ? ReadLoadRecord(file) : Result<LoadRecord>(writer.status());
  if (!record.ok()) {
    Say("Load " + row.loadId + " cannot be continued: " + record.status().message());
    return;
  }
  Load load;
  load.writer = std::move(writer).value();
  load.writer->OnMessage([this, id = row.loadId](const std::string& text) { Say("Load " + id + ": " + text); });
  load.record = std::move(record).value();
  load.rowState = "open";
  if (load.record.close) {  // closed by the process before, which could not say so in the table
    load.closed = true;
    Tell(loads_[row.loadId] = std::move(load));
    Settle(now);
    return;
  }
  const LoadHeader& header = load.record.header;
  for (const DesignRow& cells : header.design) {
    ++load.lastRow;
    for (int c = 0; c < 7; ++c) load.design.at(load.lastRow, profile::kStartTime + c) = cells[c];
  }
  load.endTime = profile::ProfileEndTime(load.design, load.lastRow).value_or(0);
  for (const LoadController& c : header.controllers) load.members[c.channel] = Member{};
  // Where each controller stood, from the record.
  for (const LoadEvent& e : load.record.events) {
    auto member = load.members.find(e.channel);
    if (member == load.members.end()) continue;
    if (e.kind == event::kEnd) member->second.ended = true;
    if (e.kind == event::kPause) member->second.paused = true;
    if (e.kind == event::kRestart) member->second.paused = member->second.running = false;
  }
  load.checks.emplace(header);
  for (const LoadSample& s : load.record.samples) {
    load.checks->Add(s);
    auto member = load.members.find(s.channel);
    if (member == load.members.end()) continue;
    member->second.lost = s.gap;
    if (s.gap) continue;
    if (InProgram(s.runMode)) member->second.running = member->second.started = true;
    seen_[s.channel] = {s.runMode, s.step, s.stepTime, s.at, std::nullopt};
  }
  load.record.samples = {};
  LoadEvent resumed(now, event::kResumed);
  resumed.from = load.record.lastAt;
  resumed.to = now;
  if (cut > 0) resumed.what = "a part line of " + std::to_string(cut) + " bytes left at the end was cut off";
  Load& placed = loads_[row.loadId] = std::move(load);
  Record(placed, resumed);
  Tell(placed);
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

void LoadTracker::Take(const LoadReading& r) {
  std::optional<Seen> before;
  if (auto seen = seen_.find(r.channel); seen != seen_.end()) before = seen->second;
  Load* load = Find(r.channel);

  if (!r.ok) {
    if (load) {
      Member& m = load->members[r.channel];
      LoadSample gap;
      gap.at = r.at;
      gap.channel = r.channel;
      gap.gap = true;
      gap.why = r.why.empty() ? "no reply" : r.why;
      Record(*load, gap);
      if (!m.lost) {
        LoadEvent lost(r.at, event::kLost, r.channel);
        lost.what = gap.why;
        Record(*load, lost);
      }
      m.lost = true;
    }
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
    if (!m.ended && program && m.paused) {  // resumed on the controller's own panel
      LoadEvent resumed(r.at, event::kRestart, r.channel);
      resumed.who = "front panel";
      resumed.newValue = "mode " + std::to_string(r.runMode);
      Record(*load, resumed);
      m.paused = false;
    } else if (!m.ended && back && m.running && !m.jumped) {
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
      if (!program && !m.paused && !midJump)
        EndMember(*load, r.channel, r.at, "run mode left to 0 at step " + std::to_string(r.step));
      else if (program && AtEnd(load->record.header, r))
        EndMember(*load, r.channel, r.at, "end step reached");
    }
  } else if (planner_ && before && program) {
    // A start on the controller's panel: out of run mode 0 into a program, or back to its low
    // step (or to less time in it).
    const bool started = before->runMode == 0 || back ||
                         (r.step == r.lowStep && before->step == r.step && before->stepTime > r.stepTime);
    if (started) {
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
  }
  Settle(r.at);
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
    case LoadAction::Kind::Pause: m.paused = true; break;
    case LoadAction::Kind::Restart:
      m.paused = m.running = false;
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

void LoadTracker::Settle(SystemClock::time_point now) {
  for (auto it = loads_.begin(); it != loads_.end();) {
    Load& load = it->second;
    load.writer->Retry(now);
    const bool sealed = load.closed && !load.writer->Holding();
    const std::string wanted = sealed ? "closed" : "open";
    if (load.rowState != wanted) {
      std::string channels;
      for (const auto& [channel, member] : load.members)
        channels += (channels.empty() ? "" : ",") + std::to_string(channel);
      const store::LoadRow row{it->first,
                               wanted,
                               channels,
                               UtcTime(load.record.header.opened),
                               sealed ? load.writer->Head() : "",
                               sealed ? load.writer->Lines() : 0};
      if (Status saved = store_.SaveLoad(row); saved.ok()) {
        load.rowState = wanted;
      } else {
        if (load.rowState != "failed " + wanted)
          Say("Load " + it->first + ": " + saved.message() + "; tried again at the next reading");
        load.rowState = "failed " + wanted;
      }
    }
    it = sealed && load.rowState == "closed" ? loads_.erase(it) : std::next(it);
  }
}

}  // namespace tarvel::watch
