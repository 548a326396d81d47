#include "watch/zones.h"

#include <algorithm>

#include "controller/run_recorder.h"
#include "watch/line_file.h"

namespace tarvel::watch {

std::map<int, std::string> ZoneOfChannel(const std::vector<store::ZoneRow>& rows) {
  std::map<int, std::string> zones;
  for (const auto& row : rows) zones[row.softwareChannel] = row.zoneName;
  return zones;
}

std::vector<int> ZoneMembers(const std::vector<store::ZoneRow>& rows, const std::string& zone) {
  std::vector<int> members;
  for (const auto& row : rows)
    if (row.zoneName == zone) members.push_back(row.softwareChannel);
  std::sort(members.begin(), members.end());
  return members;
}

std::vector<ZoneSpread> Spreads(const std::vector<store::ZoneRow>& rows, const std::map<int, ChannelStatus>& statuses) {
  std::map<std::string, ZoneSpread> zones;
  for (const auto& row : rows) {
    auto found = statuses.find(row.softwareChannel);
    if (found == statuses.end()) continue;  // not mapped (any more)
    ZoneSpread& zone = zones[row.zoneName];
    zone.zone = row.zoneName;
    zone.channels.push_back(row.softwareChannel);
    const ChannelStatus& s = found->second;
    if (s.state == RunState::Running) zone.running = true;
    if (s.state == RunState::NoReply || !s.lastGood) continue;
    zone.low = std::min(zone.low.value_or(s.processValue), s.processValue);
    zone.high = std::max(zone.high.value_or(s.processValue), s.processValue);
  }
  std::vector<ZoneSpread> all;
  for (auto& [name, zone] : zones) {
    std::sort(zone.channels.begin(), zone.channels.end());
    all.push_back(std::move(zone));
  }
  return all;
}

std::filesystem::path ZoneRecorder::FileOf(const std::string& zone) const {
  auto found = runs_.find(zone);
  return found == runs_.end() ? std::filesystem::path() : found->second.file;
}

Status ZoneRecorder::Record(const ZoneSpread& zone, const std::map<int, ChannelStatus>& statuses,
                            SystemClock::time_point at) {
  if (!zone.running) {
    runs_.erase(zone.zone);  // the run is over: the next one gets a file of its own
    return Status::Ok();
  }
  Run& run = runs_[zone.zone];
  if (run.channels != zone.channels) run = Run{{}, zone.channels};
  auto& file = run.file;
  std::vector<std::string> header = {"Time", "Spread", "Lowest", "Highest"};
  for (int channel : zone.channels) header.push_back("Channel " + std::to_string(channel));
  if (file.empty()) {
    std::string name = controller::RunLogFileName(zone.zone, at);  // "<zone> <date> <time>.log", made safe
    name.replace(name.size() - 4, 4, ".csv");
    const std::string stem = name.substr(0, name.size() - std::string(" YYYY-MM-DD HH-MM-SS.csv").size());
    file = folder_.LogFiles() / ("Zone-" + stem) / name;
    // Two runs started within the same second get their own files.
    for (int n = 2; std::filesystem::exists(file); ++n)
      file.replace_filename(name.substr(0, name.size() - 4) + " (" + std::to_string(n) + ").csv");
  }
  auto number = [](const std::optional<int>& v) { return v ? std::to_string(*v) : std::string(); };
  std::vector<std::string> fields = {IsoTime(at), number(zone.Spread()), number(zone.low), number(zone.high)};
  for (int channel : zone.channels) {
    const ChannelStatus& s = statuses.at(channel);
    fields.push_back(s.state == RunState::NoReply || !s.lastGood ? "" : std::to_string(s.processValue));
  }
  return AppendLine(file, CsvLine(header), CsvLine(fields));
}

}  // namespace tarvel::watch
