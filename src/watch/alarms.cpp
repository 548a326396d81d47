#include "watch/alarms.h"

#include <algorithm>

#include "store/config_store.h"
#include "watch/line_file.h"

namespace tarvel::watch {

const char* const kAlarmLogHeader = "Time,Channel,NickName,Address,Alarm,State,ProcessValue,BandLow,BandHigh,Message";

const char* AlarmKindName(AlarmKind kind) { return kind == AlarmKind::Band ? "band" : "no reply"; }

std::string AlarmLogLine(const AlarmEvent& e) {
  auto number = [](const std::optional<int>& v) { return v ? std::to_string(*v) : std::string(); };
  // Fields given to CsvLine are written as they are; the nickname, the user's text, is made safe first.
  return IsoTime(e.at) + "," + std::to_string(e.id.channel) + "," + CsvText(e.id.nickName) + "," +
         CsvLine({std::to_string(e.id.address), AlarmKindName(e.kind), e.raised ? "raised" : "cleared",
                  number(e.processValue), number(e.bandLow), number(e.bandHigh), e.text});
}

Result<StoredAcknowledgement> AcknowledgeAlarm(store::ConfigStore& store, int channel, const std::string& who) {
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(SystemClock::now().time_since_epoch());
  auto row = store.AcknowledgeAlarm(channel, who, now.count());
  if (!row.ok()) return row.status();
  return StoredAcknowledgement{*row, row->ackedBy == who && row->acked == now.count()};
}

AlarmEvent AlarmTracker::Event(const ChannelStatus& s, AlarmKind kind, bool raised, std::string text) const {
  AlarmEvent e{s.id, s.at, kind, raised, std::move(text), std::nullopt, std::nullopt, std::nullopt};
  if (s.state != RunState::NoReply) {
    e.processValue = s.processValue;
    e.bandLow = s.bandLow;
    e.bandHigh = s.bandHigh;
  }
  return e;
}

std::vector<AlarmEvent> AlarmTracker::Update(ChannelStatus& s, const AlarmRules& rules) {
  std::vector<AlarmEvent> events;
  const int needed = std::max(rules.consecutive, 1);
  const int clearAfter = std::max(rules.clearAfter, 1);
  auto clear = [&](std::string why) {
    events.push_back(Event(s, *active_, false, std::move(why)));
    active_.reset();
    activeText_.clear();
    ack_.reset();
    good_ = 0;
  };
  auto raise = [&](AlarmKind kind, std::string text) {
    if (active_) clear("replaced by a " + std::string(AlarmKindName(kind)) + " alarm");
    activeText_ = text;
    events.push_back(Event(s, kind, true, std::move(text)));
    active_ = kind;
    good_ = 0;
  };

  if (s.state == RunState::NoReply) {
    outside_ = 0;
    good_ = 0;
    ++silent_;
    if (!silentSince_) silentSince_ = s.lastGood.value_or(s.at);
    if (silent_ >= needed && s.at - *silentSince_ >= rules.noReplyAfter && active_ != AlarmKind::NoReply)
      raise(AlarmKind::NoReply,
            "no reply for " + std::to_string(silent_) + " readings (" + std::string(link::Describe(s.failure)) + ")");
  } else {
    silent_ = 0;
    silentSince_.reset();
    if (active_ == AlarmKind::NoReply && ++good_ >= clearAfter) clear("answering again");
    const bool outside = s.state == RunState::Running && (s.band == Band::Above || s.band == Band::Below);
    outside_ = outside ? outside_ + 1 : 0;
    if (outside && outside_ >= needed && active_ != AlarmKind::Band) {
      raise(AlarmKind::Band, "PV " + std::to_string(s.processValue) + " " + BandName(s.band) + " " +
                                 std::to_string(*s.bandLow) + ".." + std::to_string(*s.bandHigh) + " for " +
                                 std::to_string(outside_) + " readings");
    } else if (active_ == AlarmKind::Band) {
      if (s.state != RunState::Running) {
        clear(std::string("run ") + RunStateName(s.state));
      } else if (outside) {
        good_ = 0;
      } else if (++good_ >= clearAfter) {
        clear(s.band == Band::In ? "back in band" : "no band here");
      }
    }
  }
  Show(s);
  return events;
}

bool AlarmTracker::Acknowledge(AlarmKind kind, const std::string& who, SystemClock::time_point at, ChannelStatus& s) {
  if (active_ != kind || ack_) return false;
  ack_.emplace(who, at);
  Show(s);
  return true;
}

void AlarmTracker::Show(ChannelStatus& s) const {
  s.alarm = active_.has_value();
  s.alarmText = activeText_;
  s.alarmAckedBy = ack_ ? ack_->first : "";
  s.alarmAcked = ack_ ? std::optional(ack_->second) : std::nullopt;
}

}  // namespace tarvel::watch
