#include "web/broker_plant.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

namespace tarvel::web {
namespace {

using Json = nlohmann::json;
using Clock = std::chrono::system_clock;

constexpr std::size_t kEventsKept = 4096;  // as the service keeps for slow listeners
constexpr std::size_t kAlarmsKept = 1000;
constexpr std::size_t kLoadsKept = 1000;
constexpr auto kAlarmHistory = std::chrono::hours(24);

Json Field(const Json& j, const char* key) { return j.is_object() && j.contains(key) ? j[key] : Json(nullptr); }
std::string Text(const Json& j, const char* key) {
  const Json v = Field(j, key);
  return v.is_string() ? v.get<std::string>() : std::string();
}
bool Flag(const Json& j, const char* key) {
  const Json v = Field(j, key);
  return v.is_boolean() && v.get<bool>();
}

std::vector<std::string> Levels(const std::string& topic) {
  std::vector<std::string> levels;
  std::size_t at = 0;
  for (std::size_t slash; (slash = topic.find('/', at)) != std::string::npos; at = slash + 1)
    levels.push_back(topic.substr(at, slash - at));
  levels.push_back(topic.substr(at));
  return levels;
}

std::string Joined(const std::vector<std::string>& levels, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += (i ? "/" : "") + levels[i];
  return out;
}

std::optional<int> ChannelLevel(const std::string& level) {
  if (level.empty() || level.size() > 7 || !std::all_of(level.begin(), level.end(), ::isdigit)) return std::nullopt;
  return std::stoi(level);
}

// The service's status field, and the publisher's state field that holds the same (the last
// four values are the broker's beyond the service's).
constexpr std::pair<const char*, const char*> kValues[] = {{"address", "address"},
                                                           {"at", "time"},
                                                           {"lastGood", "last_good"},
                                                           {"step", "step"},
                                                           {"stepTime", "step_time"},
                                                           {"runMode", "run_mode"},
                                                           {"setPoint", "set_point"},
                                                           {"processValue", "process_value"},
                                                           {"programTime", "program_time"},
                                                           {"design", "design"},
                                                           {"bandLow", "band_low"},
                                                           {"bandHigh", "band_high"},
                                                           {"deviation", "deviation"},
                                                           {"units", "units"},
                                                           {"alarmAckedBy", "alarm_acknowledged_by"},
                                                           {"alarmAcked", "alarm_acknowledged"}};
constexpr std::pair<const char*, const char*> kTexts[] = {
    {"nickName", "nickname"}, {"zone", "zone"}, {"profile", "profile"},     {"state", "state"},
    {"failure", "failure"},   {"band", "band"}, {"alarmText", "alarm_text"}};

// A publisher's state JSON as the service's status JSON: the same field names, so that a page
// reads either. What the broker does not carry (the port, the program's step range, the
// recording file) is empty.
Json StatusOf(const std::string& line, int channel, const Json& s, bool available, bool lineOnline) {
  Json status = {{"line", line},
                 {"channel", Field(s, "channel").is_number() ? Field(s, "channel") : Json(channel)},
                 {"port", ""},
                 {"lowStep", nullptr},
                 {"highStep", nullptr},
                 {"recording", ""},
                 {"available", available && lineOnline}};
  for (auto [ours, theirs] : kValues) status[ours] = Field(s, theirs);
  for (auto [ours, theirs] : kTexts) status[ours] = Text(s, theirs);
  for (const char* flag : {"relay1", "relay2", "alarm"}) status[flag] = Flag(s, flag);
  // Its last state is not now's: a controller that stopped answering, or a PC gone from the
  // broker (its last will), shows no reply rather than the old values as current.
  if (!lineOnline || !available) {
    status["state"] = "no reply";
    if (status["failure"].get<std::string>().empty())
      status["failure"] = lineOnline ? "no reply" : "the line's PC is not on the broker";
    for (const char* key : {"step", "stepTime", "runMode", "setPoint", "processValue", "programTime", "design",
                            "bandLow", "bandHigh", "deviation"})
      status[key] = nullptr;
    status["relay1"] = status["relay2"] = false;
    status["band"] = "";
  }
  return status;
}

// An open alarm of the page's list, from a state or an alarm message (its text under textKey).
Json AlarmRow(const std::string& line, int channel, const Json& from, const char* textKey, const Json& raised) {
  return {{"line", line},
          {"port", ""},
          {"channel", channel},
          {"nickName", Text(from, "nickname")},
          {"text", Text(from, textKey)},
          {"raised", raised},
          {"cleared", nullptr},
          {"ackedBy", nullptr},
          {"acked", nullptr}};
}

}  // namespace

struct BrokerPlant::Topics {
  struct Controller {
    Json state;
    bool available = true;
  };
  using Key = std::pair<std::string, int>;  // line, channel
  struct Alarm {
    Json row;
    std::string kind;
    Clock::time_point clearedSeen{};
  };

