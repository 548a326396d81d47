#pragma once
// console: the message area of a tool window (SerialPortPrompt, DBInterfaceDisplay): lines
// ending in CR LF, appended or emptied. Safe from any thread: "Clear" acts from the UI thread
// while a command runs.

#include <functional>
#include <mutex>
#include <string>

namespace tarvel::console {

class MessageLines {
 public:
  // show receives the whole text after each change.
  explicit MessageLines(std::function<void(const std::string&)> show) : show_(std::move(show)) {}

  void Display(const std::string& line) {
    std::lock_guard lock(mutex_);
    text_ += line + "\r\n";
    show_(text_);
  }
  void ClearDisplay() {
    std::lock_guard lock(mutex_);
    text_.clear();
    show_(text_);
  }
  std::string Text() const {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  std::function<void(const std::string&)> show_;
  mutable std::mutex mutex_;
  std::string text_;
};

}  // namespace tarvel::console
