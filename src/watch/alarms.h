#pragma once
// watch: alarms of one controller. A running controller whose process value lies outside its
// design's Error Limits band for N readings in a row, or a running or held controller that
// stops answering for N readings in a row, raises an alarm; it clears when the value is back
// in the band (or the run is over), or when the controller answers again. Idle controllers
// raise none. Qt-free.

#include <optional>
#include <string>
#include <vector>

#include "watch/channel_status.h"

namespace tarvel::watch {

inline constexpr int kDefaultConsecutive = 2;

enum class AlarmKind { Band, NoReply };
const char* AlarmKindName(AlarmKind kind);  // "band", "no reply"

struct AlarmEvent {
  WatchedChannel id;
  SystemClock::time_point at{};
  AlarmKind kind = AlarmKind::Band;
  bool raised = true;  // false: cleared
  std::string text;    // what the user reads
  std::optional<int> processValue, bandLow, bandHigh;
};

// "Time,Channel,NickName,Address,Alarm,State,ProcessValue,BandLow,BandHigh,Message"
extern const char* const kAlarmLogHeader;
std::string AlarmLogLine(const AlarmEvent& event);

class AlarmTracker {
 public:
  // Takes the channel's latest status (alarm fields are set here) and whether the channel was
  // running or held when it last answered; gives the alarms raised or cleared by it.
  std::vector<AlarmEvent> Update(ChannelStatus& status, bool wasActive, int consecutive);
  std::optional<AlarmKind> Active() const { return active_; }

 private:
  AlarmEvent Event(const ChannelStatus& status, AlarmKind kind, bool raised, std::string text) const;

  int outside_ = 0;  // readings in a row outside the band
  int silent_ = 0;   // readings in a row without a reply
  std::optional<AlarmKind> active_;
  std::string activeText_;
};

}  // namespace tarvel::watch
