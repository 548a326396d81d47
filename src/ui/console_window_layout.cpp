// The console window's widgets: frames, panels and menus with the control names and
// captions users and tests know them by.
#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/console_window.h"

namespace tarvel::ui {
namespace {

QGroupBox* Frame(const char* caption, const char* name) {
  auto* box = new QGroupBox(QString::fromUtf8(caption));
  box->setObjectName(name);
  return box;
}

QLineEdit* Entry(const char* name, const char* tip = nullptr, bool readOnly = false) {
  auto* edit = new QLineEdit;
  edit->setObjectName(name);
  if (tip) edit->setToolTip(QString::fromUtf8(tip));
  edit->setReadOnly(readOnly);
  return edit;
}

QPushButton* Button(const char* caption, const char* name, const char* tip = nullptr) {
  auto* button = new QPushButton(QString::fromUtf8(caption));
  button->setObjectName(name);
  if (tip) button->setToolTip(QString::fromUtf8(tip));
  return button;
}

QTableWidget* GridWidget(const char* name, const char* tip = nullptr, int rows = 2) {
  auto* grid = new QTableWidget;
  grid->setObjectName(name);
  if (tip) grid->setToolTip(QString::fromUtf8(tip));
  grid->verticalHeader()->hide();
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionMode(QAbstractItemView::NoSelection);
  grid->verticalHeader()->setDefaultSectionSize(20);
  // The title row and a row or two at least; the splitters give the grids what the screen has.
  grid->setMinimumHeight(20 + rows * 20 + 2 * grid->frameWidth());
  return grid;
}

QFrame* Led(const char* name) {
  auto* led = new QFrame;
  led->setObjectName(name);
  led->setFrameShape(QFrame::Box);
  led->setFixedSize(18, 18);
  led->setAutoFillBackground(true);
  return led;
}

// A panel shown over the "Channel Select" frame. Its close button sits in the title's corner, so
// the content has the frame's whole height.
class OverlayPanel : public QGroupBox {
 public:
  OverlayPanel(const char* caption, const char* name, const char* closeName, QLayout* content, QWidget* host)
      : QGroupBox(QString::fromUtf8(caption), host) {
    setObjectName(name);
    close_ = Button("X", closeName);
    close_->setParent(this);
    close_->setFixedSize(24, 20);
    connect(close_, &QPushButton::clicked, this, &QWidget::hide);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, close_->height() + 2, 6, 4);
    layout->addLayout(content);
    layout->addStretch();
    setAutoFillBackground(true);
    hide();
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QGroupBox::resizeEvent(event);
    close_->move(width() - close_->width() - 2, 1);
  }

 private:
  QPushButton* close_;
};

// label, entry, label, entry ... in rows of `pairs` pairs.
QGridLayout* Pairs(std::initializer_list<std::pair<const char*, QWidget*>> cells, int pairs) {
  auto* grid = new QGridLayout;
  int i = 0;
  for (auto [caption, widget] : cells) {
    auto* label = new QLabel(QString::fromUtf8(caption));
    label->setBuddy(widget);
    grid->addWidget(label, i / pairs, 2 * (i % pairs));
    grid->addWidget(widget, i / pairs, 2 * (i % pairs) + 1);
    ++i;
  }
  for (int c = 0; c < pairs; ++c) grid->setColumnStretch(2 * c + 1, 1);
  return grid;
}

}  // namespace

QLineEdit* ConsoleWindow::FieldEntry(console::Field field, const char* tip, bool readOnly) {
  QLineEdit* entry = Entry(FieldControlName(field), tip, readOnly);
  fields_[field] = entry;
  return entry;
}

