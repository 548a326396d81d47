// The port set-up over pseudo-terminals and device paths that are not there.
#include <gmock/gmock.h>

#include "console/port_setup.h"
#include "link/commands.h"
#include "support/console_fixture.h"
#include "tool_views.h"

namespace tarvel::console {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// The console's line is on the kiln's line (unit 1) already, by its own path.
class PortSetupTest : public ConsoleFixture {
 protected:
  PortSetupTest() : ConsoleFixture({1}) {
    EXPECT_TRUE(oven_.Start().ok());
    fs::create_directories(dev_);
    fs::create_symlink(sim_.DevicePath(), dev_ / "ttyUSB0");
    fs::create_symlink(oven_.DevicePath(), dev_ / "ttyUSB1");
    fs::create_symlink(dir_ / "unplugged", dev_ / "ttyUSB2");
    testing::WriteAll(dev_ / "ttyACM0", "");  // a file where a device should be
  }
  std::string Dev(const char* name) const { return (dev_ / name).string(); }

  fs::path dev_ = dir_ / "dev";
  sim::SimulatedLine oven_{testing::QuickLine({9})};
  RecordingPortView portView_;
  PortSetup setup_{store_, line_, portView_, {dev_, dir_ / "sys", dir_ / "published"}};
};

TEST_F(PortSetupTest, ScanNamesEachPortsStateAndLeavesTheLineWhereItWas) {
  setup_.Load();
  EXPECT_EQ(portView_.number, 1);  // the line's device, by its link
  EXPECT_EQ(portView_.device, Dev("ttyUSB0"));
  EXPECT_THAT(portView_.messages, ::testing::StartsWith("Instructions:\r\n"));

  setup_.SerialPortScan();
  EXPECT_EQ(portView_.messages,
            "Scanning Serial Port # Range\r\n-----------------------------------\r\n"
            "Serial Port #01 Port seen > Device seen on this comm port - " +
                Dev("ttyUSB0") +
                "\r\n"
                "Serial Port #02 Port seen > no controller seen on it - " +
                Dev("ttyUSB1") +
                "\r\n"
                "Serial port #03 not installed - " +
                Dev("ttyUSB2") +
                "\r\n"
                "Serial port #04 cannot be opened: not a serial device - " +
                Dev("ttyACM0") +
                "\r\n"
                "\r\nScan finished\r\n");
  EXPECT_EQ(line_.DevicePath(), sim_.DevicePath());
  EXPECT_TRUE(line_.IsOpen());

  // A unit the channel map knows counts as a controller, wherever its address.
  ASSERT_TRUE(store_.AddChannel({1, 9, "Oven", "set64rs"}));
  auto ports = setup_.SerialPortScan();
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_EQ(DescribeState(ports[1]), "controller found");
  EXPECT_EQ(DescribeState(ports[2]), "not installed");
}

TEST_F(PortSetupTest, UseThisSettingReopensTheLineAndStoresNumberAndDeviceForTheNextStart) {
  setup_.Load();
  for (int i = 0; i < 3; ++i) setup_.DecrementPort();
  EXPECT_EQ(portView_.number, 1);
  for (int i = 0; i < 25; ++i) setup_.IncrementPort();
  EXPECT_EQ(portView_.number, 20);
  EXPECT_FALSE(setup_.UseThisSetting());  // no device has number 20: nothing stored
  EXPECT_THAT(portView_.messages, HasSubstr("Serial port #20 not installed\r\n"));
  EXPECT_EQ(store_.GetCommPortNumber(), -1);

  ASSERT_TRUE(setup_.SelectPort(2));
  EXPECT_TRUE(setup_.UseThisSetting());
  EXPECT_THAT(portView_.messages, HasSubstr("Serial Port Number set to #2 - " + Dev("ttyUSB1") + "\r\n"));
  EXPECT_EQ(link::CommandSet(line_).ReadProcessValue(9).outcome, link::Outcome::Ok);
  auto row = store_.Port();
  ASSERT_TRUE(row.ok() && row->has_value());
  EXPECT_EQ((*row)->commPortNumber, 2);
  EXPECT_EQ((*row)->devicePath, Dev("ttyUSB1"));
  EXPECT_EQ((*row)->rate, 9600);
  EXPECT_EQ((*row)->parity, "N");

  // The next start opens the stored device without being told, once this one let it go.
  line_.Close();
  link::ModbusRtuLine next;
  auto opened = OpenStoredPort(store_, next);
  ASSERT_TRUE(opened && opened->ok());
  EXPECT_EQ(link::CommandSet(next).ReadProcessValue(9).outcome, link::Outcome::Ok);
  next.Close();

  // The adapter unplugged: the start names the device.
  fs::remove(dev_ / "ttyUSB1");
  opened = OpenStoredPort(store_, next);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->outcome, link::OpenOutcome::NotInstalled);
  EXPECT_EQ(opened->message, "Serial port " + Dev("ttyUSB1") + " not installed");

