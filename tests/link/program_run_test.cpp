// A program uploaded through the command set and run by the simulator: what the
// controller reports at each moment is what the command set reads over the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "link/sim_fixture.h"

namespace tarvel {
namespace {

using link::Outcome;

// Step, step time, profile set point, relay 1, relay 2: what a monitor reads.
using Observed = std::array<int, 5>;

class ProgramRun : public testing::SimLineTest {
 protected:
  // Uploads the program and starts it in mode 1 (seconds, set-value progression) the way the
  // console does.
  void UploadAndStart(sim::Options options) {
    StartLine(std::move(options));
    const int steps[][3] = {
        {1, 10, 100},   // 1: ramp 100 -> 200 over 10 s (an event step has no temperature)
        {0, -1011, 0},  // 2: relay 1 on
        {1, 20, 200},   // 3: ramp 200 -> 300 over 20 s: step 5's temperature, though the jump skips it
        {0, -6, 0},     // 4: jump to step 6
        {2, 30, 300},   // 5: skipped
        {1, 5, 200},    // 6: ramp 200 -> 150 over 5 s
        {0, -1010, 0},  // 7: relay 1 off
        {0, -1021, 0},  // 8: relay 2 on
        {0, 0, 150},    // 9: end
    };
    for (int step = 1; step <= 9; ++step)
      for (int word = 1; word <= 3; ++word)
        ASSERT_EQ(commands_.WriteProgramStepWord(3, step, word, steps[step - 1][word - 1]), Outcome::Ok);
    ASSERT_EQ(commands_.WriteProgramLimits(3, 1, 9), Outcome::Ok);
    Sim().FrontPanelStart(3);                              // the start code, entered in mode 0, arms the start ...
    ASSERT_EQ(commands_.WriteRunMode(3, 1), Outcome::Ok);  // ... that the mode written after it makes
  }

  Observed Observe() {
    auto step = commands_.ReadCurrentStep(3);
    auto time = commands_.ReadStepTime(3);
    auto sp = commands_.ReadProfileSetPoint(3);
    auto relays = commands_.ReadRelayStates(3);
    EXPECT_TRUE(step.ok() && time.ok() && sp.ok() && relays.ok());
    return {step.value, time.value, sp.value, relays.value.relay1, relays.value.relay2};
  }

  void Advance(double seconds) { Sim().AdvanceTime(std::chrono::duration<double>(seconds)); }
};

TEST_F(ProgramRun, StepsJumpsAndEventsAsTheCommandSetSeesThem) {
  UploadAndStart(testing::QuickLine({3}));
  EXPECT_EQ(Observe(), (Observed{1, 0, 100, 0, 0}));
  Advance(5);
  EXPECT_EQ(Observe(), (Observed{1, 5, 150, 0, 0}));
  Advance(6);  // past the ramp: the event switches relay 1 on and step 3 has run 1 s
  EXPECT_EQ(Observe(), (Observed{3, 1, 205, 1, 0}));
  Advance(20);  // past step 3: the jump skips step 5
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

TEST_F(ProgramRun, AtHighSpeedOnTheRealTimeClockItRestsOnlyInTimedStepsInOrder) {
  auto options = testing::QuickLine({3});
  options.clock = sim::Options::Clock::RealTime;
  options.speed = 50;  // the 35 s program in under a second
  UploadAndStart(options);
  // Polled the way a monitor does, until the program has ended.
  std::vector<int> seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while ((seen.empty() || seen.back() != 9) && std::chrono::steady_clock::now() < deadline) {
    auto step = commands_.ReadCurrentStep(3);
    if (step.ok() && (seen.empty() || seen.back() != step.value)) seen.push_back(step.value);
  }
  const std::vector<int> timed{1, 3, 6, 9};
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()) &&
              std::includes(timed.begin(), timed.end(), seen.begin(), seen.end()))
      << ::testing::PrintToString(seen);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 9);
  EXPECT_EQ(Observe(), (Observed{9, 0, 150, 0, 1}));
}

}  // namespace
}  // namespace tarvel
