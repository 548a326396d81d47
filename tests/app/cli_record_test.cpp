// tarvel-cli record and log-export against a simulated line: the log file a run leaves, as
// bytes and as a spreadsheet reads it.
#include <gmock/gmock.h>

#include <filesystem>

#include "sim/simulated_line.h"
#include "support/run_process.h"
#include "support/sim_line.h"

namespace tarvel {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

TEST(CliRecord, RecordsReadingsToTheChannelsLogFolderAndExportsThemAsCsv) {
  testing::TempDir dir;
  sim::SimulatedLine sim(testing::InstantLine({3}));
  ASSERT_TRUE(sim.Start().ok());
  sim.EditUnit(3, [](sim::UnitState& u) {
    u.setValue = 180;
    u.processTemperature = 171.4;
  });
  const std::string home = (dir / "home").string();
  auto cli = [&](std::vector<std::string> args) { return testing::RunCli(home, args, sim.DevicePath()); };
  ASSERT_EQ(testing::RunCli(home, {"channel", "add", "7", "3", "Oven"}).exitCode, 0);

  sim.InjectFault(sim::Fault::NoReply, 1);  // the first reading fails and leaves no record
  auto run = cli({"--no-block-reads", "record", "7", "--every", "0", "--count", "4"});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_THAT(run.out, HasSubstr("ERROR: Commmunications error"));
  EXPECT_THAT(run.out, HasSubstr("Recorded 3 of 4 readings to " + home + "/LogFiles/Channel-07/No profile "));
  for (const auto& frame : sim.Requests())  // --no-block-reads: never more than two registers
    EXPECT_LE(frame.at(4) << 8 | frame.at(5), 2);

  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(fs::path(home) / "LogFiles" / "Channel-07")) files.push_back(entry);
  ASSERT_EQ(files.size(), 1u);
  // No executing profile: minutes since the start, a few hundredths at most on this line.
  const std::string record = "  180  171\r\n";
  const std::string bytes = testing::ReadAll(files[0]);
  ASSERT_EQ(bytes.size(), 3 * (9 + record.size())) << bytes;
  for (std::size_t at = 0; at < bytes.size(); at += 9 + record.size()) {
    EXPECT_TRUE(bytes.substr(at, 8) == "     0.0" && bytes[at + 8] >= '0' && bytes[at + 8] <= '9') << bytes;
    EXPECT_EQ(bytes.substr(at + 9, record.size()), record);
  }

  auto csv = testing::RunProcess(TARVEL_CLI, {"log-export", files[0].string()});
  EXPECT_EQ(csv.exitCode, 0) << csv.err;
  EXPECT_THAT(csv.out, ::testing::MatchesRegex("Time,Set Point,Process Value\n(0(\\.0[0-9])?,180,171\n){3}"));

  EXPECT_EQ(cli({"record", "7", "--every", "soon", "--count", "2"}).exitCode, 2);
  EXPECT_EQ(testing::RunProcess(TARVEL_CLI, {"log-export", (dir / "none.log").string()}).exitCode, 1);
}

}  // namespace
}  // namespace tarvel
