#include "watch/channel_status.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sstream>

namespace tarvel::watch {

const char* RunStateName(RunState state) {
  switch (state) {
    case RunState::Running: return "running";
    case RunState::Held: return "held";
    case RunState::Idle: return "idle";
    case RunState::NoReply: return "no reply";
    case RunState::Finished: return "finished";
  }
  return "";
}

const char* BandName(Band band) {
  switch (band) {
    case Band::None: return "";
    case Band::In: return "in band";
    case Band::Above: return "above band";
    case Band::Below: return "below band";
  }
  return "";
}

RunState StateOf(const controller::RunStateReading& r, const std::optional<store::ControllerConfigRow>& config,
                 const std::vector<store::MemoryRow>& memory) {
  if (!r.complete()) return RunState::NoReply;
  if (r.runMode.value >= 1 && r.runMode.value <= 4) {
    // The mode stays when the program ends: the step it stopped in tells.
    const int step = r.currentStep.value;
    auto row =
        std::find_if(memory.begin(), memory.end(), [step](const store::MemoryRow& m) { return m.segment == step; });
    if (row != memory.end() && row->unknown == 0 &&
        (row->duration == 0 || (step == r.programHighStep.value && row->duration > 0 &&
                                r.stepTime.value + (row->modified == 1 ? row->jumpTime : 0) >= row->duration)))
      return RunState::Finished;
    return RunState::Running;
  }
  // Pause writes run mode 0 and leaves the program where it stood; a unit never started, or
  // one whose selection was cleared, stands at nothing of a program.
  const bool selected = config && !config->profileNameExecuting.empty();
  const int low = r.programLowStep.value, high = r.programHighStep.value, step = r.currentStep.value;
  if (r.runMode.value == 0 && selected && step >= low && step <= high && (step > low || r.stepTime.value > 0))
    return RunState::Held;
  return RunState::Idle;
}

std::string IsoTime(SystemClock::time_point at) {
  std::time_t seconds = SystemClock::to_time_t(at);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string iso = text;
  if (iso.size() > 5) iso.insert(iso.size() - 2, ":");  // +0200 -> +02:00
  return iso;
}

std::string StatusLine(const ChannelStatus& s) {
  std::ostringstream line;
  line << IsoTime(s.at) << "  ch " << s.id.channel << " " << s.id.nickName << " @" << s.id.address << "  "
       << RunStateName(s.state);
  if (s.state == RunState::NoReply) {
    line << " (" << link::Describe(s.failure) << ")";
  } else {
    line << "  step " << s.step << " time " << s.stepTime << "  SP " << s.setPoint << "  PV " << s.processValue;
    if (auto deviation = s.Deviation()) line << "  dev " << (*deviation > 0 ? "+" : "") << *deviation;
    if (s.band != Band::None) line << "  " << BandName(s.band);
    line << "  R1 " << (s.relays.relay1 == 1 ? "on" : "off") << " R2 " << (s.relays.relay2 == 1 ? "on" : "off")
         << "  mode " << s.runMode;
    if (!s.profile.empty()) line << "  " << s.profile;
  }
  if (s.alarm) line << "  ALARM: " << s.alarmText;
  return line.str();
}

}  // namespace tarvel::watch
