// The tarvel-sim program as a user starts it from a shell.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "sim/rtu_codec.h"
#include "support/processes.h"
#include "wire.h"

namespace tarvel::sim {
namespace {

using testing::Bytes;
using testing::Joined;

TEST(TarvelSimProgram, RefusesBadArgumentsWithAUsageLine) {
  for (const char* line :
       {"", "--units 0", "--units 1,1", "--units 1,x", "--units 248", "--units 1 --speed 0",
        "--units 1 --turnaround -1", "--units 1 --bogus", "--units 1 --write-model second", "--units 1 --fault late",
        "--units 1 --fault late:1.5", "--units 1 --fault late:0.6,no-reply:0.6", "--units 1 --fault late:0.1,late:0.1",
        "--units 1 --fault noise:0.1", "--units 1 --late-delay 0", "--units 1 --duplicate-delay -5",
        "--units 1 --unpaced 2"}) {
    const auto args = tarvel::testing::Args(line);
    const auto result = tarvel::testing::RunProcess(TARVEL_SIM, args);
    EXPECT_EQ(result.exitCode, 2) << line;
    EXPECT_NE(result.err.find("usage: tarvel-sim --units"), std::string::npos);
    EXPECT_TRUE(result.out.empty());
  }
}

TEST(TarvelSimProgram, PrintsItsDeviceServesItsUnitsAndEndsOnTerminate) {
  // The simulator publishes its line for port scans under $XDG_RUNTIME_DIR/tarvel.
  tarvel::testing::TempDir runtime;
  tarvel::testing::Spawned sim;  // env hands over its own process: the pid is the simulator's
  ASSERT_TRUE(sim.Start({"/usr/bin/env", "XDG_RUNTIME_DIR=" + runtime.path().string(), TARVEL_SIM, "--units", "4,12",
                         "--speed", "60", "--turnaround", "2", "--write-model", "first", "--fault", "duplicate:1",
                         "--duplicate-delay", "5", "--unpaced", "--echo"}));
  ASSERT_TRUE(sim.WaitFor(""));
  const std::string device = sim.Lines().front();
  EXPECT_TRUE(device.starts_with("/dev/pts/")) << device;
  const auto published = runtime / "tarvel" / ("tarvel-sim-" + std::to_string(sim.Pid()));
  EXPECT_EQ(std::filesystem::read_symlink(published).string(), device);
  {
    testing::Wire wire(device);
    // The request echoed, then the reply twice.
    auto heard = [](const Bytes& request, const Bytes& reply) { return Joined(Joined(request, reply), reply); };
    const Bytes readAddress = EncodeReadRequest(12, 0x2011, 2);  // unit 12 reads its own address
    wire.Send(readAddress);
    EXPECT_EQ(wire.Receive(26), heard(readAddress, EncodeReadReply(12, std::vector<std::uint16_t>{12, 0})));
    // The first write model ignores the 0 a scale write carries for the unit's address.
    const std::uint16_t celsius[] = {0, 0};
    const Bytes writeScale = EncodeWriteRequest(12, 0x2010, celsius);
    wire.Send(writeScale);
    EXPECT_EQ(wire.Receive(29), heard(writeScale, EncodeWriteReply(12, 0x2010, 2)));
  }
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(published));
}

}  // namespace
}  // namespace tarvel::sim