  std::vector<std::string> roots;
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::map<Key, Controller> controllers;
  std::map<std::string, bool> lines;                          // line -> its PC online (the status topic)
  std::map<std::pair<std::string, std::string>, Json> zones;  // line, zone level -> zone state
  std::map<std::string, Json> loadTopics;                     // topic -> the load it holds now
  std::deque<Json> loads;                                     // every load seen, newest last
  std::deque<Alarm> alarms;
  std::deque<std::pair<long long, std::string>> events;
  long long last = 0;

  // Each but Take under the lock.
  void Emit(const std::string& kind, const Json& data) {
    events.emplace_back(
        ++last, "event: " + kind + "\ndata: " + data.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n\n");
    if (events.size() > kEventsKept) events.pop_front();
  }

  bool LineOnline(const std::string& line) const {
    auto it = lines.find(line);
    return it == lines.end() || it->second;
  }

  Json StatusJson(const Key& key, const Controller& c) const {
    return StatusOf(key.first, key.second, c.state, c.available, LineOnline(key.first));
  }

  void Prune() {
    const auto now = Clock::now();
    std::erase_if(alarms, [&](const Alarm& a) {
      return a.clearedSeen != Clock::time_point{} && now - a.clearedSeen > kAlarmHistory;
    });
    while (alarms.size() > kAlarmsKept) alarms.pop_front();
  }

  Alarm* OpenAlarm(const std::string& line, int channel, const std::string& kind) {
    for (Alarm& a : alarms)
      if (a.row["line"] == line && a.row["channel"] == channel && a.row["cleared"].is_null() &&
          (kind.empty() || a.kind.empty() || a.kind == kind))
        return &a;
    return nullptr;
  }

  void CloseAlarms(const std::string& line, int channel, const Json& at) {
    for (Alarm& a : alarms)
      if (a.row["line"] == line && a.row["channel"] == channel && a.row["cleared"].is_null()) {
        a.row["cleared"] = at;
        a.clearedSeen = Clock::now();
      }
  }

  void TakeState(const std::string& line, int channel, const std::string& payload) {
    const Key key{line, channel};
    if (payload.empty()) {
      if (controllers.erase(key)) {
        CloseAlarms(line, channel, nullptr);
        Emit("removed", {{"line", line}, {"channel", channel}});
      }
      return;
    }
    Json state = Json::parse(payload, nullptr, false);
    if (!state.is_object()) return;
    Controller& c = controllers[key];
    c.state = std::move(state);
    if (Text(c.state, "state") == "no reply") c.available = false;
    // The state carries the alarm as it stands: one raised before we listened, its
    // acknowledgement, or its end while we were away.
    if (Flag(c.state, "alarm")) {
      Alarm* open = OpenAlarm(line, channel, "");
      if (!open) open = &alarms.emplace_back(Alarm{AlarmRow(line, channel, c.state, "alarm_text", nullptr), ""});
      open->row["ackedBy"] = Field(c.state, "alarm_acknowledged_by");
      open->row["acked"] = Field(c.state, "alarm_acknowledged");
    } else {
      CloseAlarms(line, channel, Field(c.state, "time"));
    }
    Prune();
    Emit("reading", StatusJson(key, c));
  }

  void TakeAvailability(const std::string& line, int channel, const std::string& payload) {
    auto it = controllers.find({line, channel});
    if (it == controllers.end() || payload.empty()) return;
    const bool available = payload == "online";
    if (available == it->second.available) return;
    it->second.available = available;
    Emit("reading", StatusJson(it->first, it->second));
  }

  void TakeLine(const std::string& line, const std::string& payload) {
    if (payload != "online" && payload != "offline") return;
    const bool online = payload == "online";
    if (LineOnline(line) == online && lines.contains(line)) return;
    lines[line] = online;
    Emit("line", {{"line", line}, {"online", online}});
    for (const auto& [key, c] : controllers)
      if (key.first == line) Emit("reading", StatusJson(key, c));
  }

  void TakeAlarm(const std::string& line, int channel, const std::string& payload) {
    const Json e = Json::parse(payload, nullptr, false);
    if (!e.is_object()) return;
    const bool raised = Text(e, "state") == "raised";
    const std::string kind = Text(e, "alarm");
    if (raised) {
      if (!OpenAlarm(line, channel, kind))
        alarms.push_back({AlarmRow(line, channel, e, "text", Field(e, "time")), kind});
    } else if (Alarm* open = OpenAlarm(line, channel, kind)) {
      open->row["cleared"] = Field(e, "time");
      open->clearedSeen = Clock::now();
    }
    Prune();
    Emit("alarm", {{"line", line},
                   {"channel", channel},
                   {"address", Field(e, "address")},
                   {"nickName", Text(e, "nickname")},
                   {"port", ""},
                   {"at", Field(e, "time")},
                   {"raised", raised},
                   {"text", Text(e, "text")},
                   {"processValue", Field(e, "process_value")}});
  }

  void TakeZone(const std::string& line, const std::string& zone, const std::string& payload) {
    if (payload.empty()) {
      if (zones.erase({line, zone})) Emit("zone", {{"line", line}, {"zone", zone}, {"removed", true}});
      return;
    }
    Json z = Json::parse(payload, nullptr, false);
    if (!z.is_object()) return;
    z["line"] = line;
    zones[{line, zone}] = z;
    Emit("zone", z);
  }

  void TakeLoad(const std::string& line, const std::string& topic, const std::string& payload) {
    if (payload.empty()) {
      loadTopics.erase(topic);
      return;
    }
    const Json l = Json::parse(payload, nullptr, false);
    if (!l.is_object()) return;
    loadTopics[topic] = l;
    Json row = {{"line", line},
                {"id", Text(l, "id")},
                {"channels", Field(l, "channels")},
                {"channel", Field(l, "channels").is_array() && !l["channels"].empty() ? l["channels"][0] : Json()},
                {"zone", Field(l, "zone")},
                {"operator", Text(l, "operator")},
                {"profile", Text(l, "profile")},
                {"start", Field(l, "started")},
                {"end", Field(l, "ended")},
                {"result", Field(l, "result")},
                {"how", Field(l, "how")},
                {"report", false}};
    auto same = std::find_if(loads.begin(), loads.end(),
                             [&](const Json& r) { return r["line"] == line && r["id"] == row["id"]; });
    if (same != loads.end()) {
      if (*same == row) return;  // the same load on its zone's topic and each controller's
      *same = row;
    } else {
      loads.push_back(row);
      if (loads.size() > kLoadsKept) loads.pop_front();
    }
    Emit("load", row);
  }

  void Take(const std::string& topic, const std::string& payload) {
    if (std::none_of(roots.begin(), roots.end(),
                     [&](const std::string& root) { return topic.starts_with(root + "/"); }))
      return;
    const std::vector<std::string> levels = Levels(topic);
    const std::size_t n = levels.size();
    const std::string& leaf = levels.back();
    std::lock_guard lock(mutex);
    if (leaf == "status") {
      TakeLine(Joined(levels, n - 1), payload);
    } else if (n >= 3 && levels[n - 3] == "zone" && (leaf == "state" || leaf == "load") &&
               !IsControllerState(levels, payload)) {
      // PREFIX/zone/ZONE/...; a prefix that ends in "zone" with a numbered channel below it
      // is told apart by what the payload (or what the topic held) is.
      const std::string line = Joined(levels, n - 3);
      if (leaf == "state")
        TakeZone(line, levels[n - 2], payload);
      else
        TakeLoad(line, topic, payload);
    } else if (auto channel = n >= 2 ? ChannelLevel(levels[n - 2]) : std::nullopt) {
      const std::string line = Joined(levels, n - 2);
      if (leaf == "state")
        TakeState(line, *channel, payload);
      else if (leaf == "availability")
        TakeAvailability(line, *channel, payload);
      else if (leaf == "alarm")
        TakeAlarm(line, *channel, payload);
      else if (leaf == "load")
        TakeLoad(line, topic, payload);
    } else {
      return;
    }
    changed.notify_all();
  }

  bool IsControllerState(const std::vector<std::string>& levels, const std::string& payload) const {
    const std::size_t n = levels.size();
    if (!ChannelLevel(levels[n - 2]) || levels.back() != "state") return false;
    if (payload.empty()) return controllers.contains({Joined(levels, n - 2), *ChannelLevel(levels[n - 2])});
    const Json j = Json::parse(payload, nullptr, false);
    return j.is_object() && j.contains("channel") && !j.contains("channels");
  }
};

BrokerPlant::BrokerPlant(std::vector<std::string> roots) : topics_(std::make_unique<Topics>()) {
  topics_->roots = std::move(roots);
}

BrokerPlant::~BrokerPlant() = default;

void BrokerPlant::Take(const std::string& topic, const std::string& payload) { topics_->Take(topic, payload); }

const std::vector<std::string>& BrokerPlant::Roots() const { return topics_->roots; }

Json BrokerPlant::Controllers() const {
  std::lock_guard lock(topics_->mutex);
  Json out = Json::array();
  for (const auto& [key, c] : topics_->controllers) out.push_back(topics_->StatusJson(key, c));
  return out;
}

Json BrokerPlant::Alarms() const {
  std::lock_guard lock(topics_->mutex);
  const auto now = Clock::now();
  Json out = Json::array();
  for (const Topics::Alarm& a : topics_->alarms)
    if (a.clearedSeen == Clock::time_point{} || now - a.clearedSeen <= kAlarmHistory) out.push_back(a.row);
  return out;
}

Json BrokerPlant::Zones() const {
  std::lock_guard lock(topics_->mutex);
  Json out = Json::array();
  for (const auto& [key, zone] : topics_->zones) out.push_back(zone);
  return out;
}

Json BrokerPlant::Loads() const {
  std::lock_guard lock(topics_->mutex);
  return Json(topics_->loads);
}

long long BrokerPlant::Since(long long after, std::vector<std::string>& events, std::chrono::milliseconds wait) {
  std::unique_lock lock(topics_->mutex);
  topics_->changed.wait_for(lock, wait, [&] { return topics_->last > after; });
  for (const auto& [number, text] : topics_->events)
    if (number > after) events.push_back(text);
  return topics_->last;
}

Status BrokerPlant::Acknowledge(const std::string& line, int channel, const std::string&) {
  return Status::Error(Status::Code::ReadOnly, "Channel " + std::to_string(channel) + " of " + line +
                                                   " is read from the MQTT broker: acknowledge its alarm on the "
                                                   "PC that reads that line");
}

Result<std::string> BrokerPlant::Report(const std::string& line, const std::string& loadId, const std::string&) {
  return Status::Error(Status::Code::NotFound, "The report of load " + loadId + " is kept on the PC that reads " +
                                                   line + ", not on the MQTT broker");
}

}  // namespace tarvel::web
