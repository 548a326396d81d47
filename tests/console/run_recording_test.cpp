// Run recording: readings become 21-byte log records the chart's reader reads back.
#include <gmock/gmock.h>

#include <cmath>
#include <cstdlib>

#include "profile/log_file.h"
#include "support/console_fixture.h"

namespace tarvel::console {
namespace {

using namespace std::chrono_literals;
using namespace controller;
namespace fs = std::filesystem;

TEST(RunRecordFormat, RecordsNamesAndProgramTime) {
  EXPECT_EQ(FormatLogRecord({70.5, 250, 248}), "    70.50  250  248\r\n");
  EXPECT_EQ(FormatLogRecord({1234567.0, -32768, 32767}), "  1234567-999932767\r\n");
  EXPECT_EQ(FormatLogRecord({1234567.0, -32768, 32767}).size(), profile::kLogRecordSize);

  setenv("TZ", "UTC", 1);
  tzset();
  const auto start = std::chrono::system_clock::from_time_t(1790000000);  // 2026-09-21 14:13:20 UTC
  EXPECT_EQ(RunLogFileName("Demo drying.txt", start), "Demo drying 2026-09-21 14-13-20.log");
  EXPECT_EQ(RunLogFileName("../a/b", start), ".._a_b 2026-09-21 14-13-20.log");
  EXPECT_EQ(RunLogFileName("", start), "No profile 2026-09-21 14-13-20.log");

  // 60 min ramp, relay event, 120 min hold, jump: only timed steps before the executing one count.
  std::vector<store::MemoryRow> memory = {{1, 1, 5, 0, 1, 0},     {1, 2, 60, 70, 1, 0},  {1, 3, -1011, 250, 1, 0},
                                          {1, 4, 120, 250, 1, 0}, {1, 5, -2, 250, 1, 0}, {1, 6, 0, 250, 1, 0}};
  EXPECT_EQ(ProgramTime(memory, 2, 2, 15), 15);
  EXPECT_EQ(ProgramTime(memory, 2, 4, 30), 90);
  EXPECT_EQ(ProgramTime(memory, 2, 6, 0), 180);
  // The step was read just before the program moved on; the step time just after.
  EXPECT_EQ(ReadingProgramTime(memory, 2, 6, 2, 3, std::pair{2, 55.0}), 63);
  EXPECT_EQ(ReadingProgramTime(memory, 2, 6, 4, 2, std::pair{4, 179.0}), 182);  // past the jump: the end step
  EXPECT_EQ(ReadingProgramTime(memory, 2, 6, 4, 2, std::pair{2, 59.0}), 62);
  EXPECT_EQ(ReadingProgramTime(memory, 2, 6, 2, 3, std::pair{4, 100.0}), 3) << "a jump back is time running back";
  EXPECT_EQ(ToProfileTime(90, 2, 'H'), 1.5);  // minutes on the controller, hours in the profile
  EXPECT_EQ(ToProfileTime(90, 1, 'M'), 1.5);  // seconds on the controller
  EXPECT_EQ(ToProfileTime(90, 4, 'S'), 5400);
  EXPECT_EQ(ToProfileTime(90, 0, 'S'), 90);  // paused: the unit the program was compiled to
  EXPECT_EQ(ToProfileTime(90, 0, 'M'), 90);
}

class Recording : public ConsoleFixture {
 protected:
  Recording() {
    Map(1, 1, "Kiln");
    RunProgramOnUnit1();
    std::vector<store::MemoryRow> steps = {{1, 1, 60, 100, 1, 0}, {1, 2, 30, 200, 1, 0}, {1, 3, 0, 200, 1, 0}};
    EXPECT_TRUE(store_.WriteMemorySteps(1, steps));
    EXPECT_TRUE(store_.WriteLogEntry({1, "Three step.txt", 1, 3, "K", "F", "M", "SV"}));
    EXPECT_TRUE(store_.SaveRunSelection(1, "Three step.txt", 1, 3));
  }
  std::vector<fs::path> LogFiles() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder_.ChannelLogFolder(1))) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
  }
  // What the controller held when it was read, as the log should have it.
  profile::LogPoint Expected(double time) {
    const sim::UnitState unit = sim_.Unit(1);
    return {time, double(unit.profileSetPoint), double(std::lround(unit.processTemperature))};
  }
};

TEST_F(Recording, EachReadingWhileMonitoringIsOneRecordAndEachSwitchOnStartsANewFile) {
  sim_.AdvanceTime(10min);
  Console& console = Started();  // reads the run state, but monitoring is off: nothing is recorded
  EXPECT_FALSE(fs::exists(folder_.ChannelLogFolder(1)) && !LogFiles().empty());

  std::vector<profile::LogPoint> expected;
  console.SetMonitoring(true);
  EXPECT_THAT(view_.messages, ::testing::HasSubstr("Recording run to LogFiles/Channel-01/Three step "));
  expected.push_back(Expected(10));
  EXPECT_EQ(expected[0].recordedProfile, 117);  // 100 + 100 * 10 / 60
  // Minute 70 is 10 into the hold, minute 100 is past the end at 90.
  for (auto [advance, time] : {std::pair{20min, 30.0}, {40min, 70.0}, {15min, 85.0}, {15min, 90.0}}) {
    sim_.AdvanceTime(advance);
    console.RunMonitor().ReadRunState();
    expected.push_back(Expected(time));
  }
  ASSERT_EQ(LogFiles().size(), 1u);
  const fs::path file = LogFiles()[0];
  EXPECT_THAT(file.filename().string(), ::testing::MatchesRegex("Three step [-0-9]+ [-0-9]+\\.log"));

  const std::string bytes = tarvel::testing::ReadAll(file);
  ASSERT_EQ(bytes.size(), 5 * profile::kLogRecordSize);
  EXPECT_EQ(bytes.substr(0, 14), "    10.00  117");
  EXPECT_EQ(bytes.substr(19, 2), "\r\n");
  EXPECT_EQ(profile::ReadLogFile(file).value(), expected);

  // A failed reading adds nothing, nor does a reading of its own with monitoring off.
  const auto records = [&] { return fs::file_size(file) / profile::kLogRecordSize; };
  line_.SetTiming({20ms, 20ms});
  sim_.InjectFault(sim::Fault::NoReply, 1);
  console.RunMonitor().ReadRunState();
  EXPECT_EQ(view_.LastLed(), Led::Error);
  EXPECT_EQ(records(), 5u);
  line_.SetTiming({100ms, 100ms});  // a busy machine must not fail the readings that follow
  console.RunMonitor().ReadRunState();
  EXPECT_EQ(records(), 6u);
  console.SetMonitoring(false);
  console.RunMonitor().ReadRunState();
  EXPECT_EQ(records(), 6u);
  console.SetMonitoring(true);
  std::vector<std::uintmax_t> sizes;
  for (const fs::path& f : LogFiles()) sizes.push_back(fs::file_size(f));
  // The second run has its own file, even when it starts within the same second.
  EXPECT_THAT(sizes, ::testing::UnorderedElementsAre(6 * profile::kLogRecordSize, profile::kLogRecordSize));
}

}  // namespace
}  // namespace tarvel::console
