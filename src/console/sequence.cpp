#include "console/sequence.h"

#include <algorithm>

namespace tarvel::console {

using link::Outcome;

namespace {

std::string Joined(const std::vector<std::pair<std::string, std::string>>& held) {
  std::string text;
  for (const auto& [key, value] : held) text += (text.empty() ? "" : ", ") + key + " " + value;
  return text;
}

}  // namespace

std::string Sequence::Held() const { return Joined(held_); }

bool Sequence::Write(Outcome outcome, const std::string& key, const std::string& value) {
  if (outcome == Outcome::Ok) {
    Hold(key, value);
    return true;
  }
  if (outcome == Outcome::Cancelled) {
    Cancel("before writing " + key + " " + value);
    return false;
  }
  // A write whose reply went missing may still have arrived; a cancelled one never left.
  const bool mayHaveArrived = outcome != Outcome::Cancelled && outcome != Outcome::NotSent;
  Fail("writing " + key + " " + value + " failed (" + std::string(link::Describe(outcome)) + ")",
       mayHaveArrived ? key + " " + value : std::string(), true);
  return false;
}

bool Sequence::Read(Outcome outcome, const std::string& what, bool reported) {
  if (outcome == Outcome::Ok) return true;
  if (outcome == Outcome::Cancelled) {
    Cancel("before reading " + what);
    return false;
  }
  Fail("reading " + what + " failed (" + std::string(link::Describe(outcome)) + ")", {}, !reported);
  return false;
}

bool Sequence::ReadBack(std::uint8_t address, const std::string& key, const std::string& wrote,
                        const std::string& read) {
  if (wrote == read) return true;
  Hold(key, read);
  context_.DidNotKeep(address, key + " reads back " + read + ", not " + wrote);
  context_.Display("ERROR: " + name_ + " stopped: the controller did not keep what was written");
  SayWhatIsHeld({});
  return false;
}

void Sequence::Hold(const std::string& key, const std::string& value) {
  auto it = std::find_if(held_.begin(), held_.end(), [&key](const auto& h) { return h.first == key; });
  if (it != held_.end()) held_.erase(it);
  held_.emplace_back(key, value);
}

void Sequence::Fail(const std::string& why, const std::string& perhaps, bool sayCommError) {
  context_.view.SetLed(Led::Error);
  if (sayCommError) context_.Display(kCommError);
  context_.Display("ERROR: " + name_ + " stopped: " + why);
  SayWhatIsHeld(perhaps);
}

void Sequence::Cancel(const std::string& before) {
  context_.view.SetLed(Led::Idle);
  context_.Display(name_ + " cancelled " + before);
  SayWhatIsHeld({});
}

void Sequence::SayWhatIsHeld(const std::string& perhaps) {
  if (held_.empty() && perhaps.empty()) {
    context_.Display("Nothing was changed in the controller");
    return;
  }
  if (!held_.empty()) context_.Display("The controller now holds " + Joined(held_));
  if (!perhaps.empty()) context_.Display("It may also hold " + perhaps);
}

}  // namespace tarvel::console
