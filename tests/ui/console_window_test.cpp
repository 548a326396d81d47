// The console window as a user meets it: widgets found by name, boxes answered, what they read.
#include <QAction>
#include <QCategoryAxis>
#include <QComboBox>
#include <QDockWidget>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTableWidget>
#include <QValueAxis>

#include <gmock/gmock.h>

#include "console/console.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "support/console_fixture.h"
#include "support/profiles.h"
#include "support/reading_frames.h"
#include "support/run_process.h"
#include "ui/chart_view.h"
#include "ui/console_window.h"
#include "ui/line_watch_binding.h"
#include "ui/loads_binding.h"
#include "ui/trend_view.h"
#include "ui/window_placement.h"
#include "window_fixture.h"

namespace tarvel::ui {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

class ConsoleWindowTest : public WindowFixture {
 protected:
  // Channel 1 is the kiln at address 1.
  ConsoleWindowTest() { Map(1, 1, "Kiln"); }
  ~ConsoleWindowTest() override { runner_.Shutdown(); }  // before the window and the console go

  void Map(int channel, int address, const std::string& nickName) {
    ASSERT_TRUE(store_.AddChannel({channel, address, nickName, "set64rs"}));
    ASSERT_TRUE(store_.ResetControllerMemory(address));
  }
  // The three-step program (console::RunThreeStepProgram) uploaded to unit 1 as kiln.txt.
  void KilnInStore() {
    ASSERT_TRUE(store_.WriteMemorySteps(1, {{1, 1, 60, 100, 1, 0}, {1, 2, 30, 200, 1, 0}, {1, 3, 0, 200, 1, 0}}));
    ASSERT_TRUE(store_.WriteLogEntry({1, "kiln.txt", 1, 3, "K", "F", "M", "SV"}));
  }
  void Open() {
    window_ = std::make_unique<ConsoleWindow>(
        WindowOptions{true, "/dev/pts/test", QString::fromStdString(folder_.Profiles().string()), {}}, runner_);
    console_ =
        std::make_unique<console::Console>(folder_, store_, line_, window_->View(), console::LineInfo{true, true});
    window_->show();
    window_->Start(*console_);
    Idle();
  }
  template <class T>
  T* Find(const char* name) {
    return ui::Find<T>(*window_, name);
  }
  QString Text(const char* name) { return Find<QLineEdit>(name)->text(); }
  std::string Prompt() { return Find<QPlainTextEdit>("User_Prompt")->toPlainText().toStdString(); }
  QColor Colour(const char* name) { return Find<QWidget>(name)->palette().color(QPalette::Window); }
  void Trigger(const char* action) {
    Find<QAction>(action)->trigger();
    Idle();
  }
  void Click(const char* button) { WindowFixture::Click(*window_, button); }

