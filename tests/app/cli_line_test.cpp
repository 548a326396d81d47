// tarvel-cli --port against a simulated line served from this test process: what a
// technician reads, and the exit codes a script relies on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <tuple>

#include "link/modbus_rtu_line.h"
#include "sim/simulated_line.h"
#include "support/processes.h"
#include "support/profiles.h"
#include "support/run_process.h"
#include "support/sim_line.h"
#include "support/unprivileged.h"

namespace tarvel {
namespace {

using ::testing::HasSubstr;

class CliLine : public ::testing::Test {
 protected:
  void Start(std::vector<std::uint8_t> addresses, int maxRead = 2) {
    auto options = testing::InstantLine(std::move(addresses));
    options.maxRead = maxRead;
    sim_ = std::make_unique<sim::SimulatedLine>(options);
    auto device = sim_->Start();
    ASSERT_TRUE(device.ok()) << device.status().message();
  }

  testing::ProcessResult Cli(std::vector<std::string> args, bool withPort = true) {
    return testing::RunCli(dir_ / "home", std::move(args), withPort ? sim_->DevicePath() : "");
  }

  testing::TempDir dir_;
  std::unique_ptr<sim::SimulatedLine> sim_;
};

TEST_F(CliLine, StateShowsWhatTheControllerHolds) {
  Start({4});
  sim_->EditUnit(4, [](sim::UnitState& u) {
    u.currentStep = 3;
    u.stepElapsed = 12;
    u.profileSetPoint = 150;
    u.setValue = -5;
    u.processTemperature = 71;
    u.relay1 = 1;
    u.runMode = 1;
    u.programLowStep = 2;
    u.programHighStep = 10;
  });
  auto state = Cli({"state", "4"});
  ASSERT_EQ(state.exitCode, 0) << state.err;
  EXPECT_EQ(state.out,
            "Unit #4\n"
            "Step:              3\n"
            "Step time:         12\n"
            "Profile set point: 150\n"
            "Set value:         -5\n"
            "Process value:     71\n"
            "Relay 1:           on\n"
            "Relay 2:           off\n"
            "Run mode:          1 S-SV R/S\n"
            "Program limits:    2 to 10\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "home")) << "the line verbs leave the application folder alone";
}

TEST_F(CliLine, StepWritesAndReadsBackAndDownloadListsTheRangeOfAChannel) {
  Start({4});
  auto write = Cli({"step", "4", "64", "2", "-30", "150"});
  ASSERT_EQ(write.exitCode, 0) << write.err;
  EXPECT_EQ(write.out,
            "Step  PIDSet  Duration  Temperature\n"
            "  64       2       -30          150\n");
  auto held = sim_->Unit(4).steps[63];
  EXPECT_EQ(std::tuple(held.pidSet, held.duration, held.temperature), std::tuple(2, -30, 150));

  sim_->EditUnit(4, [](sim::UnitState& u) {
    u.steps[0] = {1, 600, 70};
    u.steps[1] = {1, -1011, 0};
    u.steps[2] = {3, 0, -32768};
  });
  ASSERT_EQ(Cli({"channel", "add", "1", "4", "Kiln"}, false).exitCode, 0);
  auto download = Cli({"download", "1", "1", "3"});
  ASSERT_EQ(download.exitCode, 0) << download.err;
  EXPECT_EQ(download.out,
            "Controller memory range downloaded\n"
            "Step  PIDSet  Duration  Temperature\n"
            "   1       1       600           70\n"
            "   2       1     -1011            0\n"
            "   3       3         0       -32768\n");
}

TEST_F(CliLine, FailuresSayWhatFailedAndExitOneUsageExitsTwoAndSendsNothing) {
  Start({4});
  const std::tuple<std::optional<sim::Fault>, std::vector<std::string>, const char*> failures[] = {
      {std::nullopt, {"state", "9"}, "Reading the program limits of unit #9 failed: no reply\n"},
      {sim::Fault::BadCrc, {"step", "4", "1"}, "Reading step 1 word 1 of unit #4 failed: bad CRC\n"},
      // The word after the step is read before anything is written.
      {sim::Fault::Exception,
       {"step", "4", "5", "1", "2", "3"},
       "Reading step 5 word 3 of unit #4 failed: exception reply; nothing was written\n"},
      {std::nullopt,
       {"--port", "/dev/ttyTarvelNoSuchPort", "scan"},
       "Serial port /dev/ttyTarvelNoSuchPort not installed\n"},
  };
  for (const auto& [fault, args, message] : failures) {
    if (fault) sim_->InjectFault(*fault);
    auto failed = Cli(args, args[0] != "--port");
    EXPECT_EQ(failed.exitCode, 1) << args[0];
    EXPECT_EQ(failed.err, message);
  }

  sim_->ClearRequests();
  for (const auto& args : std::vector<std::vector<std::string>>{{"state"},
                                                                {"state", "0"},
                                                                {"state", "248"},
                                                                {"step", "4", "65"},
                                                                {"step", "4", "1", "1", "2"},
                                                                {"step", "4", "1", "1", "2", "40000"},
                                                                {"scan", "1"}}) {
    auto result = Cli(args);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(args);
    EXPECT_THAT(result.err, HasSubstr("usage: tarvel-cli --port DEVICE")) << ::testing::PrintToString(args);
  }
  auto noPort = Cli({"state", "4"}, false);
  EXPECT_EQ(noPort.exitCode, 2);
  EXPECT_THAT(noPort.err, HasSubstr("usage:"));
  EXPECT_TRUE(sim_->Requests().empty());
}

TEST_F(CliLine, ProgrammingVerbsCompileUploadLogDownloadAndClearAMappedController) {
  Start({4});
  ASSERT_EQ(Cli({"channel", "add", "1", "4", "Kiln"}, false).exitCode, 0);
  const std::string file = (dir_ / "cure.txt").string();
  ASSERT_TRUE(testing::WriteCureProfile(file));

  auto compiled = Cli({"compile", file, "20"}, false);
  EXPECT_EQ(compiled.exitCode, 0) << compiled.err;
  EXPECT_EQ(compiled.out, "20 1 30 70\n21 2 45 250\n22 1 0 250\n");

  auto upload = Cli({"upload", "1", file, "20", "--progression", "PV"});
  ASSERT_EQ(upload.exitCode, 0) << upload.out << upload.err;
  EXPECT_THAT(upload.out, HasSubstr("Read-back matches the compiled profile"));
  auto log = Cli({"log", "1"}, false);
  EXPECT_THAT(log.out,
              HasSubstr("4          cure.txt               20     22    K       F           M           PV\n"));

  auto again = Cli({"upload", "1", file, "30"});
  EXPECT_EQ(again.exitCode, 1) << "an existing name needs --yes";
  EXPECT_THAT(
      again.out,
      HasSubstr(
          "[Existing Profile: cure.txt] WARNING: This will overwrite a profile of same name. Proceed? -> Cancel"));

  EXPECT_EQ(Cli({"clear", "1", "20", "22"}).exitCode, 0);
  EXPECT_EQ(sim_->Unit(4).steps[20].duration, 0);
  auto backwards = Cli({"download", "1", "5", "3"});
  EXPECT_EQ(backwards.exitCode, 2);
  EXPECT_THAT(backwards.err, HasSubstr("FIRST not after LAST"));
  EXPECT_EQ(Cli({"download", "7", "1", "3"}).exitCode, 1) << "channel 7 is not mapped";
}

// Root opens any device, so as root the program runs as nobody: either way the open fails
// with EACCES as it does for a user outside the device's group.
TEST_F(CliLine, PortWithoutPermissionSaysWhichGroupGivesIt) {
  Start({4});
  const std::string device = sim_->DevicePath();
  std::vector<std::pair<int, std::string>> cases = {{0, "dialout"}};
  const struct group* uucp = getgrnam("uucp");
  if (geteuid() == 0 && uucp && chown(device.c_str(), static_cast<uid_t>(-1), uucp->gr_gid) == 0)
    cases.push_back({0060, "uucp"});  // members of the device's group may read and write it
  std::string program = TARVEL_CLI;
  std::vector<std::string> args = {"--port", device, "state", "4"};
  if (geteuid() == 0) {
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", program});
    program = "setpriv";
  }
  for (const auto& [mode, group] : cases) {
    ASSERT_EQ(chmod(device.c_str(), static_cast<mode_t>(mode)), 0);
    auto denied = testing::RunProcess(program, args);
    EXPECT_EQ(denied.exitCode, 1);
    EXPECT_EQ(denied.err, "Serial port " + device + " cannot be opened: Permission denied. Add your user to the " +
                              group + " group: sudo usermod -aG " + group + " $USER, then log out and in\n");
  }
  EXPECT_TRUE(sim_->Requests().empty());
}

// One owner per port: tarvel-cli, root or not, is refused a port another program of ours holds,
// is told which, and leaves that program's hold as it was.
TEST_F(CliLine, APortInUseNamesItsOwnerAndKeepsItsHold) {
  Start({4});
  const std::string device = sim_->DevicePath();
  ASSERT_EQ(chmod(device.c_str(), 0666), 0);  // a user without root may open it, but for the hold
  const int other = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  link::ModbusRtuLine owner;
  ASSERT_TRUE(owner.Open(device).ok());
  const std::string inUse =
      "Serial port " + device + " is in use by link_tests (pid " + std::to_string(getpid()) + ")\n";
  auto [program, args] = testing::AsUser(TARVEL_CLI, {"--port", device, "state", "4"});
  for (const auto& run : {Cli({"state", "4"}), testing::RunProcess(program, args)}) {
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, inUse);
  }
  int held = -1;
  EXPECT_EQ(ioctl(other, TIOCGEXCL, &held), 0);
  EXPECT_EQ(held, 1) << "the owner's hold";
  EXPECT_TRUE(sim_->Requests().empty());
  ::close(other);
}

// The watch reopens a port that went away, by its path, once it is back; one that stays away
// ends the watch with a failure, so that the service manager starts it anew.
TEST_F(CliLine, AWatchReopensALostPortAndEndsWhenItStaysAway) {
  Start({4});
  ASSERT_EQ(Cli({"channel", "add", "1", "4", "Kiln"}, false).exitCode, 0);
  const auto port = dir_ / "line";
  std::filesystem::create_symlink(sim_->DevicePath(), port);
  testing::Spawned watch;
  ASSERT_TRUE(watch.Start({TARVEL_CLI, "--home", (dir_ / "home").string(), "--port", port.string(), "watch", "--every",
                           "1", "--reopen-for", "3"},
                          true));
  ASSERT_TRUE(watch.WaitFor("ch 1 Kiln @4  idle"));
  sim_.reset();  // the adapter is pulled out
  ASSERT_TRUE(watch.WaitFor("Serial port " + port.string() + " lost, reopening"));
  Start({4});  // and put back, as another device the path leads to
  std::filesystem::remove(port);
  std::filesystem::create_symlink(sim_->DevicePath(), port);
  ASSERT_TRUE(watch.WaitFor("Serial port " + port.string() + " reopened after"));
  ASSERT_TRUE(watch.WaitFor("ch 1 Kiln @4  idle"));
  sim_.reset();
  std::filesystem::remove(port);
  ASSERT_TRUE(watch.WaitFor("Serial port " + port.string() + " did not come back within 3 s: giving up"));
  EXPECT_EQ(watch.Wait(), 1);
  const auto lost = std::count_if(watch.Lines().begin(), watch.Lines().end(),
                                  [](const std::string& line) { return line.find(" lost,") != std::string::npos; });
  EXPECT_EQ(lost, 2) << "said once each time";
}

}  // namespace
}  // namespace tarvel
