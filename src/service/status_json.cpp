#include "service/status_json.h"

namespace tarvel::service {
namespace {

template <class T>
nlohmann::json Maybe(const std::optional<T>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

}  // namespace

nlohmann::json StatusJson(const watch::ChannelStatus& s, const std::string& port) {
  return {{"channel", s.id.channel},
          {"address", s.id.address},
          {"nickName", s.id.nickName},
          {"port", port},
          {"zone", s.zone},
          {"profile", s.profile},
          {"at", watch::IsoTime(s.at)},
          {"lastGood", s.lastGood ? nlohmann::json(watch::IsoTime(*s.lastGood)) : nlohmann::json(nullptr)},
          {"state", watch::RunStateName(s.state)},
          {"failure", s.failure == link::Outcome::Ok ? "" : std::string(link::Describe(s.failure))},
          {"lowStep", s.lowStep},
          {"highStep", s.highStep},
          {"step", s.step},
          {"stepTime", s.stepTime},
          {"runMode", s.runMode},
          {"setPoint", s.setPoint},
          {"processValue", s.processValue},
          {"relay1", s.relays.relay1 == 1},
          {"relay2", s.relays.relay2 == 1},
          {"programTime", Maybe(s.programTime)},
          {"design", Maybe(s.design)},
          {"bandLow", Maybe(s.bandLow)},
          {"bandHigh", Maybe(s.bandHigh)},
          {"band", watch::BandName(s.band)},
          {"alarm", s.alarm},
          {"alarmText", s.alarmText},
          {"recording", s.recording.string()}};
}

nlohmann::json AlarmJson(const watch::AlarmEvent& e, const std::string& port) {
  return {{"channel", e.id.channel},
          {"address", e.id.address},
          {"nickName", e.id.nickName},
          {"port", port},
          {"at", watch::IsoTime(e.at)},
          {"raised", e.raised},
          {"text", e.text},
          {"processValue", Maybe(e.processValue)}};
}

}  // namespace tarvel::service
