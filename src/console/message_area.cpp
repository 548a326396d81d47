#include "console/message_area.h"

namespace tarvel::console {

void MessageArea::Display(const std::string& message) {
  std::lock_guard lock(mutex_);
  if (text_.size() > kLimit) text_.clear();
  text_ += message + "\r\n";
  view_.ShowMessages(text_);
}

void MessageArea::ClearAndDisplay(const std::string& message) {
  std::lock_guard lock(mutex_);
  text_ = message + "\r\n";
  view_.ShowMessages(text_);
}

void MessageArea::ClearDisplay() {
  std::lock_guard lock(mutex_);
  text_.clear();
  view_.ShowMessages(text_);
}

std::string MessageArea::Text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

}  // namespace tarvel::console
