#include "watch/port_keeper.h"

#include <algorithm>

namespace tarvel::watch {
namespace {

constexpr std::chrono::seconds kFirstPause{1};
constexpr std::chrono::seconds kLongestPause{30};

}  // namespace

PortKeeper::PortKeeper(link::ModbusRtuLine& line, std::string device, std::chrono::seconds giveUpAfter, Say say,
                       Clock clock)
    : line_(line),
      device_(std::move(device)),
      giveUpAfter_(giveUpAfter),
      say_(std::move(say)),
      clock_(std::move(clock)) {}

std::chrono::steady_clock::duration PortKeeper::Tend() {
  reopened_ = false;
  if (gaveUp_) return {};
  const auto now = clock_();
  if (!lost_) {
    if (!line_.PortLost()) return {};
    lost_ = true;
    lostAt_ = nextTry_ = now;
    pause_ = kFirstPause;
    line_.Close();
    say_("Serial port " + device_ + " lost, reopening");
  }
  if (now < nextTry_) return nextTry_ - now;
  if (auto opened = line_.Open(device_); opened.ok()) {
    lost_ = false;
    reopened_ = true;
    const auto away = std::chrono::duration_cast<std::chrono::seconds>(now - lostAt_).count();
    say_("Serial port " + device_ + " reopened after " + std::to_string(away) + " s");
    return {};
  }
  if (now - lostAt_ >= giveUpAfter_) {
    gaveUp_ = true;
    say_("Serial port " + device_ + " did not come back within " + std::to_string(giveUpAfter_.count()) +
         " s: giving up");
    return {};
  }
  nextTry_ = now + pause_;
  pause_ = std::min(pause_ * 2, kLongestPause);
  return nextTry_ - now;
}

}  // namespace tarvel::watch
