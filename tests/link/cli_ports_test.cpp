// tarvel-cli's port and channel map verbs on a simulated line: what a technician reads.
#include <gmock/gmock.h>

#include "sim/simulated_line.h"
#include "support/run_process.h"
#include "support/sim_line.h"

namespace tarvel {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

TEST(CliPorts, ScanAddMapsTheUnitsAddressMovesOneAndPortUseStoresTheDevice) {
  sim::SimulatedLine sim(testing::QuickLine({1, 2, 5}));
  ASSERT_TRUE(sim.Start().ok());
  testing::TempDir dir;
  auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--home", (dir / "home").string()});
    return testing::RunProcess(TARVEL_CLI, args);
  };

  auto scan = cli({"--port", sim.DevicePath(), "scan", "--add"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_THAT(scan.out, HasSubstr("Unit #1 Detected : ModBus address added to Channel Map\nUnit #2 Detected : ModBus "
                                  "address added to Channel Map\nUnit #3 Not Found\n"));
  EXPECT_THAT(scan.out, EndsWith("Scan finished\n3 Found\nFollowing ModBus Addresses Detected:  1 2 5\n"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "home" / "LogFiles" / "Channel-03"));

  auto moved = cli({"--port", sim.DevicePath(), "address", "5", "9"});
  EXPECT_EQ(moved.exitCode, 0) << moved.err;
  EXPECT_EQ(moved.out, "Unit at 5 set to new address at 9\nChannel 3 moved to ModBusAddress=9\n");
  auto refused = cli({"--port", sim.DevicePath(), "address", "1", "2"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.out, "Target address is already in the channel map\n"
                         "Choose a different target address or delete entry with ModBusAddress=2\n");
  EXPECT_THAT(cli({"channels"}).out, HasSubstr("3       9        Default3                set64rs\n"));
  EXPECT_TRUE(sim.HasUnit(9));

  auto use = cli({"port", "use", sim.DevicePath()});
  EXPECT_EQ(use.exitCode, 0) << use.err;
  EXPECT_THAT(use.out, HasSubstr("Serial Port Number set to #"));
  EXPECT_THAT(use.out, EndsWith(" - " + sim.DevicePath() + "\n"));
  auto gone = cli({"port", "use", (dir / "unplugged").string()});
  EXPECT_EQ(gone.exitCode, 1);
  EXPECT_EQ(gone.out, "Serial port " + (dir / "unplugged").string() + " not installed\n");
  EXPECT_EQ(cli({"port", "use", "21"}).exitCode, 2);
  EXPECT_EQ(cli({"address", "1", "2"}).exitCode, 2);  // no --port
}

}  // namespace
}  // namespace tarvel