  // A device that cannot be opened is said so, and the choice is kept for the next start.
  setup_.SelectDevice(Dev("ttyACM0"));
  EXPECT_FALSE(setup_.UseThisSetting());
  EXPECT_THAT(portView_.messages,
              HasSubstr("Serial port " + Dev("ttyACM0") + " cannot be opened: not a serial device\r\n"));
  EXPECT_EQ(store_.Port()->value().devicePath, Dev("ttyACM0"));
}

TEST_F(PortSetupTest, TheSimulatedLineIsUsedButNeverStoredAndAStoredPseudoTerminalIsNotReopened) {
  // tarvel --simulate: the line is the built-in simulator's pseudo-terminal.
  PortSetup simulated{store_, line_, portView_, {dev_, dir_ / "sys", dir_ / "published"}};
  simulated.SetSimulatedDevice(sim_.DevicePath());
  simulated.Load();
  ASSERT_FALSE(portView_.ports.empty());
  simulated.SelectDevice(sim_.DevicePath());
  EXPECT_TRUE(simulated.UseThisSetting());
  EXPECT_THAT(portView_.messages,
              HasSubstr("The simulated line " + sim_.DevicePath() +
                        " is not stored as the port setting: it exists "
                        "only while this program runs, and another program may hold that name later\r\n"));
  EXPECT_EQ(store_.GetCommPortNumber(), -1);
  EXPECT_TRUE(line_.IsOpen());

  // A pseudo-terminal stored earlier is opened at a plain start only while a simulator publishes it.
  store::PortRow row;
  row.commPortNumber = 1;
  row.devicePath = oven_.DevicePath();
  ASSERT_TRUE(store_.SavePortSettings(row));
  link::ModbusRtuLine next;
  auto opened = OpenStoredPort(store_, next, {dev_, dir_ / "sys", dir_ / "published"});
  ASSERT_TRUE(opened);
  EXPECT_FALSE(opened->ok());
  EXPECT_FALSE(next.IsOpen()) << "whatever now holds that name is left alone";
  EXPECT_EQ(opened->message, "The stored port " + oven_.DevicePath() +
                                 " is a pseudo-terminal no running simulator publishes; it was not opened, since "
                                 "another program may hold it now");
}

TEST_F(PortSetupTest, ThePortListShowsEveryPortWithWhatTheScanFound) {
  setup_.Load();
  ASSERT_EQ(portView_.ports.size(), 4u);
  EXPECT_EQ(portView_.ports[2].device, Dev("ttyUSB2"));
  setup_.SerialPortScan();
  ASSERT_EQ(portView_.ports.size(), 4u);
  EXPECT_EQ(DescribeState(portView_.ports[0]), "controller found");
  EXPECT_EQ(DescribeState(portView_.ports[2]), "not installed");
  EXPECT_EQ(PortListText(portView_.ports[0]), "01  " + Dev("ttyUSB0") + "  controller found");
  EXPECT_EQ(PortListText(portView_.ports[3]), "04  " + Dev("ttyACM0") + "  cannot be opened: not a serial device");
}

}  // namespace
}  // namespace tarvel::console
