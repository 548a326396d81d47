#pragma once
// profile: where the profile rules write their messages -- the editor's message area, a
// terminal, or a recorder in tests.

#include <string_view>

namespace tarvel::profile {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Clear() = 0;
  // One message; a message of several lines separates them with CR LF.
  virtual void Display(std::string_view text) = 0;
};

}  // namespace tarvel::profile
