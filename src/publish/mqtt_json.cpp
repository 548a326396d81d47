// publish: the topics and JSON payloads of the MQTT publisher.
#include <charconv>
#include <cmath>

#include "publish/mqtt_publisher.h"
#include "util/text.h"

namespace tarvel::publish {
namespace {

std::string Quoted(std::string_view text) {
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
          out += static_cast<char>(c);  // 8-bit nicknames pass as they are
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

}  // namespace

std::string StateTopic(const MqttOptions& o, int channel) { return o.prefix + "/" + std::to_string(channel) + "/state"; }
std::string AlarmTopic(const MqttOptions& o, int channel) { return o.prefix + "/" + std::to_string(channel) + "/alarm"; }
std::string StatusTopic(const MqttOptions& o) { return o.prefix + "/status"; }

std::string StateJson(const watch::ChannelStatus& s) {
  Object json;
  json.Int("channel", s.id.channel).Text("nickname", s.id.nickName).Int("address", s.id.address);
  json.Text("zone", s.zone).Text("state", watch::RunStateName(s.state)).Text("time", watch::IsoTime(s.at));
  json.Raw("last_good", s.lastGood ? Quoted(watch::IsoTime(*s.lastGood)) : "null");
  if (s.state == watch::RunState::NoReply) json.Text("failure", link::Describe(s.failure));
  if (s.lastGood) {
    json.Text("profile", s.profile).Int("run_mode", s.runMode).Int("step", s.step).Int("step_time", s.stepTime);
    json.Int("set_point", s.setPoint).Int("process_value", s.processValue);
    json.Maybe("program_time", s.programTime).Maybe("design", s.design).Maybe("deviation", s.Deviation());
    json.Raw("band", s.band == watch::Band::None ? "null" : Quoted(watch::BandName(s.band)));
    json.Maybe("band_low", s.bandLow).Maybe("band_high", s.bandHigh);
    json.Bool("relay1", s.relays.relay1 == 1).Bool("relay2", s.relays.relay2 == 1);
  }
  json.Bool("alarm", s.alarm).Text("alarm_text", s.alarmText);
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
    if (!port) return Status::Error(Status::Code::Invalid, "Not a port number: " + std::string(hostPort.substr(colon + 1)));
    options.port = static_cast<int>(*port);
    hostPort = hostPort.substr(0, colon);
  }
  if (hostPort.empty()) return Status::Error(Status::Code::Invalid, "No broker host in " + std::string(url));
  options.host = hostPort;
  return options;
}

}  // namespace tarvel::publish
