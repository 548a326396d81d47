#pragma once
// watch: the line sweep -- one run-state reading of each mapped controller in turn, made one
// exchange per step, so that whoever drives it (the GUI's command runner, tarvel-cli watch) can
// let a user command in between two exchanges. A sweep starts every period; one that takes
// longer than the period makes the next start at once, and the sweep says it is saturated.
// Qt-free; builds on the controller's RunStateRead. Depends on controller and link.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "controller/run_state_read.h"
#include "controller/session.h"
#include "link/commands.h"
#include "util/result.h"

namespace tarvel::watch {

using SteadyClock = std::chrono::steady_clock;

// A mapped controller as the sweep reads it.
struct WatchedChannel {
  int channel = 0;
  int address = 0;
  std::string nickName;
  bool operator==(const WatchedChannel&) const = default;
};

struct SweepStep {
  bool again = false;      // there is more to do at once: call again without waiting
  bool exchanged = false;  // one exchange went on the line
  // A reading finished with this step, of channel `of`.
  std::optional<controller::RunStateReading> reading;
  WatchedChannel of;
  // The database's answer to keeping what that reading learnt of the controller's frames.
  Status learnt;
  bool sweepEnded = false;
  // Of a sweep that ended elsewhere (the line service's, fed to a client's watch): its number,
  // how long it took, its period and whether it ran over; number 0 for this watch's own sweep.
  long long number = 0;
  SteadyClock::duration took{}, period{};
  bool saturated = false;
  // Nothing was done: the next sweep is due after this long.
  SteadyClock::duration wait{};
};

class Sweep {
 public:
  using ChannelList = std::function<std::vector<WatchedChannel>()>;
  using Clock = std::function<SteadyClock::time_point()>;
  static constexpr std::chrono::seconds kDefaultPeriod{15};

  // channels is asked at the start of every sweep: a change of the channel map shows in the next one.
  // The session gives the line and keeps what each reading learns of a controller's frames.
  Sweep(
      controller::Session& session, ChannelList channels, Clock clock = [] { return SteadyClock::now(); });

  void SetPeriod(SteadyClock::duration period) { period_ = period; }
  SteadyClock::duration Period() const { return period_; }

  // One exchange of the sweep under way, starting a sweep when one is due.
  SweepStep Next();
  // A user command ran between two exchanges of the reading under way: it starts again, so
  // that a reading never mixes values from before and after what the command changed.
  void RestartReading();
  // Stop now and start a new sweep at once on the next step (a channel map change, a period change).
  void StartOver();

  bool InProgress() const { return inProgress_; }
  // The last sweep took longer than the period: the line is read as often as it can be.
  bool Saturated() const { return saturated_; }
  SteadyClock::duration LastDuration() const { return lastDuration_; }
  long long Completed() const { return completed_; }

 private:
  void Begin(SteadyClock::time_point now);
  SweepStep EndSweep(SweepStep step, SteadyClock::time_point now);

  controller::Session& session_;
  ChannelList channels_;
  Clock clock_;
  SteadyClock::duration period_ = kDefaultPeriod;

  bool inProgress_ = false;
  bool started_ = false;  // a first sweep has begun
  SteadyClock::time_point sweepStart_{}, nextStart_{};
  std::vector<WatchedChannel> list_;
  std::size_t index_ = 0;
  std::optional<controller::RunStateRead> read_;
  bool saturated_ = false;
  SteadyClock::duration lastDuration_{};
  long long completed_ = 0;
};

}  // namespace tarvel::watch
