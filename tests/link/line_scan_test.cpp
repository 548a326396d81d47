// The line scan on the simulator, and the serial ports a port set-up lists.
#include <gmock/gmock.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include "link/line_scan.h"
#include "link/serial_ports.h"
#include "sim_fixture.h"
#include "support/temp_dir.h"

extern char** environ;

namespace tarvel::link {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;

class LineScan : public testing::SimLineTest {};

// The addresses of the frames the simulator received, in order.
std::vector<int> Probed(const std::vector<Bytes>& requests) {
  std::vector<int> addresses;
  for (const Bytes& frame : requests) {
    EXPECT_EQ(Bytes(frame.begin() + 1, frame.begin() + 6), (Bytes{0x03, 0x01, 0x64, 0x00, 0x02}));  // process value
    addresses.push_back(frame[0]);
  }
  return addresses;
}

TEST_F(LineScan, ProbesEachAddressOnceFindsExactlyTheUnitsAndKeepsTheLinesWindow) {
  StartLine(testing::QuickLine({2, 5, 9}), 200ms);
  std::vector<int> shown;
  ScanResult scan = ScanLine(line_, 1, 12, [&](const Probe& p) { shown.push_back(p.address); });
  EXPECT_EQ(scan.Found(), (std::vector<std::uint8_t>{2, 5, 9}));
  EXPECT_EQ(shown, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_FALSE(scan.cancelled);
  EXPECT_EQ(scan.portFailure, Outcome::Ok);
  EXPECT_EQ(Probed(TakeRequests()), shown);
  EXPECT_EQ(line_.Timing().firstByte, 200ms);
}

// A unit slower than the probe window answers into the quiet wait after it, or, slower
// still, into the next address's exchange: either way it is asked again with the whole window
// and found; silent addresses are asked once.
TEST_F(LineScan, AUnitThatAnswersLateIsProbedAgainWithTheNormalWindow) {
  StartLine(testing::QuickLine({3}), 250ms);
  for (auto turnaround : {65ms, 140ms}) {  // first byte some 77 and 152 ms after the request
    Sim().SetTurnaround(turnaround);
    std::vector<int> shown;
    ScanResult scan = ScanLine(
        line_, 1, 5, [&](const Probe& p) { shown.push_back(p.address); }, nullptr, 60ms);
    EXPECT_EQ(scan.Found(), (std::vector<std::uint8_t>{3})) << turnaround.count();
    EXPECT_EQ(shown, (std::vector<int>{1, 2, 3, 4, 5}));
  }
}

TEST_F(LineScan, StopsBetweenTwoAddressesWhenCancelledAndOnAClosedPort) {
  StartLine(testing::QuickLine({1}), 100ms);
  std::atomic<bool> cancel{false};
  ScanResult scan = ScanLine(
      line_, 1, 64, [&](const Probe& p) { cancel = p.address == 3; }, &cancel);
  EXPECT_TRUE(scan.cancelled);
  // An address is reported once the next one has been asked: the scan stops before the 5th.
  EXPECT_EQ(scan.probes.size(), 4u);
  EXPECT_EQ(Probed(TakeRequests()), (std::vector<int>{1, 2, 3, 4}));

  line_.Close();
  scan = ScanLine(line_, 1, 64, nullptr);
  EXPECT_EQ(scan.portFailure, Outcome::PortClosed);
  EXPECT_TRUE(scan.probes.empty());
}

long DeadPid() {
  pid_t pid = 0;
  char arg0[] = "/bin/true";
  char* argv[] = {arg0, nullptr};
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) return 0;
  waitpid(pid, nullptr, 0);
  return pid;
}

TEST(SerialPorts, ListsAdaptersOnceInAStableOrderAndOnlyTheSimulatorsThatRun) {
  tarvel::testing::TempDir dir;
  const auto dev = dir / "dev";
  const auto sys = dir / "sys";
  const auto published = dir / "published";
  for (const auto& folder : {dev / "serial" / "by-id", sys / "ttyS0", sys / "ttyS1", published})
    std::filesystem::create_directories(folder);
  for (const char* name : {"ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS0", "ttyS1", "ttyUSBx", "tty1"})
    tarvel::testing::WriteAll(dev / name, "");
  std::filesystem::create_symlink("../../ttyUSB2", dev / "serial" / "by-id" / "usb-FTDI_RS485-if00");
  tarvel::testing::WriteAll(sys / "ttyS0" / "type", "0\n");  // a ttyS node with no UART
  tarvel::testing::WriteAll(sys / "ttyS1" / "type", "4\n");
  std::filesystem::create_symlink("/dev/null", published / PublishedLineName(getpid()));
  std::filesystem::create_symlink("/dev/null", published / PublishedLineName(DeadPid()));
  std::filesystem::create_symlink("/nonexistent/pts/99", published / PublishedLineName(getppid()));

  EXPECT_EQ(ListSerialPorts({dev, sys, published}),
            (std::vector<std::string>{(dev / "serial" / "by-id" / "usb-FTDI_RS485-if00").string(),
                                      (dev / "ttyUSB10").string(), (dev / "ttyACM0").string(), (dev / "ttyS1").string(),
                                      (published / PublishedLineName(getpid())).string()}));
}

}  // namespace
}  // namespace tarvel::link