void ConsoleWindow::BuildMenus() {
  auto* bar = menuBar();
  auto menu = [&](QMenu* parent, const char* caption, const char* name) {
    QMenu* m = parent ? parent->addMenu(caption) : bar->addMenu(caption);
    m->setObjectName(name);
    m->menuAction()->setObjectName(name);
    return m;
  };
  auto action = [&](QMenu* parent, const char* caption, const char* name, bool enabled = true) {
    QAction* a = parent ? parent->addAction(caption) : bar->addAction(caption);
    a->setObjectName(name);
    a->setEnabled(enabled);
    if (!enabled) a->setToolTip("Not available in this version yet");
    return a;
  };

  Controls& c = controls_;
  QMenu* file = menu(nullptr, "File", "mnuFile");
  c.openProfile = action(file, "Open Profile", "mnuOpenProfile");

  QMenu* execution = menu(nullptr, "Program Execution", "mnuProgramExecution");
  c.runModeMenu = action(execution, "Run Mode", "mnuRunMode");
  c.readRunState = action(execution, "Read Run State", "mnuReadRunState");
  c.limitsMenu = action(execution, "UpLoad Program Limits", "mnuUpLoadProgramLimits");

  QMenu* state = menu(nullptr, "Control State", "mnuSynchronize");
  c.clearController = action(state, "Clear Controller", "mnuClearController");
  c.readControllerState = action(state, "Read Controller State", "mnuReadControllerState");
  c.downloadMenu = action(state, "DownLoad Controller Memory", "mnuDownLoadControllerMemory");

  QMenu* settings = menu(nullptr, "Controller Settings", "mnuControllerSettings");
  c.hardwareSettings = action(settings, "Hardware Settings", "mnuHardwareSettings");
  c.singleSetPoint = action(settings, "Single Set Point", "mnuSingleSetPoint");
  QMenu* autotune = menu(settings, "Autotune", "mnuAutotune");
  c.autoTuneOn = action(autotune, "AutoTune On", "mnuAutoTuneOn");
  c.autoTuneOff = action(autotune, "AutoTune Off", "mnuAutoTuneOff");
  commandActions_.insert(commandActions_.end(),
                         {c.openProfile, c.readRunState, c.clearController, c.readControllerState, c.hardwareSettings,
                          c.singleSetPoint, c.autoTuneOn, c.autoTuneOff});

  connect(action(nullptr, "Edit Profile", "mnuEditProfile"), &QAction::triggered, this,
          &ConsoleWindow::editProfileRequested);

  QMenu* setup = menu(nullptr, "SetUp", "mnuSetUp");
  action(setup, "Comm Port", "mnuSetupCommPort", false);
  action(setup, "Channel Map", "mnuChannelMap", false);

  // The docked windows (the run trend, and any other added with AddDock) and the layout.
  viewMenu_ = menu(nullptr, "View", "mnuView");
  viewMenu_->addSeparator();
  connect(action(viewMenu_, "Reset Window Layout", "mnuResetLayout"), &QAction::triggered, this,
          &ConsoleWindow::ResetLayout);

  QMenu* about = menu(nullptr, "About", "mnuAbout");
  c.info = action(about, "Info", "mnInfo");
  c.reportBug = action(about, "Report a Bug", "mnuReportBug");

  c.exit = action(nullptr, "Exit", "mnuExit");
}

QGroupBox* ConsoleWindow::BuildChannelFrame() {
  auto* frame = Frame("Channel Select", "TarvelFrame");
  auto* form = new QFormLayout(frame);
  channelSelect_ = new QComboBox;
  channelSelect_->setObjectName("ProfileChannelNumberDisplay");
  addressSelect_ = new QComboBox;
  addressSelect_->setObjectName("ModBusAddressDisplay");
  nickNameSelect_ = new QComboBox;
  nickNameSelect_->setObjectName("ChannelNickNameDisplay");
  form->addRow("Chan", channelSelect_);
  form->addRow("Addr", addressSelect_);
  form->addRow("Channel Description", nickNameSelect_);
  form->addRow("Type", FieldEntry(console::Field::ControllerType, nullptr, true));
  for (QWidget* w : {static_cast<QWidget*>(channelSelect_), static_cast<QWidget*>(addressSelect_),
                     static_cast<QWidget*>(nickNameSelect_)})
    commandWidgets_.push_back(w);
  return frame;
}

