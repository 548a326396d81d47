// Run control's values: the point a jump leads to, the run mode of a logged profile. The jump
// on the wire and its refusals as the user meets them are in tests/console.
#include <gtest/gtest.h>

#include "controller/run_control.h"

namespace tarvel::controller {
namespace {

TEST(ModifiedPoint, RoundsHalfToEvenAndNeedsTheStoredStep) {
  std::vector<store::MemoryRow> steps;
  for (int step = 1; step <= 64; ++step) steps.push_back({1, step, 0, 0, 0, 0});
  steps[4] = {1, 5, 120, 100, 1, 0};
  steps[5] = {1, 6, -9, 0, 1, 0};
  steps[6] = {1, 7, 60, 101, 1, 0};
  EXPECT_EQ(ComputeModifiedPoint(steps, 5, 60).point.temperature, 100) << "100.5 goes to the even neighbour";
  EXPECT_EQ(ComputeModifiedPoint(steps, 64, 1).refusal, PointRefusal::SegmentOutOfRange);  // 64 is the jump's own
  steps.erase(steps.begin() + 4);
  EXPECT_EQ(ComputeModifiedPoint(steps, 5, 30).refusal, PointRefusal::NoStoredStep);

  EXPECT_EQ(
      (std::vector{RunModeCode("SV", "S"), RunModeCode("SV", "H"), RunModeCode("PV", "S"), RunModeCode("PV", "M")}),
      (std::vector{1, 2, 3, 4}));
}

}  // namespace
}  // namespace tarvel::controller
