#include "controller/run_control.h"

#include <algorithm>

#include "link/commands.h"
#include "util/text.h"

namespace tarvel::controller {
namespace {

const store::MemoryRow* FindStep(const std::vector<store::MemoryRow>& steps, int segment) {
  auto it =
      std::find_if(steps.begin(), steps.end(), [segment](const store::MemoryRow& r) { return r.segment == segment; });
  return it == steps.end() ? nullptr : &*it;
}

}  // namespace

int RunModeCode(const std::string& progressionType, const std::string& timeScaleType) {
  return (progressionType == "PV" ? 2 : 0) + (timeScaleType == "S" ? 1 : 2);
}

PointResult ComputeModifiedPoint(const std::vector<store::MemoryRow>& steps, int segment, int time) {
  if (segment < 1 || segment >= kJumpStep) return {{}, PointRefusal::SegmentOutOfRange};
  const store::MemoryRow* step = FindStep(steps, segment);
  if (!step) return {{}, PointRefusal::NoStoredStep};
  if (step->duration <= 0) return {{}, PointRefusal::JumpStep};
  if (time < 0 || step->duration - time <= 0) return {{}, PointRefusal::TimeBeyondSegment};

  // The set point ramps to the next timed step; past the end of memory it holds.
  int next = step->temperature;
  for (int k = segment + 1; k <= link::kStepCount; ++k) {
    const store::MemoryRow* following = FindStep(steps, k);
    if (!following) return {{}, PointRefusal::NoStoredStep};
    if (following->duration >= 0) {
      next = following->temperature;
      break;
    }
  }
  const double slope = static_cast<double>(next - step->temperature) / step->duration;
  const int temperature = step->temperature + static_cast<int>(RoundHalfEven(slope * time));
  return {{step->duration - time, temperature, time}, PointRefusal::None};
}

}  // namespace tarvel::controller