QGroupBox* ConsoleWindow::BuildCompiledFrame() {
  auto* frame = Frame("Compiled Profile", "frameCompiledProfile");
  auto* layout = new QVBoxLayout(frame);
  auto* name = new QFormLayout;
  name->addRow("Compile Profile Name", FieldEntry(console::Field::CompileProfileName,
                                                  "Name of the profile to add to controller program memory", true));
  layout->addLayout(name);

  // "Sensor  Temp    Time     Progress": each caption word before its own box, on one row.
  auto* settings = new QFrame;
  settings->setObjectName("frameCompiledProfileSettings");
  settings->setAccessibleName("Sensor  Temp    Time     Progress");
  auto* row = new QHBoxLayout(settings);
  row->setContentsMargins(0, 0, 0, 0);
  const std::pair<const char*, console::Field> columns[] = {{"Sensor", console::Field::CompiledProfileSensor},
                                                            {"Temp", console::Field::CompiledProfileTemperatureScale},
                                                            {"Time", console::Field::CompiledProfileTimeScale}};
  for (auto [caption, field] : columns) {
    row->addWidget(new QLabel(caption));
    row->addWidget(FieldEntry(field, nullptr, true), 1);
  }
  progressionSelect_ = new QComboBox;
  progressionSelect_->setObjectName("cmbProgressionSelect");
  row->addWidget(new QLabel("Progress"));
  row->addWidget(progressionSelect_);
  layout->addWidget(settings);

  auto* compile = new QHBoxLayout;
  controls_.compile = Button("Compile Profile", "CompileProfileButton");
  commandWidgets_.push_back(controls_.compile);
  compile->addWidget(controls_.compile);
  compile->addWidget(new QLabel("Start Address"));
  auto* start = FieldEntry(console::Field::StartAddress, "Put the design profile in controller memory starting here");
  start->setMaximumWidth(60);
  compile->addWidget(start);
  compile->addStretch();
  layout->addLayout(compile);

  compiledGrid_ = GridWidget("CompiledProfileFlexGrid", "This is the compiled design profile", 1);
  layout->addWidget(compiledGrid_, 1);
  return frame;
}

QGroupBox* ConsoleWindow::BuildProfileLogFrame() {
  auto* frame = Frame("Profile Log", "frameProfileLog");
  auto* layout = new QVBoxLayout(frame);
  auto* buttons = new QHBoxLayout;
  logSizeButton_ = Button(">", "ProfileLogChangeSize");
  logSizeButton_->setFixedWidth(28);
  buttons->addWidget(logSizeButton_);
  controls_.upload = Button("UpLoad Profile", "UpLoadProfileToController");
  controls_.select = Button("Select Profile", "SelectRunProfileButton");
  controls_.deleteEntry = Button("Delete Profile", "DeleteProfileEntryButton");
  for (QPushButton* b : {controls_.upload, controls_.select, controls_.deleteEntry}) buttons->addWidget(b);
  commandWidgets_.insert(commandWidgets_.end(), {controls_.upload, controls_.deleteEntry});
  buttons->addStretch();
  layout->addLayout(buttons);
  logGrid_ = GridWidget("fgProfileLog");
  layout->addWidget(logGrid_, 1);
  profileLogFrame_ = frame;
  return frame;
}

QGroupBox* ConsoleWindow::BuildProgramMemoryFrame() {
  auto* frame = Frame("Controller Program Memory", "frameProgramMemoryDisplayFlexGrid");
  auto* layout = new QHBoxLayout(frame);  // ">" beside the grid: the rows keep the height
  memorySizeButton_ = Button(">", "ControllerProgramChangeSize");
  memorySizeButton_->setFixedWidth(28);
  layout->addWidget(memorySizeButton_, 0, Qt::AlignTop);
  memoryGrid_ = GridWidget("ProgramMemoryDisplayFlexGrid");
  layout->addWidget(memoryGrid_, 1);
  return frame;
}

QGroupBox* ConsoleWindow::BuildRunStateFrame() {
  auto* frame = Frame("Run State", "frameRunState");
  auto* grid = new QGridLayout(frame);
  const char* setPointTip = "Current temperature set point of controller";
  using console::Field;
  const std::tuple<const char*, Field, const char*> displays[] = {
      {"Current Step", Field::CurrentStep, "Current segment executing in controller program memory"},
      {" Time", Field::CurrentTime, "Current elapsed time of current segment"},
      {"Set Temp", Field::ProfileSetPoint, setPointTip},
      {"Set Point", Field::SetPoint, setPointTip},
      {"Process Temp", Field::ProcessTemperature, setPointTip},
      {"Relay 1", Field::Relay1, "Relay #1 state"},
      {"Relay 2", Field::Relay2, "Relay #1 state"},
  };
  // Each caption on the left of its read-out, two to a row.
  int i = 0;
  for (auto [caption, field, tip] : displays) {
    auto* edit = FieldEntry(field, tip, true);
    auto* label = new QLabel(QString::fromUtf8(caption).trimmed());
    label->setBuddy(edit);
    grid->addWidget(label, i / 2, 2 * (i % 2));
    grid->addWidget(edit, i / 2, 2 * (i % 2) + 1);
    ++i;
  }
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  auto* monitor = new QHBoxLayout;
  monitorButton_ = Button("Monitor Run State", "MonitorRunStateButton");
  monitorLed_ = Led("MonitorRunStateLED");
  monitor->addWidget(monitorButton_);
  monitor->addWidget(monitorLed_);
  grid->addLayout(monitor, 3, 2, 1, 2);
  commandWidgets_.push_back(monitorButton_);
  return frame;
}

