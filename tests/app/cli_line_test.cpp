// tarvel-cli's line verbs (state, step, download, programming, scan, address, port, record,
// log-export, watch) against a simulated line served from this test process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <tuple>

#include <SQLiteCpp/SQLiteCpp.h>

#include "link/modbus_rtu_line.h"
#include "support/cli_line.h"
#include "support/processes.h"
#include "support/profiles.h"
#include "support/unprivileged.h"

namespace tarvel {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

using testing::CliLine;

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
  EXPECT_FALSE(std::filesystem::exists(home_.Root())) << "the line verbs leave the application folder alone";
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
  for (const char* line :
       {"state", "state 0", "state 248", "step 4 65", "step 4 1 1 2", "step 4 1 1 2 40000", "scan 1"}) {
    const auto args = testing::Args(line);
    auto result = Cli(args);
    EXPECT_EQ(result.exitCode, 2) << line;
    EXPECT_THAT(result.err, HasSubstr("usage: tarvel-cli --port DEVICE")) << line;
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

TEST_F(CliLine, ScanListsAndMapsTheUnitsAddressMovesOneAndPortUseStoresTheDevice) {
  Start(testing::QuickLine({1, 2, 5}));
  auto listed = Cli({"scan"});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_THAT(listed.out, ::testing::StartsWith("Unit #1 Detected\nUnit #2 Detected\nUnit #3 Not Found\n"));
  EXPECT_THAT(listed.out, EndsWith("Unit #64 Not Found\nScan finished\n3 Found\n"
                                   "Following ModBus Addresses Detected:  1 2 5\n"));
  auto scan = Cli({"scan", "--add"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_THAT(scan.out, HasSubstr("Unit #2 Detected : ModBus address added to Channel Map\nUnit #3 Not Found\n"));
  EXPECT_TRUE(fs::is_directory(home_.Root() / "LogFiles" / "Channel-03"));
  SQLite::Database db(home_.ConfigDatabase().string());
  EXPECT_EQ(db.execAndGet("SELECT count(*) FROM ControllerMemory WHERE Unknown = 0 AND Modified = 0 AND Duration = 0 "
                          "AND Temperature = 0 AND PIDSet = 0")
                .getInt(),
            3 * 64)
      << "new addresses get their zeroed rows, not marks of writes that never were";

  auto moved = Cli({"address", "5", "9"});
  EXPECT_EQ(moved.exitCode, 0) << moved.err;
  EXPECT_EQ(moved.out, "Unit at 5 set to new address at 9\nChannel 3 moved to ModBusAddress=9\n");
  auto refused = Cli({"address", "1", "2"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_THAT(refused.out, HasSubstr("Target address is already in the channel map\n"));
  EXPECT_THAT(Cli({"channels"}, false).out, HasSubstr("3       9        Default3                set64rs\n"));
  EXPECT_TRUE(sim_->HasUnit(9));

  const std::string port = sim_->DevicePath();
  auto use = Cli({"port", "use", port}, false);
  EXPECT_EQ(use.exitCode, 0) << use.err;
  EXPECT_THAT(use.out, HasSubstr("Serial Port Number set to #"));
  EXPECT_THAT(use.out, EndsWith(" - " + port + "\n"));
  auto gone = Cli({"port", "use", (dir_ / "unplugged").string()}, false);
  EXPECT_EQ(gone.exitCode, 1);
  EXPECT_EQ(gone.out, "Serial port " + (dir_ / "unplugged").string() + " not installed\n");
  EXPECT_EQ(Cli({"port", "use", "21"}, false).exitCode, 2);
  EXPECT_EQ(Cli({"address", "1", "2"}, false).exitCode, 2);  // no --port
}

// The log file a run leaves, as bytes and as a spreadsheet reads it.
TEST_F(CliLine, RecordsReadingsToTheChannelsLogFolderAndExportsThemAsCsv) {
  Start({3});
  sim_->EditUnit(3, [](sim::UnitState& u) {
    u.setValue = 180;
    u.processTemperature = 171.4;
  });
  ASSERT_EQ(Cli({"channel", "add", "7", "3", "Oven"}, false).exitCode, 0);

  sim_->InjectFault(sim::Fault::NoReply, 1);  // the first reading fails and leaves no record
  auto run = Cli({"--no-block-reads", "record", "7", "--every", "0", "--count", "4"});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_THAT(run.out, HasSubstr("ERROR: Commmunications error"));
  EXPECT_THAT(run.out,
              HasSubstr("Recorded 3 of 4 readings to " + home_.Root().string() + "/LogFiles/Channel-07/No profile "));
  for (const auto& frame : sim_->Requests())  // --no-block-reads: never more than two registers
    EXPECT_LE(frame.at(4) << 8 | frame.at(5), 2);

  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(home_.Root() / "LogFiles" / "Channel-07")) files.push_back(entry);
  ASSERT_EQ(files.size(), 1u);
  // No executing profile: minutes since the start, a few hundredths at most on this line.
  const std::string record = "  180  171\r\n";
  const std::string bytes = testing::ReadAll(files[0]);
  ASSERT_EQ(bytes.size(), 3 * (9 + record.size())) << bytes;
  for (std::size_t at = 0; at < bytes.size(); at += 9 + record.size()) {
    EXPECT_TRUE(bytes.substr(at, 8) == "     0.0" && bytes[at + 8] >= '0' && bytes[at + 8] <= '9') << bytes;
    EXPECT_EQ(bytes.substr(at + 9, record.size()), record);
  }

  auto csv = Cli({"log-export", files[0].string()}, false);
  EXPECT_EQ(csv.exitCode, 0) << csv.err;
  EXPECT_THAT(csv.out, ::testing::MatchesRegex("Time,Set Point,Process Value\n(0(\\.0[0-9])?,180,171\n){3}"));

  EXPECT_EQ(Cli({"record", "7", "--every", "soon", "--count", "2"}).exitCode, 2);
  EXPECT_EQ(Cli({"log-export", (dir_ / "none.log").string()}, false).exitCode, 1);
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

// One owner per port: tarvel-cli, root or not, is refused a port another program of ours holds and
// is told which (that the refused open leaves the owner's hold is the line's own test).
TEST_F(CliLine, APortInUseNamesItsOwner) {
  Start({4});
  const std::string device = sim_->DevicePath();
  ASSERT_EQ(chmod(device.c_str(), 0666), 0);  // a user without root may open it, but for the hold
  link::ModbusRtuLine owner;
  ASSERT_TRUE(owner.Open(device).ok());
  const std::string inUse =
      "Serial port " + device + " is in use by link_tests (pid " + std::to_string(getpid()) + ")\n";
  auto [program, args] = testing::AsUser(TARVEL_CLI, {"--port", device, "state", "4"});
  for (const auto& run : {Cli({"state", "4"}), testing::RunProcess(program, args)}) {
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, inUse);
  }
  EXPECT_TRUE(sim_->Requests().empty());
}

// The watch reopens a port that went away, by its path, once it is back; one that stays away
// ends the watch with a failure, so that the service manager starts it anew.
TEST_F(CliLine, AWatchReopensALostPortAndEndsWhenItStaysAway) {
  Start({4});
  ASSERT_EQ(Cli({"channel", "add", "1", "4", "Kiln"}, false).exitCode, 0);
  const auto port = dir_ / "line";
  std::filesystem::create_symlink(sim_->DevicePath(), port);
  testing::Spawned watch;
  ASSERT_TRUE(watch.Start({TARVEL_CLI, "--home", home_.Root().string(), "--port", port.string(), "watch", "--every",
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
