#include "web/mqtt_plant.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "util/text.h"

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

// A publisher's state JSON as the service's status JSON: the same field names, so that a page
// reads either. What the broker does not carry (the port, the program's step range, the
// recording file) is empty.
Json StatusOf(const std::string& line, int channel, const Json& s, bool available, bool lineOnline) {
  Json status = {{"line", line},
                 {"channel", Field(s, "channel").is_number() ? Field(s, "channel") : Json(channel)},
                 {"address", Field(s, "address")},
                 {"nickName", Text(s, "nickname")},
                 {"port", ""},
                 {"zone", Text(s, "zone")},
                 {"profile", Text(s, "profile")},
                 {"at", Field(s, "time")},
                 {"lastGood", Field(s, "last_good")},
                 {"state", Text(s, "state")},
                 {"failure", Text(s, "failure")},
                 {"lowStep", nullptr},
                 {"highStep", nullptr},
                 {"step", Field(s, "step")},
                 {"stepTime", Field(s, "step_time")},
                 {"runMode", Field(s, "run_mode")},
                 {"setPoint", Field(s, "set_point")},
                 {"processValue", Field(s, "process_value")},
                 {"relay1", Field(s, "relay1").is_boolean() && Field(s, "relay1").get<bool>()},
                 {"relay2", Field(s, "relay2").is_boolean() && Field(s, "relay2").get<bool>()},
                 {"programTime", Field(s, "program_time")},
                 {"design", Field(s, "design")},
                 {"bandLow", Field(s, "band_low")},
                 {"bandHigh", Field(s, "band_high")},
                 {"band", Text(s, "band")},
                 {"alarm", Field(s, "alarm").is_boolean() && Field(s, "alarm").get<bool>()},
                 {"alarmText", Text(s, "alarm_text")},
                 {"recording", ""},
                 // Beyond the service's fields: what the broker adds.
                 {"deviation", Field(s, "deviation")},
                 {"units", Field(s, "units")},
                 {"available", available && lineOnline},
                 {"alarmAckedBy", Field(s, "alarm_acknowledged_by")},
                 {"alarmAcked", Field(s, "alarm_acknowledged")}};
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

}  // namespace

struct MqttPlant::Impl {
  publish::MqttOptions options;
  std::vector<std::string> roots;
  mosquitto* mosq = nullptr;
  std::thread worker;

  mutable std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;
  bool connected = false;
  bool reportedDown = false;
  std::function<void(const std::string&)> problem;

  struct Controller {
    Json state;
    bool available = true;
  };
  using Key = std::pair<std::string, int>;  // line, channel
  std::map<Key, Controller> controllers;
  std::map<std::string, bool> lines;                          // line -> its PC online (the status topic)
  std::map<std::pair<std::string, std::string>, Json> zones;  // line, zone level -> zone state
  std::map<std::string, Json> loadTopics;                     // topic -> the load it holds now
  std::deque<Json> loads;                                     // every load seen, newest last
  struct Alarm {
    Json row;
    std::string kind;
    Clock::time_point clearedSeen{};
  };
  std::deque<Alarm> alarms;
  std::deque<std::pair<long long, std::string>> events;
  long long last = 0;

  void Report(const std::string& line) {
    std::function<void(const std::string&)> listener;
    {
      std::lock_guard lock(mutex);
      listener = problem;
    }
    if (listener) listener(line);
  }

