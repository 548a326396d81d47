#pragma once
// console: the message area User_Prompt, on the one rule of message areas (AppendMessageLine:
// lines end with CR LF, an area past 1000 characters is emptied before an append).
//
// A command's outcome stays until the user's next command: what a monitor tick shows (it runs
// between commands, on its own) goes below that outcome and replaces the previous tick's lines.

#include <mutex>
#include <string>
#include <thread>

#include "console/view.h"

namespace tarvel::console {

class MessageArea {
 public:
  explicit MessageArea(ConsoleView& view) : view_(view) {}

  void Display(const std::string& message);
  void ClearAndDisplay(const std::string& message);
  void ClearDisplay();
  std::string Text() const;

  // Between these, calls from this thread are a tick's: Display appends below the outcome,
  // ClearDisplay empties only the tick's own lines. Another thread (the Clear button) still
  // empties everything.
  void BeginBackground();
  void EndBackground();

 private:
  bool Background() const { return background_ && std::this_thread::get_id() == backgroundThread_; }
  void Show() { view_.ShowMessages(text_ + tick_); }

  ConsoleView& view_;
  mutable std::mutex mutex_;  // the Clear button acts from the UI thread while a command runs
  std::string text_;          // what the user's commands showed
  std::string tick_;          // what the last tick showed
  bool background_ = false;
  std::thread::id backgroundThread_;
};

// Runs one tick's work with its lines below the last command's outcome.
class BackgroundLines {
 public:
  explicit BackgroundLines(MessageArea& area) : area_(area) { area_.BeginBackground(); }
  ~BackgroundLines() { area_.EndBackground(); }
  BackgroundLines(const BackgroundLines&) = delete;
  BackgroundLines& operator=(const BackgroundLines&) = delete;

 private:
  MessageArea& area_;
};

}  // namespace tarvel::console
