// A program uploaded through the command set and run by the simulator on its manual clock:
// what the controller reports at each moment is what the command set reads.
#include <gtest/gtest.h>

#include "link/sim_fixture.h"

namespace tarvel {
namespace {

using link::Outcome;

struct Observed {
  int step = 0;
  int stepTime = 0;
  int profileSetPoint = 0;
  int relay1 = 0;
  int relay2 = 0;
  bool operator==(const Observed&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Observed& o) {
  return os << "{step " << o.step << ", time " << o.stepTime << ", SP " << o.profileSetPoint << ", relays "
            << o.relay1 << "/" << o.relay2 << "}";
}

class ProgramRun : public testing::SimLineTest {
 protected:
  void SetUp() override { StartLine(testing::QuickLine({3})); }

  void Upload(const std::vector<std::array<int, 3>>& steps) {
    for (std::size_t i = 0; i < steps.size(); ++i)
      for (int word = 1; word <= 3; ++word)
        ASSERT_EQ(commands_.WriteProgramStepWord(3, static_cast<int>(i + 1), word, steps[i][word - 1]), Outcome::Ok);
  }

  Observed Observe() {
    Observed o;
    auto step = commands_.ReadCurrentStep(3);
    auto time = commands_.ReadStepTime(3);
    auto sp = commands_.ReadProfileSetPoint(3);
    auto relays = commands_.ReadRelayStates(3);
    EXPECT_TRUE(step.ok() && time.ok() && sp.ok() && relays.ok());
    o.step = step.value;
    o.stepTime = time.value;
    o.profileSetPoint = sp.value;
    o.relay1 = relays.value.relay1;
    o.relay2 = relays.value.relay2;
    return o;
  }

  void Advance(double seconds) { Sim().AdvanceTime(std::chrono::duration<double>(seconds)); }
};

TEST_F(ProgramRun, StepsJumpsAndEventsAsTheCommandSetSeesThem) {
  Upload({
      {1, 10, 100},     // 1: ramp 100 -> 200 over 10 s
      {0, -1011, 0},    // 2: relay 1 on
      {1, 20, 200},     // 3: soak at 200 for 20 s
      {0, -6, 0},       // 4: jump to step 6
      {2, 30, 200},     // 5: skipped by the jump
      {1, 5, 200},      // 6: ramp 200 -> 150 over 5 s
      {0, -1010, 0},    // 7: relay 1 off
      {0, -1021, 0},    // 8: relay 2 on
      {0, 0, 150},      // 9: end
  });
  ASSERT_EQ(commands_.WriteProgramLimits(3, 1, 9), Outcome::Ok);
  ASSERT_EQ(commands_.WriteRunMode(3, 1), Outcome::Ok);  // seconds, set-value progression
  Sim().FrontPanelStart(3);                               // the operator's code on the panel

  EXPECT_EQ(Observe(), (Observed{1, 0, 100, 0, 0}));
  Advance(5);
  EXPECT_EQ(Observe(), (Observed{1, 5, 150, 0, 0}));
  Advance(6);  // past the ramp: the event switches relay 1 on and step 3 has run 1 s
  EXPECT_EQ(Observe(), (Observed{3, 1, 200, 1, 0}));
  Advance(20);  // past the soak: the jump skips step 5
  EXPECT_EQ(Observe(), (Observed{6, 1, 190, 1, 0}));
  Advance(5);  // both events, then the end step holds its temperature
  EXPECT_EQ(Observe(), (Observed{9, 0, 150, 0, 1}));
  Advance(60);
  EXPECT_EQ(Observe(), (Observed{9, 0, 150, 0, 1}));

  // The process followed the program up from its 70 degrees.
  auto pv = commands_.ReadProcessValue(3);
  ASSERT_TRUE(pv.ok());
  EXPECT_GT(pv.value, 120);
  EXPECT_EQ(commands_.ProcessValue(3), pv.value);
}

}  // namespace
}  // namespace tarvel
