// watch: how LoadTracker opens a load's record -- a new one at a start, or one the Loads table
// holds open when a new process takes over (its resume) -- and keeps that table in step; apart
// from the rules each reading and action is put to (load_tracker.cpp).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>

#include "profile/chart_data.h"
#include "profile/profile_text.h"
#include "watch/load_start.h"
#include "watch/load_tracker.h"

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
  ReadDesign(plan, header, load);
  if (Status created = CreateRecord(plan, at, header, load); !created.ok()) return created;
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

void LoadTracker::ReadDesign(const LoadPlan& plan, LoadHeader& header, Load& load) const {
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
}

Status LoadTracker::CreateRecord(const LoadPlan& plan, SystemClock::time_point at, LoadHeader& header, Load& load) {
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
  return Status::Ok();
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
    Member& m = member->second;
    if (e.kind == event::kEnd) m.ended = true;
    // A pause the record holds was held; after one that failed, the next reading tells.
    if (e.kind == event::kPause && !StoppedShort(e.what, e.oldValue, e.newValue)) m.pause = Pause::Held;
    if (e.kind == event::kPause && StoppedShort(e.what, e.oldValue, e.newValue) && m.pause != Pause::None)
      m.pause = Pause::Failed;
    if (e.kind == event::kRestart) {
      m.pause = Pause::None;
      m.running = false;
    }
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
