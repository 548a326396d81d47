// tarvel-cli's scan, address and port verbs on a simulated line: what a technician reads.
#include <SQLiteCpp/SQLiteCpp.h>
#include <gmock/gmock.h>

#include "sim/simulated_line.h"
#include "support/run_process.h"
#include "support/sim_line.h"

namespace tarvel {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using testing::RunCli;

TEST(CliPorts, ScanListsAndMapsTheUnitsAddressMovesOneAndPortUseStoresTheDevice) {
  sim::SimulatedLine sim(testing::QuickLine({1, 2, 5}));
  ASSERT_TRUE(sim.Start().ok());
  testing::TempDir dir;
  const auto home = dir / "home";
  const std::string port = sim.DevicePath();

  auto listed = RunCli(home, {"scan"}, port);
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_THAT(listed.out, ::testing::StartsWith("Unit #1 Detected\nUnit #2 Detected\nUnit #3 Not Found\n"));
  EXPECT_THAT(listed.out, EndsWith("Unit #64 Not Found\nScan finished\n3 Found\n"
                                   "Following ModBus Addresses Detected:  1 2 5\n"));
  auto scan = RunCli(home, {"scan", "--add"}, port);
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_THAT(scan.out, HasSubstr("Unit #2 Detected : ModBus address added to Channel Map\nUnit #3 Not Found\n"));
  EXPECT_TRUE(std::filesystem::is_directory(home / "LogFiles" / "Channel-03"));
  SQLite::Database db((home / "Setup" / "ChannelManagement.db").string());
  EXPECT_EQ(db.execAndGet("SELECT count(*) FROM ControllerMemory WHERE Unknown = 0 AND Modified = 0 AND Duration = 0 "
                          "AND Temperature = 0 AND PIDSet = 0")
                .getInt(),
            3 * 64)
      << "new addresses get their zeroed rows, not marks of writes that never were";

  auto moved = RunCli(home, {"address", "5", "9"}, port);
  EXPECT_EQ(moved.exitCode, 0) << moved.err;
  EXPECT_EQ(moved.out, "Unit at 5 set to new address at 9\nChannel 3 moved to ModBusAddress=9\n");
  auto refused = RunCli(home, {"address", "1", "2"}, port);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_THAT(refused.out, HasSubstr("Target address is already in the channel map\n"));
  EXPECT_THAT(RunCli(home, {"channels"}).out, HasSubstr("3       9        Default3                set64rs\n"));
  EXPECT_TRUE(sim.HasUnit(9));

  auto use = RunCli(home, {"port", "use", port});
  EXPECT_EQ(use.exitCode, 0) << use.err;
  EXPECT_THAT(use.out, HasSubstr("Serial Port Number set to #"));
  EXPECT_THAT(use.out, EndsWith(" - " + port + "\n"));
  auto gone = RunCli(home, {"port", "use", (dir / "unplugged").string()});
  EXPECT_EQ(gone.exitCode, 1);
  EXPECT_EQ(gone.out, "Serial port " + (dir / "unplugged").string() + " not installed\n");
  EXPECT_EQ(RunCli(home, {"port", "use", "21"}).exitCode, 2);
  EXPECT_EQ(RunCli(home, {"address", "1", "2"}).exitCode, 2);  // no --port
}

}  // namespace
}  // namespace tarvel