  std::unique_ptr<ConsoleWindow> window_;
  std::unique_ptr<console::Console> console_;
};

// Every control the console is described with, and the run trend's.
const std::vector<QString> kConsoleControls = Names(
    "TarvelFrame CompileProfileNameDisplay txtCompiledProfileSensor txtCompiledProfileTemperatureScale "
    "txtCompiledProfileTimeScale cmbProgressionSelect CompileProfileButton StartAddressDisplay "
    "CompiledProfileFlexGrid ProfileLogChangeSize UpLoadProfileToController SelectRunProfileButton "
    "DeleteProfileEntryButton fgProfileLog ControllerProgramChangeSize ProgramMemoryDisplayFlexGrid "
    "CurrentStepDisplay CurrentTimeDisplay ProfileSetPointDisplay SetPointDisplay ProcessTemperatureDisplay "
    "Relay1StateDisplay Relay2StateDisplay MonitorRunStateButton MonitorRunStateLED ExecutingProfileNameDisplay "
    "StartProfileButton PauseProfileButton RestartProfileButton JumpToSegmentPointButton JumpToSegment JumpToTime "
    "User_Prompt ClearDisplayButton TransferProgressBar TransferCancelButton CommStatusLED SerialLinkLabel "
    "RunTrendChart ResetZoomButton SaveChartImageButton PrintChartButton ChartReadout");

// The console as the program builds it, with its line overview docked and its places kept in
// Setup/, on each laptop screen; a command runner of its own for each opening.
class ConsoleLayout : public ConsoleWindowTest {
 protected:
  ~ConsoleLayout() override { Close(); }
  void OpenOn(QScreen* screen) {
    ownRunner_ = std::make_unique<CommandRunner>();
    window_ = std::make_unique<ConsoleWindow>(
        WindowOptions{true, "/dev/pts/test", {}, PlacementFile(QString::fromStdString(folder_.Setup().string()))},
        *ownRunner_);
    console_ =
        std::make_unique<console::Console>(folder_, store_, line_, window_->View(), console::LineInfo{true, true});
    watch_ = std::make_unique<watch::LineWatch>(folder_, store_, line_);
    new LineWatchBinding(*window_, *console_, *watch_, folder_);
    window_->setScreen(screen);
    window_->show();
    window_->Start(*console_);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !ownRunner_->Busy(); }, 15000));
    QCoreApplication::processEvents();
  }
  void Close() {
    if (!window_) return;
    window_->close();
    window_.reset();
    console_.reset();
    watch_.reset();
    ownRunner_.reset();
  }
  QDockWidget* Dock(const char* name) { return Find<QDockWidget>(name); }

  std::unique_ptr<CommandRunner> ownRunner_;
  std::unique_ptr<watch::LineWatch> watch_;
};

// On each laptop screen: at first start; after a layout kept with the docks floated and docked
// again, and with one left floating over the menu bar; after Reset Window Layout.
TEST_F(ConsoleLayout, EveryControlFitsEachLaptopScreenThroughSavedLayoutsAndAReset) {
  std::vector<QString> controls = kConsoleControls;
  for (const QString& name : Names("LineOverviewGrid LineOverviewSweep ZoneSelect SetZoneButton"))
    controls.push_back(name);
  for (QScreen* screen : QGuiApplication::screens()) {
    SCOPED_TRACE(screen->name().toStdString());
    std::filesystem::remove(folder_.Setup() / "WindowPlaces.ini");
    OpenOn(screen);
    ExpectLaidOut(*window_, controls);
    ExpectHoverKeepsLayout(*window_, *Find<QWidget>("RunTrendChart"));

    Dock("LineOverviewDock")->setFloating(true);
    Dock("LineOverviewDock")->setFloating(false);
    Dock("RunTrendDock")->setFloating(true);
    Dock("RunTrendDock")->move(window_->geometry().topLeft());
    Close();
    OpenOn(screen);
    EXPECT_FALSE(Dock("RunTrendDock")->isFloating()) << "not brought back over the menu bar";
    ExpectLaidOut(*window_, controls);

    Dock("LineOverviewDock")->setFloating(true);
    Dock("RunTrendDock")->hide();
    Trigger("mnuResetLayout");
    for (const char* dock : {"LineOverviewDock", "RunTrendDock"}) {
      EXPECT_FALSE(Dock(dock)->isFloating()) << dock;
      EXPECT_TRUE(Dock(dock)->isVisible()) << dock;
    }
    ExpectLaidOut(*window_, controls);
    Close();
  }
}