  // Under the lock.
  void Emit(const std::string& kind, const Json& data) {
    events.emplace_back(
        ++last, "event: " + kind + "\ndata: " + data.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n\n");
    if (events.size() > kEventsKept) events.pop_front();
  }

  bool LineOnline(const std::string& line) const {
    auto it = lines.find(line);
    return it == lines.end() || it->second;
  }

  Json Status(const Key& key, const Controller& c) const {
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
    if (Field(c.state, "alarm").is_boolean() && c.state["alarm"].get<bool>()) {
      Alarm* open = OpenAlarm(line, channel, "");
      if (!open) {
        alarms.push_back({{{"line", line},
                           {"port", ""},
                           {"channel", channel},
                           {"nickName", Text(c.state, "nickname")},
                           {"text", Text(c.state, "alarm_text")},
                           {"raised", nullptr},
                           {"cleared", nullptr},
                           {"ackedBy", nullptr},
                           {"acked", nullptr}},
                          ""});
        open = &alarms.back();
      }
      open->row["ackedBy"] = Field(c.state, "alarm_acknowledged_by");
      open->row["acked"] = Field(c.state, "alarm_acknowledged");
    } else {
      CloseAlarms(line, channel, Field(c.state, "time"));
    }
    Prune();
    Emit("reading", Status(key, c));
  }

  void TakeAvailability(const std::string& line, int channel, const std::string& payload) {
    auto it = controllers.find({line, channel});
    if (it == controllers.end() || payload.empty()) return;
    const bool available = payload == "online";
    if (available == it->second.available) return;
    it->second.available = available;
    Emit("reading", Status(it->first, it->second));
  }

  void TakeLine(const std::string& line, const std::string& payload) {
    if (payload != "online" && payload != "offline") return;
    const bool online = payload == "online";
    if (LineOnline(line) == online && lines.contains(line)) return;
    lines[line] = online;
    Emit("line", {{"line", line}, {"online", online}});
    for (const auto& [key, c] : controllers)
      if (key.first == line) Emit("reading", Status(key, c));
  }

  void TakeAlarm(const std::string& line, int channel, const std::string& payload) {
    const Json e = Json::parse(payload, nullptr, false);
    if (!e.is_object()) return;
    const bool raised = Text(e, "state") == "raised";
    const std::string kind = Text(e, "alarm");
    if (raised) {
      if (!OpenAlarm(line, channel, kind))
        alarms.push_back({{{"line", line},
                           {"port", ""},
                           {"channel", channel},
                           {"nickName", Text(e, "nickname")},
                           {"text", Text(e, "text")},
                           {"raised", Field(e, "time")},
                           {"cleared", nullptr},
                           {"ackedBy", nullptr},
                           {"acked", nullptr}},
                          kind});
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
    bool underRoot = false;
    for (const std::string& root : roots)
      if (topic.starts_with(root + "/")) underRoot = true;
    if (!underRoot) return;
    const std::vector<std::string> levels = Levels(topic);
    const std::size_t n = levels.size();
    const std::string& leaf = levels.back();
    std::lock_guard lock(mutex);
    if (leaf == "status") {
      TakeLine(Joined(levels, n - 1), payload);
    } else if (n >= 3 && levels[n - 3] == "zone" && (leaf == "state" || leaf == "load") &&
               !IsControllerState(topic, payload)) {
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

  bool IsControllerState(const std::string& topic, const std::string& payload) const {
    const std::vector<std::string> levels = Levels(topic);
    const std::size_t n = levels.size();
    if (!ChannelLevel(levels[n - 2]) || levels.back() != "state") return false;
    if (payload.empty()) return controllers.contains({Joined(levels, n - 2), *ChannelLevel(levels[n - 2])});
    const Json j = Json::parse(payload, nullptr, false);
    return j.is_object() && j.contains("channel") && !j.contains("channels");
  }

  // The one thread that talks to the broker. libmosquitto's own loop gives up for good when the
  // first connection is refused, so the first connection is ours to retry.
  void Run() {
    auto pause = std::chrono::seconds(1);
    std::unique_lock lock(mutex);
    while (!stopping) {
      lock.unlock();
      const int rc = mosquitto_connect(mosq, options.host.c_str(), options.port, options.keepalive);
      lock.lock();
      if (stopping) break;
      if (rc == MOSQ_ERR_SUCCESS) {
        lock.unlock();
        mosquitto_loop_forever(mosq, 1000, 1);  // reconnects by itself once connected
        lock.lock();
        connected = false;
        if (stopping) break;
      } else if (!reportedDown) {
        reportedDown = true;
        lock.unlock();
        Report("MQTT broker " + options.host + ":" + std::to_string(options.port) +
               " not reached: " + mosquitto_strerror(rc) + "; retrying");
        lock.lock();
      }
      changed.wait_for(lock, pause, [&] { return stopping; });
      pause = std::min(pause * 2, std::chrono::seconds(30));
    }
  }
};

MqttPlant::MqttPlant(publish::MqttOptions options, std::vector<std::string> moreRoots)
    : impl_(std::make_unique<Impl>()) {
  impl_->roots.push_back(options.prefix);
  for (std::string& root : moreRoots) impl_->roots.push_back(std::move(root));
  impl_->options = std::move(options);
}

MqttPlant::~MqttPlant() {
  if (!impl_->mosq) return;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->changed.notify_all();
  mosquitto_disconnect(impl_->mosq);  // ends the network loop
  if (impl_->worker.joinable()) impl_->worker.join();
  mosquitto_destroy(impl_->mosq);
}

Status MqttPlant::Start() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
  const publish::MqttOptions& o = impl_->options;
  char host[64] = "";
  gethostname(host, sizeof host - 1);
  const std::string id =
      o.clientId.empty() ? "tarvel-plant-" + std::string(host) + "-" + std::to_string(getpid()) : o.clientId;
  impl_->mosq = mosquitto_new(id.c_str(), true, impl_.get());
  if (!impl_->mosq) return Status::Failed("MQTT: cannot create a client");
  mosquitto* m = impl_->mosq;
  mosquitto_threaded_set(m, true);
  mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_reconnect_delay_set(m, 1, 30, true);
  auto fail = [](const char* what, int rc) {
    return Status::Failed(std::string("MQTT ") + what + ": " + mosquitto_strerror(rc));
  };
  if (!o.username.empty())
    if (int rc = mosquitto_username_pw_set(m, o.username.c_str(), o.password.empty() ? nullptr : o.password.c_str()))
      return fail("user name", rc);
  if (o.tls || !o.cafile.empty() || !o.capath.empty() || !o.certfile.empty()) {
    auto text = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    std::string capath = o.capath;
    if (o.cafile.empty() && capath.empty()) capath = "/etc/ssl/certs";  // the system's trusted certificates
    if (int rc = mosquitto_tls_set(m, text(o.cafile), text(capath), text(o.certfile), text(o.keyfile), nullptr))
      return fail("TLS files", rc);
    if (int rc = mosquitto_tls_opts_set(m, 1, text(o.tlsVersion), nullptr)) return fail("TLS version", rc);
    if (o.insecure) mosquitto_tls_insecure_set(m, true);
  }
  mosquitto_connect_callback_set(m, [](mosquitto* mosq, void* data, int rc) {
    auto* impl = static_cast<Impl*>(data);
    if (rc != 0) {
      impl->Report(std::string("MQTT broker refused the connection: ") + mosquitto_connack_string(rc));
      return;
    }
    for (const std::string& root : impl->roots) mosquitto_subscribe(mosq, nullptr, (root + "/#").c_str(), 1);
    {
      std::lock_guard lock(impl->mutex);
      impl->connected = true;
      impl->reportedDown = false;
    }
    impl->Report("MQTT connected to " + impl->options.host + ":" + std::to_string(impl->options.port));
  });
  mosquitto_disconnect_callback_set(m, [](mosquitto*, void* data, int rc) {
    auto* impl = static_cast<Impl*>(data);
    bool report = false;
    {
      std::lock_guard lock(impl->mutex);
      impl->connected = false;
      report = rc != 0 && !impl->stopping && !impl->reportedDown;
      if (report) impl->reportedDown = true;
    }
    if (report) impl->Report("MQTT connection lost; retrying");
  });
  mosquitto_message_callback_set(m, [](mosquitto*, void* data, const mosquitto_message* message) {
    static_cast<Impl*>(data)->Take(message->topic, std::string(static_cast<const char*>(message->payload),
                                                               static_cast<std::size_t>(message->payloadlen)));
  });
  impl_->worker = std::thread([impl = impl_.get()] { impl->Run(); });
  return Status::Ok();
}

bool MqttPlant::Connected() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->connected;
}

void MqttPlant::OnProblem(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(impl_->mutex);
  impl_->problem = std::move(listener);
}

void MqttPlant::Take(const std::string& topic, const std::string& payload) { impl_->Take(topic, payload); }

nlohmann::json MqttPlant::Controllers() const {
  std::lock_guard lock(impl_->mutex);
  Json out = Json::array();
  for (const auto& [key, c] : impl_->controllers) out.push_back(impl_->Status(key, c));
  return out;
}

nlohmann::json MqttPlant::Alarms() const {
  std::lock_guard lock(impl_->mutex);
  const auto now = Clock::now();
  Json out = Json::array();
  for (const Impl::Alarm& a : impl_->alarms)
    if (a.clearedSeen == Clock::time_point{} || now - a.clearedSeen <= kAlarmHistory) out.push_back(a.row);
  return out;
}

nlohmann::json MqttPlant::Zones() const {
  std::lock_guard lock(impl_->mutex);
  Json out = Json::array();
  for (const auto& [key, zone] : impl_->zones) out.push_back(zone);
  return out;
}

nlohmann::json MqttPlant::Loads() const {
  std::lock_guard lock(impl_->mutex);
  Json out = Json::array();
  for (const Json& load : impl_->loads) out.push_back(load);
  return out;
}

long long MqttPlant::Since(long long after, std::vector<std::string>& events, std::chrono::milliseconds wait) {
  std::unique_lock lock(impl_->mutex);
  impl_->changed.wait_for(lock, wait, [&] { return impl_->last > after || impl_->stopping; });
  for (const auto& [number, text] : impl_->events)
    if (number > after) events.push_back(text);
  return impl_->last;
}

Status MqttPlant::Acknowledge(const std::string& line, int channel, const std::string&) {
  return Status::Error(Status::Code::ReadOnly, "Channel " + std::to_string(channel) + " of " + line +
                                                   " is read from the MQTT broker: acknowledge its alarm on the "
                                                   "PC that reads that line");
}

Result<std::string> MqttPlant::Report(const std::string& line, const std::string& loadId, const std::string&) {
  return Status::Error(Status::Code::NotFound, "The report of load " + loadId + " is kept on the PC that reads " +
                                                   line + ", not on the MQTT broker");
}

}  // namespace tarvel::web
