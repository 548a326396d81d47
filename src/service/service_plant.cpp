#include "service/service_plant.h"

#include <algorithm>

#include "store/config_store.h"
#include "watch/load_book.h"

namespace tarvel::service {
namespace {

using nlohmann::json;

std::string Utc(long long ms) {
  return ms == 0 ? "" : watch::IsoTime(watch::SystemClock::time_point(std::chrono::milliseconds(ms)));
}

Status NotThisLine(const std::string& line) {
  return Status::Error(Status::Code::NotFound, "The line " + line + " is not served here");
}

}  // namespace

ServicePlant::ServicePlant(Service& service, ReportMaker reports) : service_(service), reports_(std::move(reports)) {
  service_.Tap([this](const std::string& kind, const json& data) { Take(kind, data); });
  for (const json& status : service_.Channels()) trends_.Take(status);
}

ServicePlant::~ServicePlant() { service_.Tap({}); }

void ServicePlant::Take(const std::string& kind, const json& data) {
  if (kind == "reading") trends_.Take(data);
  if (kind == "sweep" && data.contains("zones")) {
    std::lock_guard lock(mutex_);
    for (const json& zone : data["zones"]) zones_[zone["zone"].get<std::string>()] = zone;
  }
}

json ServicePlant::Controllers() const {
  json controllers = service_.Channels();
  for (json& status : controllers) status["line"] = "";
  return controllers;
}

json ServicePlant::Alarms() const {
  json alarms = json::array();
  store::ConfigStore store(service_.Folder().ConfigDatabase());
  auto open = store.OpenAlarms();
  if (!open.ok()) return alarms;
  for (const store::AlarmRow& row : *open)
    alarms.push_back({{"line", ""},
                      {"channel", row.softwareChannel},
                      {"kind", row.kind},
                      {"text", row.text},
                      {"raised", Utc(row.raised)},
                      {"cleared", Utc(row.cleared)},
                      {"ackedBy", row.ackedBy},
                      {"acked", Utc(row.acked)}});
  return alarms;
}

json ServicePlant::Zones() const {
  store::ConfigStore store(service_.Folder().ConfigDatabase());
  std::map<std::string, json> zones;
  if (auto rows = store.Zones(); rows.ok())
    for (const store::ZoneRow& row : *rows) {
      json& zone = zones[row.zoneName];
      zone["line"] = "";
      zone["zone"] = row.zoneName;
      zone["channels"].push_back(row.softwareChannel);
    }
  std::lock_guard lock(mutex_);
  json list = json::array();
  for (auto& [name, zone] : zones) {
    if (auto swept = zones_.find(name); swept != zones_.end())
      for (const char* field : {"low", "high", "spread", "running"}) zone[field] = swept->second.value(field, json());
    list.push_back(zone);
  }
  return list;
}

json ServicePlant::Loads() const {
  json loads = json::array();
  for (const watch::LoadSummary& load : watch::ListLoads(service_.Folder(), {})) {
    json channels = json::array();
    for (const watch::LoadController& c : load.header.controllers) channels.push_back(c.channel);
    loads.push_back({{"line", ""},
                     {"id", load.header.loadId},
                     {"channels", channels},
                     {"furnace", load.header.furnace},
                     {"profile", load.header.profileName},
                     {"operator", load.header.operatorName},
                     {"start", watch::IsoTime(load.header.opened)},
                     {"end", load.close ? watch::IsoTime(load.close->at) : ""},
                     {"result", load.close ? watch::ResultWord(*load.close) : ""},
                     {"report", true}});
  }
  std::reverse(loads.begin(), loads.end());  // the newest first
  return loads;
}

json ServicePlant::Trend(const std::string& line, int channel) const { return trends_.Of(line, channel); }

long long ServicePlant::Since(long long after, std::vector<std::string>& events, std::chrono::milliseconds wait) {
  return service_.Events().Since(after, events, wait);
}

Status ServicePlant::Acknowledge(const std::string& line, int channel, const std::string& user) {
  if (!line.empty()) return NotThisLine(line);
  store::ConfigStore store(service_.Folder().ConfigDatabase());
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(watch::SystemClock::now().time_since_epoch());
  auto row = store.AcknowledgeAlarm(channel, user, now.count());
  if (!row.ok()) return row.status();
  service_.Events().Publish(
      "ack", {{"line", ""}, {"channel", channel}, {"ackedBy", row->ackedBy}, {"acked", Utc(row->acked)}});
  return Status::Ok();
}

Result<std::string> ServicePlant::Report(const std::string& line, const std::string& loadId,
                                         const std::string& format) {
  if (!line.empty()) return NotThisLine(line);
  if (!watch::IsLoadId(loadId)) return Status::Error(Status::Code::NotFound, "No load " + loadId);
  if (!reports_) return Status::Failed("This program makes no reports");
  return reports_(loadId, format);
}

}  // namespace tarvel::service
