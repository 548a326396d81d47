#pragma once
// console: run-state monitoring. A reading (the controller's) is shown and, when every exchange
// succeeded and a program runs, stored as the restart state.
// Depends on the console context, the channel selection, the memory map and the profile log.

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "console/channel_selection.h"
#include "console/context.h"
#include "console/memory_map.h"
#include "console/profile_log.h"
#include "controller/run_state_read.h"

namespace tarvel::console {

using controller::RunStateReading;

class Monitor {
 public:
  Monitor(Context& context, ChannelSelection& selection, MemoryMap& memory, ProfileLog& log)
      : context_(context), selection_(selection), memory_(memory), log_(log) {}

  // Shows and stores the reading, and gives it to the caller (pause freezes its set point).
  RunStateReading ReadRunState();
  // A reading of channel taken by the line watch, when channel is the current channel: shown,
  // stored and passed on as ReadRunState does with its own while monitoring is on; otherwise
  // only shown in the Run State frame and passed on. Nothing is read. True when it was stored.
  bool ShowReading(int channel, std::uint8_t address, const RunStateReading& reading);
  // The line watch records every run: the console's own recorder then only feeds the trend.
  void SetRunsRecordedElsewhere(bool elsewhere) { recordedElsewhere_ = elsewhere; }
  bool RecordsRuns() const { return monitoring_ && !recordedElsewhere_; }
  void ReadControllerRunMode();
  void SetMonitoring(bool on);
  bool Monitoring() const { return monitoring_; }
  // The last reading of a running program could not be stored as the restart state (that was shown).
  bool StoreFailed() const { return storeFailed_; }
  int StoreFailures() const { return storeFailures_; }  // readings not stored, since construction
  void SetSelectedRunMode(int code);
  // The single set point the last reading shown found on address; unset when it was of another
  // controller or did not read it. A set value's result names what it replaced by it.
  std::optional<int> LastSetValue(std::uint8_t address) const {
    return lastSetValue_ && lastSetValue_->first == address ? std::optional(lastSetValue_->second) : std::nullopt;
  }
  // Called with every reading of the current channel, complete or not (run recording, trends).
  void OnReading(std::function<void(std::uint8_t address, const RunStateReading&)> listener) {
    listener_ = std::move(listener);
  }

 private:
  void Show(const RunStateReading& reading, std::uint8_t address);
  void Take(std::uint8_t address, const RunStateReading& reading);

  Context& context_;
  ChannelSelection& selection_;
  MemoryMap& memory_;
  ProfileLog& log_;
  bool monitoring_ = false;
  bool recordedElsewhere_ = false;
  bool storeFailed_ = false;
  int storeFailures_ = 0;
  std::optional<std::pair<std::uint8_t, int>> lastSetValue_;
  std::function<void(std::uint8_t, const RunStateReading&)> listener_;
};

}  // namespace tarvel::console
