#pragma once
// console: the point a jump leads the controller to. ComputeModifiedPoint is pure: the memory
// copy in, a point out. The jump sequence itself ("Jump To") is a command of the run control
// room (RunControl::JumpTo, in jump.cpp). Depends on store rows only.

#include <string>
#include <vector>

#include "store/rows.h"

namespace tarvel::console {

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
// The lines the user reads for a refusal.
std::vector<std::string> RefusalLines(PointRefusal refusal);

}  // namespace tarvel::console
