#pragma once
// console: the message area User_Prompt. Lines end with CR LF; the area is emptied before
// an append once it holds more than 1000 characters, so it never grows without bound.

#include <mutex>
#include <string>

#include "console/view.h"

namespace tarvel::console {

class MessageArea {
 public:
  explicit MessageArea(ConsoleView& view) : view_(view) {}

  void Display(const std::string& message);
  void ClearAndDisplay(const std::string& message);
  void ClearDisplay();
  std::string Text() const;

  static constexpr std::size_t kLimit = 1000;

 private:
  ConsoleView& view_;
  mutable std::mutex mutex_;  // the Clear button acts from the UI thread while a command runs
  std::string text_;
};

}  // namespace tarvel::console
