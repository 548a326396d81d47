#pragma once
// watch: alarms of one controller. A running controller whose process value lies outside its
// design's Error Limits band for N readings in a row raises a band alarm; it clears after M
// readings in a row back in the band (so that a value dithering at the edge does not raise and
// clear on every reading), or at once when the run is over. Any mapped controller, running or
// not, seen answering or never, that has not answered for N readings and a set time raises a
// no-reply alarm; it clears after M answered readings in a row. An acknowledgement holds for the
// alarm it was given to: until it clears, or another alarm replaces it. Qt-free.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "util/result.h"
#include "watch/channel_status.h"

namespace tarvel::store {
class ConfigStore;
}

namespace tarvel::watch {

inline constexpr int kDefaultConsecutive = 2;
inline constexpr int kDefaultClearAfter = 3;
inline constexpr std::chrono::seconds kDefaultNoReplyAfter{60};

struct AlarmRules {
  int consecutive = kDefaultConsecutive;                     // readings in a row outside the band (or silent) to raise
  int clearAfter = kDefaultClearAfter;                       // good readings in a row to clear
  std::chrono::seconds noReplyAfter = kDefaultNoReplyAfter;  // silent at least this long to raise
};

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

// The channel's open alarm acknowledged in the store in who's name, stamped now; the watch that
// reads the channel takes it in at its next reading. Whoever acknowledged first keeps it.
struct StoredAcknowledgement {
  store::AlarmRow row;
  bool first = false;  // this acknowledgement is the one kept
};
Result<StoredAcknowledgement> AcknowledgeAlarm(store::ConfigStore& store, int channel, const std::string& who);

class AlarmTracker {
 public:
  // Takes the channel's latest status (alarm fields are set here); gives the alarms raised or
  // cleared by it.
  std::vector<AlarmEvent> Update(ChannelStatus& status, const AlarmRules& rules);
  std::optional<AlarmKind> Active() const { return active_; }
  // Acknowledges the active alarm of this kind, when nobody has yet (false: there is none, or
  // it is already acknowledged); status shows it at once.
  bool Acknowledge(AlarmKind kind, const std::string& who, SystemClock::time_point at, ChannelStatus& status);
  bool Acknowledged() const { return ack_.has_value(); }

 private:
  AlarmEvent Event(const ChannelStatus& status, AlarmKind kind, bool raised, std::string text) const;

  int outside_ = 0;                                     // readings in a row outside the band
  int silent_ = 0;                                      // readings in a row without a reply
  int good_ = 0;                                        // readings in a row that would not raise the active alarm
  std::optional<SystemClock::time_point> silentSince_;  // the last reply, or the first silent reading
  std::optional<AlarmKind> active_;
  std::string activeText_;
  std::optional<std::pair<std::string, SystemClock::time_point>> ack_;  // who and when
  void Show(ChannelStatus& status) const;
};

}  // namespace tarvel::watch
