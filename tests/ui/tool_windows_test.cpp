// The port set-up and channel map windows as a user meets them, sharing the console's
// command runner: widgets found by name, what they read, what reaches the line.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>

#include <set>

#include "console/channel_map.h"
#include "console/console.h"
#include "console/port_setup.h"
#include "link/modbus_rtu_line.h"
#include "sim/simulated_line.h"
#include "store/home.h"
#include "support/sim_line.h"
#include "support/temp_dir.h"
#include "ui/channel_map_window.h"
#include "ui/console_window.h"
#include "ui/port_setup_window.h"

namespace tarvel::ui {
namespace {

using ::testing::HasSubstr;

struct StopRunner {
  CommandRunner& runner;
  ~StopRunner() { runner.Shutdown(); }
};

class ToolWindows : public ::testing::Test {
 protected:
  ToolWindows() {
    EXPECT_TRUE(sim_.Start().ok());
    EXPECT_TRUE(line_.Open(sim_.DevicePath()).ok());
    std::filesystem::create_directories(dir_ / "dev");
    std::filesystem::create_symlink(sim_.DevicePath(), dir_ / "dev" / "ttyUSB0");
    // Any box a test did not expect is answered, so it cannot hang the run.
    QObject::connect(&boxes_, &QTimer::timeout, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->button(QMessageBox::Ok)->click();
    });
    boxes_.start(10);
  }
  ~ToolWindows() override { runner_.Shutdown(); }

  void Idle() {
    ASSERT_TRUE(QTest::qWaitFor([this] { return !runner_.Busy(); }, 15000));
    QCoreApplication::processEvents();
  }
  template <class T>
  static T* Find(QWidget& window, const char* name) {
    T* widget = window.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  static void Click(QWidget& window, const char* name) {
    QTest::mouseClick(Find<QPushButton>(window, name), Qt::LeftButton);
  }

  QTimer boxes_;
  tarvel::testing::TempDir dir_;
  AppFolder folder_{dir_ / "home"};
  store::HomeReport home_ = store::PrepareHome(folder_);
  store::ConfigStore store_{folder_.ConfigDatabase()};
  sim::SimulatedLine sim_{tarvel::testing::QuickLine({1, 2})};
  link::ModbusRtuLine line_;
  CommandRunner runner_;
};

TEST_F(ToolWindows, PortSetupScansSelectsAndStoresThePort) {
  PortSetupWindow window(runner_);
  console::PortSetup setup(store_, line_, window, {dir_ / "dev", dir_ / "sys", dir_ / "published"});
  window.Bind(setup);
  window.show();
  Idle();
  auto* prompt = Find<QPlainTextEdit>(window, "SerialPortPrompt");
  EXPECT_TRUE(prompt->toPlainText().startsWith("Instructions:\n"));
  EXPECT_EQ(Find<QLabel>(window, "CommPortNumber")->text(), "1");
  Click(window, "IncrPortNum");
  QCoreApplication::processEvents();
  EXPECT_EQ(Find<QLabel>(window, "CommPortNumber")->text(), "2");
  Click(window, "DecrPortNumber");

  Click(window, "ScanPortNumber");
  Idle();
  EXPECT_THAT(prompt->toPlainText().toStdString(),
              HasSubstr("Serial Port #01 Port seen > Device seen on this comm port - " + (dir_ / "dev" / "ttyUSB0").string()));
  Click(window, "SavePortSettings");
  Idle();
  EXPECT_EQ(store_.GetCommPortNumber(), 1);
  EXPECT_EQ(store_.Port()->value().devicePath, (dir_ / "dev" / "ttyUSB0").string());
}

TEST_F(ToolWindows, AScanFromTheChannelMapHoldsTheLineAndTheConsoleFollowsWhenTheUserReturns) {
  ASSERT_TRUE(store_.AddChannel({1, 1, "Kiln", "set64rs"}));
  ConsoleWindow console(WindowOptions{true, "/dev/pts/test"}, runner_);
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
  EXPECT_EQ(Find<QComboBox>(console, "ProfileChannelNumberDisplay")->count(), 1);

  Find<QAction>(console, "mnuChannelMap")->trigger();
  Idle();
  EXPECT_TRUE(map.isVisible());
  EXPECT_TRUE(QTest::qWaitForWindowActive(&map));

  sim_.ClearRequests();
  Find<QCheckBox>(map, "AddNewUponScan")->setChecked(true);
  Click(map, "ScanAddressesButton");
  // While the scan has the line, no window can start another command.
  EXPECT_FALSE(Find<QPushButton>(map, "ScanAddressesButton")->isEnabled());
  EXPECT_FALSE(Find<QAction>(console, "mnuReadRunState")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>(map, "CancelScanButton")->isEnabled());
  Find<QAction>(console, "mnuReadRunState")->trigger();
  Idle();
  std::set<int> probed;
  for (const auto& frame : sim_.Requests()) {
    EXPECT_EQ(frame[1], 0x03);
    EXPECT_EQ(frame[3], 0x64);  // process value: nothing but the scan's probes
    probed.insert(frame[0]);
  }
  EXPECT_EQ(probed.size(), 64u);

  auto* grid = Find<QTableWidget>(map, "fgChannelMap");
  ASSERT_EQ(grid->rowCount(), 2);
  EXPECT_EQ(grid->item(1, 3)->text(), "Default2");
  EXPECT_TRUE(std::filesystem::is_directory(folder_.LogFiles() / "Channel-02"));

  // The floating editor: a click on a cell, a new nickname, Enter.
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(1, 3)).center());
  auto* editor = Find<QLineEdit>(map, "FloatingTextBox");
  ASSERT_TRUE(editor->isVisible());
  EXPECT_EQ(editor->text(), "Default2");
  editor->setText("Oven");
  QTest::keyClick(editor, Qt::Key_Return);
  Idle();
  EXPECT_EQ(grid->item(1, 3)->text(), "Oven");
  EXPECT_FALSE(editor->isVisible());

  // Back in the console, its activation runs again and lists the new channel.
  console.activateWindow();
  auto* nickNames = Find<QComboBox>(console, "ChannelNickNameDisplay");
  ASSERT_TRUE(QTest::qWaitFor([&] { return nickNames->count() == 2; }, 10000));
  EXPECT_EQ(nickNames->itemText(1), "Oven");
}

}  // namespace
}  // namespace tarvel::ui
