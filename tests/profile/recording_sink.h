#pragma once
// Records what a profile routine shows, in order; a Clear is recorded as "<clear>".

#include <string>
#include <string_view>
#include <vector>

#include "profile/message_sink.h"

namespace tarvel::testing {

class RecordingSink : public profile::MessageSink {
 public:
  void Clear() override { events.emplace_back("<clear>"); }
  void Display(std::string_view text) override { events.emplace_back(text); }
  std::vector<std::string> events;
};

}  // namespace tarvel::testing
