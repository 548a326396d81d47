// tarvel-cli against a Modbus slave we did not write: Debian's pymodbus serving one end of a
// socat pseudo-terminal pair, unpaced, with a small controller behind it (modbus_slave.py).
// Download, upload with read-back, a jump and an address change, as a commissioning engineer
// would run them on a software slave.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/processes.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace tarvel {
namespace {

using ::testing::HasSubstr;

// What the suite needs and a clean machine gets from scripts/deps.sh; empty when all is there.
std::string Missing() {
  if (!std::filesystem::exists("/usr/bin/socat")) return "socat (Debian package socat)";
  const auto python = testing::RunProcess("/usr/bin/python3", {"-c", "import pymodbus, serial, serial_asyncio"});
  if (python.exitCode != 0)
    return "/usr/bin/python3 with pymodbus, serial and serial_asyncio (python3-pymodbus, python3-serial, "
           "python3-serial-asyncio)";
  return {};
}

class IndependentSlave : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = Missing(); !missing.empty()) GTEST_SKIP() << "needs " << missing;
    ASSERT_TRUE(socat_.Start({"/usr/bin/socat", "-d", "-d", "pty,raw,echo=0,link=" + (dir_ / "slave").string(),
                              "pty,raw,echo=0,link=" + (dir_ / "master").string()},
                             true));
    ASSERT_TRUE(socat_.WaitFor("starting data transfer loop"));
    ASSERT_TRUE(slave_.Start({"/usr/bin/python3", TARVEL_MODBUS_SLAVE, (dir_ / "slave").string(), "1"}));
    ASSERT_TRUE(slave_.WaitFor("serving"));
    ASSERT_EQ(Cli({"channel", "add", "1", "1", "Kiln"}, false).exitCode, 0);
    std::filesystem::copy_file(TARVEL_TEST_PROFILE, dir_ / "home" / "Profiles" / "kiln.txt");
  }

  testing::ProcessResult Cli(std::vector<std::string> args, bool withPort = true) {
    return testing::RunCli(dir_ / "home", std::move(args), withPort ? (dir_ / "master").string() : "");
  }

  testing::TempDir dir_;
  testing::Spawned socat_, slave_;
};

TEST_F(IndependentSlave, DownloadUploadWithReadBackJumpAndAddressChange) {
  auto download = Cli({"download", "1", "1", "64"});
  ASSERT_EQ(download.exitCode, 0) << download.err;
  EXPECT_THAT(download.out, HasSubstr("  10       0         0            0\n"));

  auto upload = Cli({"upload", "1", (dir_ / "home" / "Profiles" / "kiln.txt").string(), "10", "--yes"});
  ASSERT_EQ(upload.exitCode, 0) << upload.out << upload.err;
  EXPECT_THAT(upload.out, HasSubstr("Read-back matches the compiled profile"));
  download = Cli({"download", "1", "10", "12"});
  EXPECT_EQ(download.out,
            "Controller memory range downloaded\n"
            "Step  PIDSet  Duration  Temperature\n"
            "  10       2        60           70\n"
            "  11       2     -1011          250\n"
            "  12       1       120          250\n");

  ASSERT_EQ(Cli({"select", "1", "kiln.txt", "--yes"}).exitCode, 0);
  ASSERT_EQ(Cli({"start", "1", "--front-panel", "--field", "Order=1"}).exitCode, 0);
  auto jump = Cli({"jump", "1", "12", "30"});
  ASSERT_EQ(jump.exitCode, 0) << jump.out << jump.err;
  EXPECT_THAT(jump.out, HasSubstr("Jump done executing"));
  EXPECT_THAT(Cli({"state", "1"}).out, HasSubstr("Step:              12\n"));

  auto moved = Cli({"address", "1", "3"});
  ASSERT_EQ(moved.exitCode, 0) << moved.out << moved.err;
  EXPECT_THAT(moved.out, HasSubstr("Unit at 1 set to new address at 3"));
  EXPECT_EQ(Cli({"state", "3"}).exitCode, 0);
  EXPECT_EQ(Cli({"state", "1"}).exitCode, 1) << "nothing answers at 1 any more";
  EXPECT_THAT(Cli({"channels"}, false).out, HasSubstr("1       3        Kiln"));
}

}  // namespace
}  // namespace tarvel