QGroupBox* ConsoleWindow::BuildProgramControlFrame() {
  auto* frame = Frame("User Program Control", "frameUserProgramControl");
  auto* layout = new QVBoxLayout(frame);
  auto* name = new QFormLayout;
  name->addRow("Executing Profile Name", FieldEntry(console::Field::ExecutingProfileName, nullptr, true));
  layout->addLayout(name);
  auto* buttons = new QHBoxLayout;
  controls_.start = Button("Start Profile", "StartProfileButton");
  controls_.pause = Button("Pause Profile", "PauseProfileButton");
  controls_.restart = Button("Restart Profile", "RestartProfileButton");
  for (QPushButton* b : {controls_.start, controls_.pause, controls_.restart}) buttons->addWidget(b);
  layout->addLayout(buttons);
  auto* jump = new QHBoxLayout;
  controls_.jump = Button("Jump To", "JumpToSegmentPointButton");
  jump->addWidget(controls_.jump);
  jump->addWidget(new QLabel("Seg"));
  controls_.jumpSegment = Entry("JumpToSegment");
  jump->addWidget(controls_.jumpSegment);
  jump->addWidget(new QLabel("Time"));
  controls_.jumpTime = Entry("JumpToTime");
  jump->addWidget(controls_.jumpTime);
  layout->addLayout(jump);
  return frame;
}

QGroupBox* ConsoleWindow::BuildPromptFrame() {
  auto* frame = Frame("User Prompt", "frameUserPrompt");
  auto* layout = new QHBoxLayout(frame);
  prompt_ = new QPlainTextEdit;
  prompt_->setObjectName("User_Prompt");
  prompt_->setToolTip("Watch here for messages about operation");
  prompt_->setReadOnly(true);
  prompt_->setMinimumHeight(3 * prompt_->fontMetrics().lineSpacing() + 10);
  layout->addWidget(prompt_, 1);

  // Beside the text, two rows: the buttons, then the progress and the serial link.
  auto* side = new QGridLayout;
  controls_.clearDisplay = Button("Clear", "ClearDisplayButton");
  side->addWidget(controls_.clearDisplay, 0, 0);
  cancelButton_ = Button("Cancel", "TransferCancelButton");
  cancelButton_->setToolTip("Stop the transfer under way before its next exchange");
  cancelButton_->setEnabled(false);
  side->addWidget(cancelButton_, 0, 1);
  progress_ = new QProgressBar;
  progress_->setObjectName("TransferProgressBar");
  progress_->reset();  // idle: no figure until a command moves it
  side->addWidget(progress_, 0, 2);
  auto* link = new QHBoxLayout;
  auto* label = new QLabel(options_.simulated ? "Serial Link (simulated)" : "Serial Link");
  label->setObjectName("SerialLinkLabel");
  label->setToolTip(options_.simulated              ? "Built-in controller simulator on " + options_.devicePath
                    : options_.devicePath.isEmpty() ? QString("No serial device")
                                                    : options_.devicePath);
  commLed_ = Led("CommStatusLED");
  link->addWidget(label);
  link->addWidget(commLed_);
  link->addStretch();
  side->addLayout(link, 1, 0, 1, 3);
  side->setRowStretch(2, 1);
  layout->addLayout(side);
  return frame;
}

