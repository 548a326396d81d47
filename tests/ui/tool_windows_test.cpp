// The port set-up and channel map windows as a user meets them, sharing the console's
// command runner: widgets found by name, what they read, what reaches the line.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTableWidget>

#include <gmock/gmock.h>

#include "console/channel_map.h"
#include "console/console.h"
#include "console/port_setup.h"
#include "ui/channel_map_window.h"
#include "ui/console_window.h"
#include "ui/port_setup_window.h"
#include "window_fixture.h"

namespace tarvel::ui {
namespace {

using ::testing::HasSubstr;

class ToolWindows : public WindowFixture {
 protected:
  ToolWindows() {
    std::filesystem::create_directories(dir_ / "dev");
    std::filesystem::create_symlink(sim_.DevicePath(), dir_ / "dev" / "ttyUSB0");
  }
};

TEST_F(ToolWindows, PortSetupScansSelectsAndStoresThePort) {
  std::filesystem::create_symlink(dir_ / "unplugged", dir_ / "dev" / "ttyUSB1");
  PortSetupWindow window(runner_);
  console::PortSetup setup(store_, line_, window, {dir_ / "dev", dir_ / "sys", dir_ / "published"});
  window.Bind(setup);
  const std::string served = (dir_ / "dev" / "ttyUSB1").string();
  window.SetServedPorts([served] { return std::vector<std::string>{served}; });
  window.show();
  Idle();
  EXPECT_EQ(Find<QLabel>(window, "CommServedPorts")->text().toStdString(),
            "The line service of this home serves " + served);
  auto* prompt = Find<QPlainTextEdit>(window, "SerialPortPrompt");
  EXPECT_TRUE(prompt->toPlainText().startsWith("Instructions:\n"));
  EXPECT_EQ(Find<QLabel>(window, "CommPortNumber")->text(), "1");
  Click(window, "IncrPortNum");
  EXPECT_EQ(Find<QLabel>(window, "CommPortNumber")->text(), "2");
  Click(window, "DecrPortNumber");

  Click(window, "ScanPortNumber");
  EXPECT_THAT(
      prompt->toPlainText().toStdString(),
      HasSubstr("Serial Port #01 Port seen > Device seen on this comm port - " + (dir_ / "dev" / "ttyUSB0").string()));
  EXPECT_EQ(Find<QProgressBar>(window, "PortScanProgress")->text(), "") << "idle once the scan ended";
  ExpectLaidOut(window,
                Names("ScanPortNumber CancelPortScan PortScanProgress CommPortList CommDisplayLabel "
                      "CommPortNumber DecrPortNumber IncrPortNum SavePortSettings SerialPortPrompt ClearSerialPrompt"));

  // The ports in a list: one click chooses one, as many clicks on ">" would.
  auto* list = Find<QListWidget>(window, "CommPortList");
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(0)->text().toStdString(), "01  " + (dir_ / "dev" / "ttyUSB0").string() + "  controller found");
  EXPECT_THAT(list->item(1)->text().toStdString(), ::testing::EndsWith("  (line service)"))
      << "marked after a scan too";
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
  Idle();
  EXPECT_EQ(Find<QLabel>(window, "CommPortNumber")->text(), "2");
  EXPECT_EQ(Find<QLabel>(window, "CommPortDevice")->text().toStdString(), (dir_ / "dev" / "ttyUSB1").string());
  Click(window, "DecrPortNumber");
  EXPECT_EQ(list->currentRow(), 0) << "the list follows < and >";
  Click(window, "SavePortSettings");
  EXPECT_EQ(store_.GetCommPortNumber(), 1);
  EXPECT_EQ(store_.Port()->value().devicePath, (dir_ / "dev" / "ttyUSB0").string());
}

// The channel map beside the console, as the program builds it: rows added, typed into and
// deleted; a scan that holds the line from every window; the console following on return.
TEST_F(ToolWindows, ChannelMapEditsItsRowsScansAndTheConsoleFollowsWhenTheUserReturns) {
  ASSERT_TRUE(store_.SavePortSettings({}));
  ConsoleWindow console(WindowOptions{true, "/dev/pts/test", {}, {}}, runner_);
  console::Console consoleRoom(folder_, store_, line_, console.View(), console::LineInfo{true, true});
  ChannelMapWindow map(runner_, &console);
  map.setWindowFlag(Qt::Window);
  console::ChannelMap mapRoom(folder_, store_, line_, map);
  map.Bind(mapRoom);
  console.AddToolWindow("mnuChannelMap", &map);
  StopRunner stop{runner_};  // before the rooms go, whatever the test's outcome
  console.show();
  console.Start(consoleRoom);
  Idle();
  Find<QAction>(console, "mnuChannelMap")->trigger();
  Idle();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&map));
  ExpectLaidOut(map,
                Names("fgChannelMap AddRowButton DeleteRowButton ClearMapButton DBInterfaceDisplay ScanAddressesButton "
                      "AddNewUponScan RemoveMissingUponScan CancelScanButton ScanProgress CurrentAddressDisplay "
                      "NewAddressDisplay ChangeUnitAddressButton"));
  auto* prompt = Find<QPlainTextEdit>(map, "DBInterfaceDisplay");
  EXPECT_EQ(prompt->toPlainText().count("Serial Port configuration retrieved from database"), 1);
  map.activateWindow();  // opening is also an activation: its lines show once
  Idle();
  EXPECT_EQ(prompt->toPlainText().count("Serial Port configuration retrieved from database"), 1);

  auto* grid = Find<QTableWidget>(map, "fgChannelMap");
  Click(map, "AddRowButton");
  Click(map, "AddRowButton");
  ASSERT_EQ(grid->rowCount(), 2);
  EXPECT_EQ(grid->item(1, 2)->text(), "2");
  EXPECT_EQ(grid->item(1, 3)->text(), "Default2");

  // The floating editor: what is typed into a cell replaces its value (channel 2 becomes 7, not
  // 27); a channel that is not a whole number is refused, with the reason, and the box stays open.
  auto* editor = Find<QLineEdit>(map, "FloatingTextBox");
  auto type = [&](int row, int column, const QString& text, bool clear = false) {
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->visualRect(grid->model()->index(row, column)).center());
    Idle();
    if (clear) editor->clear();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    Idle();
  };
  type(1, 1, "7");
  EXPECT_EQ(grid->item(1, 1)->text(), "7");
  type(1, 1, "2.7");
  EXPECT_TRUE(prompt->toPlainText().endsWith("Error: SoftwareChannel must be a whole number\n"));
  EXPECT_TRUE(editor->isVisible());
  EXPECT_EQ(grid->item(1, 1)->text(), "7");

  // The port column: a device is stored as typed; a blank one (the console's port) is allowed.
  EXPECT_EQ(grid->horizontalHeaderItem(5)->text(), "Port");
  for (const std::string port : {"/dev/ttyUSB3", ""}) {
    type(1, 5, QString::fromStdString(port), true);
    EXPECT_FALSE(editor->isVisible()) << port;
    EXPECT_EQ(grid->item(1, 5)->text().toStdString(), port);
    EXPECT_EQ(store_.ChannelByNumber(7)->value().port, port);
    EXPECT_EQ(store_.ChannelByNumber(7)->value().nickName, "Default2") << "the other fields kept";
  }

  grid->setCurrentCell(0, 3);
  Click(map, "DeleteRowButton");
  ASSERT_FALSE(boxes_.Seen().empty());
  EXPECT_EQ(boxes_.Seen().back().first, "Delete Row");  // its wording is the channel map's test
  EXPECT_EQ(grid->rowCount(), 1);

  // A scan finds unit 1 again. While it has the line, no window can start another command.
  sim_.ClearRequests();
  Find<QCheckBox>(map, "AddNewUponScan")->setChecked(true);
  Click(map, "ScanAddressesButton", false);
  EXPECT_FALSE(Find<QPushButton>(map, "ScanAddressesButton")->isEnabled());
  EXPECT_FALSE(Find<QAction>(console, "mnuReadRunState")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>(map, "CancelScanButton")->isEnabled());
  Find<QAction>(console, "mnuReadRunState")->trigger();
  Idle();
  for (const auto& frame : sim_.Requests()) {
    EXPECT_EQ(frame[1], 0x03);
    EXPECT_EQ(frame[3], 0x64);  // process value: nothing but the scan's probes
  }
  // The scan's report and its new row show; what the scan asks and writes is the channel map's test.
  EXPECT_TRUE(prompt->toPlainText().contains("Scan finished\n"));
  EXPECT_EQ(Find<QProgressBar>(map, "ScanProgress")->text(), "");
  ASSERT_EQ(grid->rowCount(), 2);
  const QString found = grid->item(1, 3)->text();

  // Back in the console, its activation runs again and lists the new channel.
  console.activateWindow();
  auto* nickNames = Find<QComboBox>(console, "ChannelNickNameDisplay");
  ASSERT_TRUE(QTest::qWaitFor([&] { return nickNames->count() == 2; }, 10000));
  EXPECT_EQ(nickNames->itemText(1), found);
}

}  // namespace
}  // namespace tarvel::ui
