#pragma once
// controller: run control's values without a screen -- what one action (select, start, pause,
// restart, jump, run mode, set value) did, as a value each front end puts into its own words
// and its load records; the run mode a logged profile runs in; and the point a jump leads the
// controller to, computed from the memory copy alone. Depends on store rows only.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "store/rows.h"

namespace tarvel::controller {

// The run mode code of a logged profile: 2 more for PV progression, then 1 for seconds,
// else 2 (any other time scale, H included, counts as minutes).
int RunModeCode(const std::string& progressionType, const std::string& timeScaleType);

// What one run-control action did, known in full once it has ended: which action on which
// controller, whether it did all it set out to do, and the values it changed as read before and
// as it set out to write them (set just before its first write). A value stays unset when the
// action did not read it or stopped before it was about to write it.
enum class RunAction { Select, ProgramLimits, Start, Pause, Restart, Jump, SetMode, SetValue };
struct RunActionResult {
  RunAction action = RunAction::Select;
  int channel = 0;           // the channel when the action began; 0: none
  std::uint8_t address = 0;  // 0: stopped before a controller was chosen
  bool done = false;
  bool begun = false;                         // it came to its first write to the line (RunActionObserver::Begins)
  std::string profile;                        // Select, Start: the log entry's profile
  std::optional<std::pair<int, int>> limits;  // Select, ProgramLimits: low and high step written
  std::optional<int> modeBefore, modeAfter;
  std::optional<int> setValueBefore, setValueAfter;  // Pause: the set point it holds; SetValue: the one written
  std::optional<int> stepBefore;                 // Jump: the step a stored reading found the program running, if any
  std::optional<std::pair<int, int>> jumpPoint;  // Jump, Restart: segment and time to jump to
};

// Told of each action of a front end's run control once it has ended, and before that a pause,
// restart, jump, run mode or set value as it is about to make its first write to the line, with
// the values it sets out to write (done still false): a reading taken while it writes then finds
// it told. One refused or stopped before any write is told only its end, with begun false. Both
// are called on the thread that runs the action, before it goes on.
class RunActionObserver {
 public:
  virtual ~RunActionObserver() = default;
  virtual void Begins(const RunActionResult& intended) = 0;
  virtual void Ended(const RunActionResult& result) = 0;
};

// Step 64 is the jump step: the jump sequence borrows it to lead the controller into a segment,
// flagged Modified like the steps it patches, so Start puts back what it held.
inline constexpr int kJumpStep = 64;

// The shortened copy of a segment that starts at a point inside it.
struct ModifiedPoint {
  int duration = 0;
  int temperature = 0;
  int from = 0;  // the time into the segment at which the copy begins
};

enum class PointRefusal {
  None,
  SegmentOutOfRange,  // not 1..63: step 64 is the jump step
  NoStoredStep,       // the memory copy has no row for the segment or the step it ramps to
  JumpStep,           // the segment's Duration is not positive
  TimeBeyondSegment,  // the time is negative or not shorter than the Duration
};

struct PointResult {
  ModifiedPoint point;
  PointRefusal refusal = PointRefusal::None;
  bool ok() const { return refusal == PointRefusal::None; }
};

// Where the set point of segment stands after time: its stored Temperature running linearly
// over Duration to the Temperature of the next timed step (jump and event steps passed over,
// a zero Duration counts; past the last step it holds), rounded half to even; the copy lasts
// for the rest of the segment. steps: the controller's memory copy, any order.
PointResult ComputeModifiedPoint(const std::vector<store::MemoryRow>& steps, int segment, int time);

}  // namespace tarvel::controller