void ConsoleWindow::BuildPanels(QWidget* host) {
  // Run mode: the ProgramMode options, index = run mode code, in two columns.
  auto* modes = new QGridLayout;
  programMode_ = new QButtonGroup(this);
  programMode_->setObjectName("ProgramMode");
  const char* captions[] = {"SV", "S-SV R/S", "M-SV R/S", "S-PV R/S", "M-PV R/S"};
  for (int code = 0; code < 5; ++code) {
    auto* option = new QRadioButton(captions[code]);
    option->setObjectName(QString("ProgramMode_%1").arg(code));
    programMode_->addButton(option, code);
    modes->addWidget(option, code % 3, code / 3);
  }
  controls_.setMode = Button("Set Mode", "SetRunModeButton");
  modes->addWidget(controls_.setMode, 2, 1);
  auto* runMode = new OverlayPanel("Manual Profile Mode Control", "picRunMode", "RunModeXOut", modes, host);
  runMode->setToolTip("Single Set Point - SV or Ramp / Soak S-SV, M-SV, S-PV, M-PV mode.  S=Seconds, M=Minutes");

  const char* lowTip = "Profile starting point in temperature controller program memory";
  const char* highTip = "Profile end point in temperature controller program memory";
  using console::Field;
  controls_.uploadLimits = Button("UpLoad Limits", "UpLoadProgramLimitsButton");
  auto* limits = Pairs({{"Low Step", FieldEntry(Field::ProgramStepLow, lowTip)},
                        {"High Step", FieldEntry(Field::ProgramStepHigh, highTip)}},
                       2);
  limits->addWidget(controls_.uploadLimits, 1, 0, 1, 2);
  auto* limitsPanel =
      new OverlayPanel("Program Limits", "picUpLoadProgramLimits", "picUpLoadProgramLimitsXOut", limits, host);

  controls_.download = Button("DownLoad Memory", "DownLoadControllerProgramMemoryButton");
  commandWidgets_.push_back(controls_.download);
  auto* download = Pairs({{"Low Step", FieldEntry(Field::DownloadStartStep, lowTip)},
                          {"High Step", FieldEntry(Field::DownloadStopStep, highTip)}},
                         2);
  download->addWidget(controls_.download, 1, 0, 1, 2);
  auto* downloadPanel = new OverlayPanel("DownLoad Memory", "picDownLoadMemory", "DownLoadXOutButton", download, host);

  auto* hardware = Pairs(
      {{"Alarm 1", FieldEntry(Field::Alarm1Type, "Alarm #1 type setting of the temperature controller")},
       {"Alarm 2", FieldEntry(Field::Alarm2Type, "Alarm #2 type setting of the temperature controller")},
       {"Temp Scale", FieldEntry(Field::TemperatureScale,
                                 "Temperature scale setting of the temperature controller.  "
                                 "This should match design profile setting")},
       {"Sensor",
        FieldEntry(Field::SensorType,
                   "Sensor Setting of the temperature controller.  This should match design profile setting", true)}},
      2);
  controls_.readSettings = Button("Read Settings", "DownLoadHardwareSettingsButton");
  controls_.writeSettings = Button("Write Settings", "UpLoadHardwareSettingsButton");
  hardware->addWidget(controls_.readSettings, 2, 0, 1, 2);
  hardware->addWidget(controls_.writeSettings, 2, 2, 1, 2);
  commandWidgets_.insert(commandWidgets_.end(), {controls_.readSettings, controls_.writeSettings});
  auto* hardwarePanel =
      new OverlayPanel("Controller Settings", "picHardwareSettings", "ControllerSettingsXOut", hardware, host);

  controls_.writeSetPoint = Button("Write", "UpLoadSetValueButton");
  auto* setPoint =
      Pairs({{"Set Point", FieldEntry(Field::SingleSetPoint, "Temperature control set point when in SV run mode")}}, 1);
  setPoint->addWidget(controls_.writeSetPoint, 1, 1);
  commandWidgets_.push_back(controls_.writeSetPoint);
  auto* setPointPanel = new OverlayPanel("Single Set Point", "picSingleSetPoint", "SingleSetPointXOut", setPoint, host);

  panels_ = {runMode, limitsPanel, downloadPanel, hardwarePanel, setPointPanel};
  // The frame the panels cover is as tall as the tallest of them: none reaches into the frame below.
  int tallest = 0;
  for (QGroupBox* panel : panels_) tallest = std::max(tallest, panel->minimumSizeHint().height());
  channelFrame_->setMinimumHeight(std::max(channelFrame_->minimumSizeHint().height(), tallest));
}

}  // namespace tarvel::ui
