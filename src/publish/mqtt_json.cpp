// publish: the topics and JSON payloads of the MQTT publisher.
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "publish/mqtt_publisher.h"
#include "util/text.h"

namespace tarvel::publish {
namespace {

std::string Quoted(std::string_view raw) {
  const std::string text = Utf8(raw);
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// Numbers without the locale: a comma would make the JSON unreadable.
std::string Number(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, std::round(value * 100) / 100);
  return ec == std::errc() ? std::string(text, end) : "null";
}

class Object {
 public:
  Object& Text(std::string_view key, std::string_view value) { return Raw(key, Quoted(value)); }
  Object& Int(std::string_view key, int value) { return Raw(key, std::to_string(value)); }
  Object& Bool(std::string_view key, bool value) { return Raw(key, value ? "true" : "false"); }
  template <class T>
  Object& Maybe(std::string_view key, const std::optional<T>& value) {
    return Raw(key, value ? Number(static_cast<double>(*value)) : "null");
  }
  Object& Raw(std::string_view key, std::string_view json) {
    body_ += (body_.empty() ? "" : ",") + Quoted(key) + ":" + std::string(json);
    return *this;
  }
  std::string Done() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

const char* TemperatureUnit(char scale) { return scale == 'F' ? "°F" : scale == 'C' ? "°C" : nullptr; }
const char* TimeUnit(char scale) { return scale == 'S' ? "s" : scale == 'H' ? "h" : scale == 'M' ? "min" : nullptr; }

std::string UnitOrNull(const char* unit) { return unit ? Quoted(unit) : "null"; }

// The controller counts seconds in run modes 1 and 3 and minutes in 2 and 4; stopped, it keeps
// the unit its program was compiled to (seconds for a seconds profile).
const char* StepTimeUnit(const watch::ChannelStatus& s) {
  if (s.runMode == 1 || s.runMode == 3) return "s";
  if (s.runMode == 2 || s.runMode == 4) return "min";
  return s.timeScale == 0 ? nullptr : s.timeScale == 'S' ? "s" : "min";
}

// The prefix as an identifier Home Assistant takes in unique ids and topic levels.
std::string Slug(std::string_view text) {
  std::string slug;
  for (unsigned char c : text) slug += std::isalnum(c) ? static_cast<char>(std::tolower(c)) : '_';
  return slug;
}

}  // namespace

std::string Utf8(std::string_view text) {
  // Valid UTF-8 stays as it is; anything else is read as Latin-1, so that no byte is lost.
  bool valid = true;
  for (std::size_t i = 0; i < text.size() && valid;) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = c < 0x80                      ? 1
                          : (c >> 5) == 6 && c >= 0xC2  ? 2
                          : (c >> 4) == 14              ? 3
                          : (c >> 3) == 30 && c <= 0xF4 ? 4
                                                        : 0;
    if (n == 0 || i + n > text.size()) valid = false;
    for (std::size_t k = 1; valid && k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) valid = false;
    i += n;
  }
  if (valid) return std::string(text);
  std::string utf8;
  for (unsigned char c : text) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

std::string TopicLevel(std::string_view name) {
  std::string level = Utf8(name);
  for (char& c : level)
    if (c == '/' || c == '+' || c == '#') c = '_';
  return level.empty() ? "_" : level;
}

std::string AvailabilityTopic(const MqttOptions& o, int channel) {
  return o.prefix + "/" + std::to_string(channel) + "/availability";
}
std::string ZoneTopic(const MqttOptions& o, std::string_view zone) {
  return o.prefix + "/zone/" + TopicLevel(zone) + "/state";
}

std::string ZoneLoadTopic(const MqttOptions& o, std::string_view zone) {
  return o.prefix + "/zone/" + TopicLevel(zone) + "/load";
}
std::string LoadTopic(const MqttOptions& o, int channel) { return o.prefix + "/" + std::to_string(channel) + "/load"; }

std::string StateTopic(const MqttOptions& o, int channel) {
  return o.prefix + "/" + std::to_string(channel) + "/state";
}
std::string AlarmTopic(const MqttOptions& o, int channel) {
  return o.prefix + "/" + std::to_string(channel) + "/alarm";
}
std::string StatusTopic(const MqttOptions& o) { return o.prefix + "/status"; }

std::string StateJson(const watch::ChannelStatus& s) {
  Object json;
  json.Int("channel", s.id.channel).Text("nickname", s.id.nickName).Int("address", s.id.address);
  json.Text("zone", s.zone).Text("state", watch::RunStateName(s.state)).Text("time", watch::IsoTime(s.at));
  json.Raw("last_good", s.lastGood ? Quoted(watch::IsoTime(*s.lastGood)) : "null");
  // A controller that does not answer has no values now: every field is there, null, and the
  // failure says why -- never the last good values under the new time.
  const bool answered = s.lastGood && s.state != watch::RunState::NoReply;
  json.Raw("failure", answered ? "null" : Quoted(link::Describe(s.failure)));
  Object units;
  units.Raw("temperature", UnitOrNull(TemperatureUnit(s.temperatureScale)));
  units.Raw("program_time", UnitOrNull(TimeUnit(s.timeScale))).Raw("step_time", UnitOrNull(StepTimeUnit(s)));
  json.Raw("units", units.Done());
  auto number = [&](std::string_view key, auto value) { json.Raw(key, answered ? Number(value) : "null"); };
  json.Raw("profile", answered ? Quoted(s.profile) : "null");
  number("run_mode", s.runMode);
  number("step", s.step);
  number("step_time", s.stepTime);
  number("set_point", s.setPoint);
  number("process_value", s.processValue);
  const std::optional<double> none;
  json.Maybe("program_time", answered ? s.programTime : none);
  json.Maybe("design", answered ? s.design : std::nullopt).Maybe("deviation", answered ? s.Deviation() : std::nullopt);
  json.Raw("band", !answered || s.band == watch::Band::None ? "null" : Quoted(watch::BandName(s.band)));
  json.Maybe("band_low", answered ? s.bandLow : std::nullopt).Maybe("band_high", answered ? s.bandHigh : std::nullopt);
  json.Raw("relay1", answered ? (s.relays.relay1 == 1 ? "true" : "false") : "null");
  json.Raw("relay2", answered ? (s.relays.relay2 == 1 ? "true" : "false") : "null");
  json.Bool("alarm", s.alarm).Text("alarm_text", s.alarmText);
  json.Raw("alarm_acknowledged_by", s.alarmAcked ? Quoted(s.alarmAckedBy) : "null");
  json.Raw("alarm_acknowledged", s.alarmAcked ? Quoted(watch::IsoTime(*s.alarmAcked)) : "null");
  return json.Done();
}

std::string AlarmJson(const watch::AlarmEvent& e) {
  Object json;
  json.Int("channel", e.id.channel).Text("nickname", e.id.nickName).Int("address", e.id.address);
  json.Text("time", watch::IsoTime(e.at)).Text("alarm", watch::AlarmKindName(e.kind));
  json.Text("state", e.raised ? "raised" : "cleared").Text("text", e.text);
  json.Maybe("process_value", e.processValue).Maybe("band_low", e.bandLow).Maybe("band_high", e.bandHigh);
  return json.Done();
}

std::string LoadJson(const watch::LoadRecord& record) {
  const watch::LoadHeader& h = record.header;
  Object json, fields;
  for (const watch::ShopField& f : h.fields) fields.Text(f.name, f.value);
  std::string channels;
  for (const watch::LoadController& c : h.controllers)
    channels += (channels.empty() ? "" : ",") + std::to_string(c.channel);
  json.Text("id", h.loadId).Text("operator", h.operatorName).Raw("fields", fields.Done());
  json.Raw("zone", h.furnace.empty() ? "null" : Quoted(h.furnace)).Raw("channels", "[" + channels + "]");
  json.Text("profile", h.profileName).Text("started", watch::IsoTime(h.opened));
  json.Raw("ended", record.close ? Quoted(watch::IsoTime(record.close->at)) : "null");
  json.Raw("result", record.close ? Quoted(watch::ResultWord(*record.close)) : "null");
  json.Raw("how", record.close ? Quoted(record.close->ended) : "null");
  return json.Done();
}

std::string ZoneJson(const watch::ZoneSpread& zone, watch::SystemClock::time_point at, char temperatureScale) {
  Object json;
  std::string members;
  for (int channel : zone.channels) members += (members.empty() ? "" : ",") + std::to_string(channel);
  json.Text("zone", zone.zone).Raw("channels", "[" + members + "]").Text("time", watch::IsoTime(at));
  json.Bool("running", zone.running).Maybe("low", zone.low).Maybe("high", zone.high).Maybe("spread", zone.Spread());
  json.Raw("units", "{\"temperature\":" + UnitOrNull(TemperatureUnit(temperatureScale)) + "}");
  return json.Done();
}

std::vector<Discovery> DiscoveryOf(const MqttOptions& o, const watch::ChannelStatus& s) {
  std::vector<Discovery> configs;
  if (o.discoveryPrefix.empty()) return configs;
  const std::string node = "tarvel_" + Slug(o.prefix) + "_" + std::to_string(s.id.channel);
  Object device;
  device.Raw("identifiers", "[" + Quoted(node) + "]")
      .Text("name", s.id.nickName.empty() ? "Channel " + std::to_string(s.id.channel) : s.id.nickName);
  device.Text("manufacturer", "Tarvel").Text("model", "ramp/soak controller, address " + std::to_string(s.id.address));
  const std::string availability =
      "[{\"topic\":" + Quoted(StatusTopic(o)) + "},{\"topic\":" + Quoted(AvailabilityTopic(o, s.id.channel)) + "}]";
  const char* temperature = TemperatureUnit(s.temperatureScale);
  struct Entity {
    const char* component;
    const char* object;
    const char* name;
    const char* templ;
    bool temperatureValue;
  };
  const Entity entities[] = {
      {"sensor", "process_value", "Process value", "{{ value_json.process_value }}", true},
      {"sensor", "set_point", "Set point", "{{ value_json.set_point }}", true},
      {"sensor", "deviation", "Deviation", "{{ value_json.deviation }}", true},
      {"sensor", "step", "Step", "{{ value_json.step }}", false},
      {"sensor", "state", "State", "{{ value_json.state }}", false},
      {"binary_sensor", "alarm", "Alarm", "{{ 'ON' if value_json.alarm else 'OFF' }}", false},
  };
  for (const Entity& e : entities) {
    Object config;
    config.Text("name", e.name).Text("unique_id", node + "_" + e.object).Text("object_id", node + "_" + e.object);
    config.Text("state_topic", StateTopic(o, s.id.channel)).Text("value_template", e.templ);
    config.Raw("availability", availability).Text("availability_mode", "all");
    if (e.temperatureValue && temperature) {
      config.Text("unit_of_measurement", temperature).Text("state_class", "measurement");
      // A deviation is a difference, not a temperature Home Assistant could convert.
      if (std::string_view(e.object) != "deviation") config.Text("device_class", "temperature");
    } else if (std::string_view(e.object) == "step") {
      config.Text("state_class", "measurement");
    } else if (std::string_view(e.object) == "alarm") {
      config.Text("device_class", "problem");
    }
    config.Raw("device", device.Done()).Raw("origin", "{\"name\":\"Tarvel\"}");
    configs.push_back({o.discoveryPrefix + "/" + e.component + "/" + node + "/" + e.object + "/config", config.Done()});
  }
  return configs;
}

Result<MqttOptions> ParseMqttUrl(std::string_view url) {
  MqttOptions options;
  std::string_view rest;
  if (url.starts_with("mqtt://")) {
    rest = url.substr(7);
  } else if (url.starts_with("mqtts://")) {
    rest = url.substr(8);
    options.tls = true;
    options.port = 8883;
  } else {
    return Status::Error(Status::Code::Invalid, "An MQTT URL starts with mqtt:// or mqtts://: " + std::string(url));
  }
  const auto slash = rest.find('/');
  std::string_view hostPort = rest.substr(0, slash);
  if (slash != std::string_view::npos) {
    std::string_view prefix = rest.substr(slash + 1);
    while (prefix.ends_with('/')) prefix.remove_suffix(1);
    if (!prefix.empty()) options.prefix = prefix;
  }
  if (options.prefix.find_first_of("+#") != std::string::npos)
    return Status::Error(Status::Code::Invalid, "An MQTT topic prefix cannot hold + or #");
  const auto colon = hostPort.rfind(':');
  if (colon != std::string_view::npos && hostPort.find(']') == std::string_view::npos) {
    auto port = ToWholeNumber(hostPort.substr(colon + 1), 1, 65535);
    if (!port)
      return Status::Error(Status::Code::Invalid, "Not a port number: " + std::string(hostPort.substr(colon + 1)));
    options.port = static_cast<int>(*port);
    hostPort = hostPort.substr(0, colon);
  }
  if (hostPort.empty()) return Status::Error(Status::Code::Invalid, "No broker host in " + std::string(url));
  options.host = hostPort;
  return options;
}

}  // namespace tarvel::publish