TEST_F(ConsoleWindowTest, OnALaptopScreenTheGridsShowRowsWidenInsideTheWindowAndALargerWindowGoesToThem) {
  Open();
  auto* log = Find<QTableWidget>("fgProfileLog");
  auto* memory = Find<QTableWidget>("ProgramMemoryDisplayFlexGrid");
  EXPECT_GE(log->viewport()->height(), 3 * 20) << "the profile log shows rows, not one";
  EXPECT_GE(memory->viewport()->height(), 5 * 20);

  // ">" widens a grid inside the window, "<" gives the room back; the window keeps its size.
  const QSize size = window_->size();
  const int memoryWidth = memory->width();
  Click("ControllerProgramChangeSize");
  EXPECT_EQ(window_->size(), size);
  EXPECT_GE(memory->viewport()->width(), memory->horizontalHeader()->length()) << "every column shows";
  ExpectLaidOut(*window_, kConsoleControls);
  Click("ControllerProgramChangeSize");
  EXPECT_EQ(memory->width(), memoryWidth);
  const int logWidth = log->width();
  Click("ProfileLogChangeSize");
  EXPECT_EQ(window_->size(), size);
  EXPECT_GT(log->width(), logWidth);
  ExpectLaidOut(*window_, kConsoleControls);
  Click("ProfileLogChangeSize");
  EXPECT_EQ(log->width(), logWidth);

  // A 1920x1080 screen: the grids and the trend take the room.
  const int logHeight = log->height(), memoryHeight = memory->height();
  const int trendWidth = Find<QWidget>("RunTrendChart")->width();
  window_->resize(1900, 1000);
  QCoreApplication::processEvents();
  EXPECT_GT(log->height(), logHeight);
  EXPECT_GT(memory->height(), memoryHeight);
  EXPECT_GT(log->width(), logWidth);
  EXPECT_GT(Find<QWidget>("RunTrendChart")->width(), trendWidth);
}

TEST_F(ConsoleWindowTest, EachPanelCoversTheChannelFrameExactlyNothingBelowItAndItsXClosesIt) {
  Open();
  const QRect frame = Find<QGroupBox>("TarvelFrame")->geometry();
  // Each menu entry's panel: the panel, its X, then its controls.
  const std::pair<const char*, const char*> panels[] = {
      {"mnuRunMode",
       "picRunMode RunModeXOut ProgramMode_0 ProgramMode_1 ProgramMode_2 ProgramMode_3 ProgramMode_4 "
       "SetRunModeButton"},
      {"mnuUpLoadProgramLimits",
       "picUpLoadProgramLimits picUpLoadProgramLimitsXOut ProgramStepLowDisplay "
       "ProgramStepHighDisplay UpLoadProgramLimitsButton"},
      {"mnuDownLoadControllerMemory",
       "picDownLoadMemory DownLoadXOutButton txtStartStep txtStopStep DownLoadControllerProgramMemoryButton"},
      {"mnuHardwareSettings",
       "picHardwareSettings ControllerSettingsXOut Alarm1TypeDisplay Alarm2TypeDisplay "
       "TemperatureScaleDisplay SensorTypeDisplay DownLoadHardwareSettingsButton "
       "UpLoadHardwareSettingsButton"},
      {"mnuSingleSetPoint", "picSingleSetPoint SingleSetPointXOut SingleSetPointDisplay UpLoadSetValueButton"},
  };
  for (const auto& [menu, controls] : panels) {
    std::vector<QString> names = Names(controls);
    const std::string panel = names[0].toStdString();
    Trigger(menu);
    auto* box = Find<QGroupBox>(panel.c_str());
    EXPECT_EQ(box->geometry(), frame) << panel;
    names.insert(names.end(), {"frameUserProgramControl", "StartProfileButton", "frameCompiledProfile"});
    ExpectLaidOut(*window_, names);
    Click(names[1].toStdString().c_str());  // its X
    EXPECT_FALSE(box->isVisible()) << panel;
  }
}

