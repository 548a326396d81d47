#pragma once
// console: the exchanges of one run control command, in order. It stops at the first
// failure: the user reads which exchange failed and what the controller may now hold, and
// nothing more is sent. Shared by the run control and the jump; not part of the console's
// interface. Depends on the console context.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "console/context.h"

namespace tarvel::console {

class Sequence {
 public:
  Sequence(Context& context, std::string name) : context_(context), name_(std::move(name)) {}

  // A write of value to what key names ("run mode", "step 7 duration").
  bool Write(link::Outcome outcome, const std::string& key, const std::string& value);
  // reported: the failure has been shown already (by the reading it belongs to).
  bool Read(link::Outcome outcome, const std::string& what, bool reported = false);
  // Stops for a reason other than the line.
  void Refuse(const std::string& why) { Fail(why, {}, false); }
  // What a read-back found where key was written: true when it is what was written. Otherwise
  // the controller holds what was read, which is said with the difference (Context::DidNotKeep),
  // and the sequence stops.
  bool ReadBack(std::uint8_t address, const std::string& key, const std::string& wrote, const std::string& read);
  // A value a confirmed write left beside the one it was for (the second register it carried).
  void Holds(const std::string& key, const std::string& value) { Hold(key, value); }
  // What the confirmed writes left, for a message of the caller's: "run mode 0, step 5 duration 90".
  std::string Held() const;

  bool ChangedAnything() const { return !held_.empty(); }

 private:
  void Hold(const std::string& key, const std::string& value);
  void Fail(const std::string& why, const std::string& perhaps, bool sayCommError);
  void Cancel(const std::string& before);
  void SayWhatIsHeld(const std::string& perhaps);

  Context& context_;
  std::string name_;
  std::vector<std::pair<std::string, std::string>> held_;  // what each confirmed write left, latest last
};

}  // namespace tarvel::console
