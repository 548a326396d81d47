#include "console/message_area.h"

#include "util/text.h"

namespace tarvel::console {

void MessageArea::Display(const std::string& message) {
  std::lock_guard lock(mutex_);
  if (Background()) {
    // The outcome is kept: the ticks' own lines make room first.
    if (text_.size() + tick_.size() > kMessageAreaLimit) tick_.clear();
    tick_ += message + "\r\n";
  } else {
    text_ += tick_;  // the user's next command follows what the ticks showed
    tick_.clear();
    AppendMessageLine(text_, message);
  }
  Show();
}

void MessageArea::ClearAndDisplay(const std::string& message) {
  std::lock_guard lock(mutex_);
  if (!Background()) text_.clear();
  tick_ = Background() ? message + "\r\n" : std::string();
  if (!Background()) text_ = message + "\r\n";
  Show();
}

void MessageArea::ClearDisplay() {
  std::lock_guard lock(mutex_);
  if (!Background()) text_.clear();
  tick_.clear();
  Show();
}

std::string MessageArea::Text() const {
  std::lock_guard lock(mutex_);
  return text_ + tick_;
}

void MessageArea::BeginBackground() {
  std::lock_guard lock(mutex_);
  background_ = true;
  backgroundThread_ = std::this_thread::get_id();
}

void MessageArea::EndBackground() {
  std::lock_guard lock(mutex_);
  background_ = false;
}

}  // namespace tarvel::console