TEST_F(ConsoleWindowTest, ACommandsOutcomeOutlivesTheMonitorTicksAndTheProgressBarGoesBackToIdle) {
  Open();
  auto* progress = Find<QProgressBar>("TransferProgressBar");
  EXPECT_EQ(progress->text(), "") << "idle after start-up";
  Trigger("mnuReadControllerState");
  EXPECT_EQ(progress->text(), "");

  Click("MonitorRunStateButton");
  window_->findChild<QTimer*>("ProfileRunTimer")->setInterval(100);
  Trigger("mnInfo");  // the user's last command
  sim_.ClearRequests();
  ASSERT_TRUE(QTest::qWaitFor([this] { return sim_.Requests().size() >= 18; }, 10000)) << "two ticks";
  Idle();
  EXPECT_THAT(Prompt(), ::testing::StartsWith("Tarvel Version 1.00\n"));
  // A failed tick says so below the outcome; the next good tick takes its line away again.
  line_.SetTiming({20ms, 20ms});
  sim_.InjectFault(sim::Fault::NoReply, 1);
  ASSERT_TRUE(
      QTest::qWaitFor([this] { return Prompt().find("ERROR: Commmunications error") != std::string::npos; }, 10000));
  EXPECT_THAT(Prompt(), ::testing::StartsWith("Tarvel Version 1.00\n"));
  line_.SetTiming({100ms, 100ms});  // a busy machine must not fail the ticks that follow
  ASSERT_TRUE(QTest::qWaitFor([this] { return Prompt().find("ERROR") == std::string::npos; }, 10000));
  EXPECT_THAT(Prompt(), ::testing::StartsWith("Tarvel Version 1.00\n"));
  // Off again, between two ticks (the button waits while one runs).
  auto* monitor = Find<QPushButton>("MonitorRunStateButton");
  ASSERT_TRUE(QTest::qWaitFor([&] { return monitor->isEnabled(); }, 10000));
  Click("MonitorRunStateButton");
  auto* timer = window_->findChild<QTimer*>("ProfileRunTimer");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !timer->isActive() && !runner_.Busy(); }, 10000));
  Idle();
}

