#pragma once
// watch: keeps the watch's port open. A port that failed -- a USB adapter pulled out and put
// back, a serial server restarted, a device node that went away -- is closed and opened again
// by its path (a /dev/serial/by-id link follows the adapter), after a pause that grows from
// one second to half a minute. The watch says once that the port was lost, and again when it
// is back. A port that cannot be opened again within the set time makes the keeper give up, so
// that the watch ends with a failure and the service manager starts it anew. Qt-free; depends
// on link.

#include <chrono>
#include <functional>
#include <string>

#include "link/modbus_rtu_line.h"

namespace tarvel::watch {

class PortKeeper {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  using Say = std::function<void(const std::string&)>;
  static constexpr std::chrono::seconds kDefaultGiveUp{600};

  PortKeeper(
      link::ModbusRtuLine& line, std::string device, std::chrono::seconds giveUpAfter, Say say,
      Clock clock = [] { return std::chrono::steady_clock::now(); });

  // Between two steps of the watch: notices a lost port and, when the pause has passed, tries
  // to open it again. Zero when the line may be used; else how long to wait before asking again.
  std::chrono::steady_clock::duration Tend();
  bool Reopened() const { return reopened_; }  // the port came back since the last Tend that said so
  bool GaveUp() const { return gaveUp_; }

 private:
  link::ModbusRtuLine& line_;
  std::string device_;
  std::chrono::seconds giveUpAfter_;
  Say say_;
  Clock clock_;
  bool lost_ = false, gaveUp_ = false, reopened_ = false;
  std::chrono::steady_clock::time_point lostAt_{}, nextTry_{};
  std::chrono::seconds pause_{1};
};

}  // namespace tarvel::watch