// Each control reaches its workflow: what it sent is in the controller, and the window shows
// the outcome. The workflows' own cases are the console's tests; this is the binding.
TEST_F(ConsoleWindowTest, EachControlReachesItsWorkflow) {
  const auto file = folder_.Profiles() / "cure.txt";
  ASSERT_TRUE(tarvel::testing::WriteCureProfile(file));
  Open();
  auto type = [this](const char* box, const char* text) { Find<QLineEdit>(box)->setText(text); };
  auto* compiled = Find<QTableWidget>("CompiledProfileFlexGrid");
  QTableWidget* memory = Find<QTableWidget>("ProgramMemoryDisplayFlexGrid");
  struct Row {
    const char* control;  // a menu entry (mnu...) is triggered, a button clicked
    std::function<void()> before, check;
  };
  int editorRequests = 0;
  QObject::connect(window_.get(), &ConsoleWindow::editProfileRequested, [&] { ++editorRequests; });
  const Row rows[] = {
      {"mnuEditProfile", nullptr, [&] { EXPECT_EQ(editorRequests, 1); }},
      {"mnuOpenProfile", [&] { boxes_.Pick(QString::fromStdString(file.string())); },
       [&] {
         EXPECT_EQ(boxes_.Seen().back(),
                   std::pair(QString("Edit Profile"), QString::fromStdString(folder_.Profiles().string())));
         EXPECT_EQ(Text("CompileProfileNameDisplay"), "cure.txt");
       }},
      {"CompileProfileButton",
       [&] {
         auto* start = Find<QLineEdit>("StartAddressDisplay");
         start->selectAll();
         QTest::keyClicks(start, "10");
         Idle();
       },
       [&] {
         ASSERT_EQ(compiled->rowCount(), 3);
         EXPECT_EQ(compiled->item(2, 0)->text(), "12");
       }},
      {"UpLoadProfileToController", nullptr,
       [&] { EXPECT_EQ(Find<QTableWidget>("fgProfileLog")->item(0, 2)->text(), "cure.txt"); }},
      {"mnuHardwareSettings", nullptr, [&] { EXPECT_EQ(Text("SensorTypeDisplay"), "K"); }},
      {"UpLoadHardwareSettingsButton",
       [&] {
         type("Alarm1TypeDisplay", "9");
         type("Alarm2TypeDisplay", "4");
         type("TemperatureScaleDisplay", "C");
       },
       [&] {
         EXPECT_EQ(sim_.Unit(1).alarm1Type, 9);
         EXPECT_EQ(sim_.Unit(1).alarm2Type, 4);
         EXPECT_EQ(sim_.Unit(1).temperatureScale, 0);
       }},
      {"ControllerSettingsXOut", nullptr, nullptr},
      {"mnuSingleSetPoint", nullptr, nullptr},
      {"UpLoadSetValueButton", [&] { type("SingleSetPointDisplay", "325"); },
       [&] { EXPECT_EQ(sim_.Unit(1).setValue, 325); }},
      {"MonitorRunStateButton",
       [&] {
         console::RunThreeStepProgram(sim_, 1);
         sim_.AdvanceTime(70min);
       },
       [&] {
         EXPECT_EQ(Colour("MonitorRunStateLED"), QColor(0, 255, 0));
         EXPECT_TRUE(window_->findChild<QTimer*>("ProfileRunTimer")->isActive());
         EXPECT_EQ(Text("CurrentStepDisplay"), "2");
         EXPECT_EQ(Text("ProfileSetPointDisplay"), "200");
         EXPECT_EQ(Text("Relay1StateDisplay"), "off");
         EXPECT_TRUE(Find<QRadioButton>("ProgramMode_2")->isChecked());
         EXPECT_EQ(memory->item(1, 2)->background().color(), QColor(128, 255, 128)) << "step 2 light green";
         EXPECT_EQ(memory->item(0, 2)->background().color(), QColor(255, 255, 192)) << "step 1 in the range";
       }},
      {"MonitorRunStateButton", nullptr,
       [&] {
         EXPECT_EQ(Colour("MonitorRunStateLED"), QColor(192, 192, 192));
         EXPECT_FALSE(window_->findChild<QTimer*>("ProfileRunTimer")->isActive());
       }},
      {"mnuReadRunState",
       [&] {
         line_.SetTiming({20ms, 20ms});
         sim_.InjectFault(sim::Fault::NoReply, 3);
       },
       [&] {
         EXPECT_EQ(Colour("CommStatusLED"), QColor(255, 0, 0));
         EXPECT_THAT(Prompt(), HasSubstr("ERROR: Commmunications error"));
         auto* progress = Find<QProgressBar>("TransferProgressBar");  // idle, not part-filled
         EXPECT_EQ(progress->value(), progress->minimum() - 1);
       }},
      {"ClearDisplayButton", nullptr, [&] { EXPECT_EQ(Prompt(), ""); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.control);
    if (row.before) row.before();
    if (std::string_view(row.control).starts_with("mnu"))
      Trigger(row.control);
    else
      Click(row.control);
    if (row.check) row.check();
  }
  EXPECT_FALSE(Find<QPushButton>("TransferCancelButton")->isEnabled()) << "nothing to cancel while idle";
}

// Select and Start run the profile; commands that would spoil the run ask first. An operator's
// action then goes into the load's record from its result, once it has succeeded: a failed pause
// leaves no row; a jump's row names the step it left and the point it went to. (What run control
// writes is its own test.)
TEST_F(ConsoleWindowTest, SelectAndStartRunTheProfileGuardedCommandsAskAndOnlySucceededActionsAreRecorded) {
  KilnInStore();
  sim_.EditUnit(1, [](sim::UnitState& u) {
    u.steps[0] = {1, 60, 100}, u.steps[1] = {1, 30, 200}, u.steps[2] = {1, 0, 200};
    u.programHighStep = 3;
  });
  Open();
  console_->RunControls().SetFrontPanelStart([this](std::uint8_t address) { sim_.FrontPanelStart(address); });
  Click("SelectRunProfileButton");
  Click("StartProfileButton");
  EXPECT_EQ(boxes_.Seen().back().first, "Enter Front Panel Start Code 5172 to start kiln.txt");
  EXPECT_TRUE(sim_.Unit(1).running);
  EXPECT_TRUE(Find<QRadioButton>("ProgramMode_2")->isChecked());

  for (const char* guarded : {"mnuClearController", "mnuAutoTuneOn"}) {
    boxes_.Answer(QMessageBox::Cancel);
    Trigger(guarded);
    EXPECT_THAT(boxes_.Seen().back().second.toStdString(), HasSubstr("Unit #1 is running its program kiln.txt"))
        << guarded;
    EXPECT_TRUE(boxes_.LastDefaultWasCancel()) << guarded;
  }
  EXPECT_EQ(boxes_.Seen().back().first, "AutoTune On");
  EXPECT_FALSE(sim_.Unit(1).autoTune);
  EXPECT_EQ(Find<QTableWidget>("fgProfileLog")->rowCount(), 1) << "nothing cleared";

  new LoadsBinding(*window_, *console_, folder_);
  line_.SetTiming({20ms, 20ms});
  sim_.InjectFault(sim::Fault::NoReply, 3);
  Click("PauseProfileButton");
  EXPECT_EQ(sim_.Unit(1).runMode, 2);
  EXPECT_TRUE(store_.LoadActions().value().empty()) << "the pause failed";
  line_.SetTiming({});
  Trigger("mnuReadRunState");  // the step the jump leaves is the one last read
  Find<QLineEdit>("JumpToSegment")->setText("2");
  Find<QLineEdit>("JumpToTime")->setText("10");
  Click("JumpToSegmentPointButton");
  Click("PauseProfileButton");
  const auto rows = store_.LoadActions().value();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(std::tuple(rows[0].softwareChannel, rows[0].kind, rows[0].oldValue, rows[0].newValue),
            std::tuple(1, std::string("jump"), std::string("step 1"), std::string("segment 2, time 10")));
  EXPECT_FALSE(rows[0].who.empty());
  EXPECT_EQ(std::tuple(rows[1].kind, rows[1].oldValue, rows[1].newValue),
            std::tuple(std::string("pause"), std::string("mode 2"), std::string("mode 0")));
}

TEST_F(ConsoleWindowTest, TheTrendGrowsWithEachReadingOverTheExecutingProfile) {
  console::RunThreeStepProgram(sim_, 1);
  ASSERT_TRUE(profile::SaveProfileText(folder_.Profiles() / "Three step.txt",
                                       profile::BuildProfileText(tarvel::testing::ThreeSegmentTable(), {})));
  ASSERT_TRUE(store_.SaveRunSelection(1, "Three step.txt", 1, 3));
  Open();
  TrendView* trend = window_->Trend();
  ASSERT_NE(trend, nullptr);
  EXPECT_EQ(trend->PointCount(), 1u) << "the start-up reading";
  EXPECT_EQ(trend->DesignPointCount(), 4u) << "the executing profile's file is in Profiles/";

  Click("MonitorRunStateButton");
  sim_.AdvanceTime(30min);
  Trigger("mnuReadRunState");
  EXPECT_EQ(trend->PointCount(), 3u);
  auto* setPoint = qobject_cast<QLineSeries*>(trend->View()->chart()->series().at(1));
  ASSERT_NE(setPoint, nullptr);
  EXPECT_EQ(setPoint->at(2), QPointF(30, sim_.Unit(1).profileSetPoint));
  EXPECT_EQ(qobject_cast<QValueAxis*>(trend->View()->chart()->axes(Qt::Horizontal).front())->min(), 0);
  runner_.Shutdown();

  // A leg that begins again (lost readings, a pause, a jump back) is drawn apart, never joined
  // by a line; the profile's 1000 minutes read in hours and minutes.
  const controller::RunTrace trace{2, "Three step.txt", folder_.Profiles() / "Three step.txt", 'M',
                                   'F'};  // a new trend
  trend->Add(trace, {0, 100, 100});
  trend->Add(trace, {100, 150, 149});
  trend->Add(trace, {90, 140, 141, true});
  trend->Add(trace, {200, 200, 199});
  ASSERT_EQ(trend->SetPointLegs().size(), 2u);
  EXPECT_EQ(trend->SetPointLegs()[0]->points(), (QList<QPointF>{{0, 100}, {100, 150}}));
  EXPECT_EQ(trend->SetPointLegs()[1]->points(), (QList<QPointF>{{90, 140}, {200, 200}}));
  auto* clock = qobject_cast<QCategoryAxis*>(trend->View()->chart()->axes(Qt::Horizontal).front());
  ASSERT_NE(clock, nullptr);
  EXPECT_EQ(clock->titleText(), "Time (h:mm)");
  ASSERT_GE(clock->categoriesLabels().size(), 3);
  for (const QString& label : clock->categoriesLabels())
    EXPECT_TRUE(QRegularExpression("^[0-9]+:[0-5][0-9]$").match(label).hasMatch()) << label.toStdString();
}

TEST_F(ConsoleWindowTest, ControllerCommandsAreDisabledWhileOneRunsAndClosingWaitsForIt) {
  Open();
  sim_.SetTurnaround(60ms);  // a reading now takes over half a second
  sim_.ClearRequests();
  Find<QAction>("mnuReadRunState")->trigger();
  EXPECT_FALSE(Find<QPushButton>("MonitorRunStateButton")->isEnabled());
  EXPECT_FALSE(Find<QAction>("mnuReadControllerState")->isEnabled());
  EXPECT_FALSE(Find<QComboBox>("ProfileChannelNumberDisplay")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>("ClearDisplayButton")->isEnabled());

  ASSERT_TRUE(sim_.WaitForRequests(1, 5000ms));
  window_->close();
  EXPECT_TRUE(window_->isVisible()) << "the exchange in progress finishes first";
  ASSERT_TRUE(QTest::qWaitFor([this] { return !window_->isVisible(); }, 10000));
  EXPECT_EQ(tarvel::testing::ReadsOnce(sim_.Requests()).first.size(), 8u)
      << "the reading under way was completed (the limits in one read)";
}

TEST(Programs, HelpAndVersionNeedNoDisplay) {
  for (const char* program : {TARVEL_GUI, TARVEL_CLI, TARVEL_SIM}) {
    for (const char* flag : {"--help", "--version"}) {
      auto run = tarvel::testing::RunProcess(
          "env", {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb", program, flag});
      EXPECT_EQ(run.exitCode, 0) << program << " " << flag << ": " << run.err;
      EXPECT_FALSE(run.out.empty()) << program << " " << flag;
    }
  }
  auto help = tarvel::testing::RunProcess("env", {"-u", "DISPLAY", "QT_QPA_PLATFORM=xcb", TARVEL_GUI, "--help"});
  EXPECT_THAT(help.out, HasSubstr("--simulate"));
  EXPECT_THAT(help.out, HasSubstr("--editor"));
  // Without a display a wrong option, or a start at all, is said and ends with 1, never an abort.
  auto bogus = tarvel::testing::RunProcess(
      "env", {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", TARVEL_GUI, "--bogus"});
  EXPECT_EQ(bogus.exitCode, 1);
  EXPECT_THAT(bogus.err, HasSubstr("Unknown option 'bogus'"));
  auto start = tarvel::testing::RunProcess(
      "env", {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", TARVEL_GUI, "--simulate"});
  EXPECT_EQ(start.exitCode, 1);
  EXPECT_THAT(start.err, HasSubstr("no display to open a window on"));
}

}  // namespace
}  // namespace tarvel::ui
