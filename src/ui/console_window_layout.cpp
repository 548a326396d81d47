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
#include <QTableWidget>
#include <QVBoxLayout>

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

QTableWidget* GridWidget(const char* name, const char* tip = nullptr) {
  auto* grid = new QTableWidget;
  grid->setObjectName(name);
  if (tip) grid->setToolTip(QString::fromUtf8(tip));
  grid->verticalHeader()->hide();
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionMode(QAbstractItemView::NoSelection);
  grid->verticalHeader()->setDefaultSectionSize(20);
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

QPushButton* CloseButton(const char* name) {
  auto* button = Button("X", name);
  button->setFixedWidth(28);
  return button;
}

// A panel's title row: its caption frame holds the content, the close button sits on top.
QGroupBox* Panel(const char* caption, const char* name, QWidget* host, QLayout* content, const char* closeName) {
  auto* panel = Frame(caption, name);
  panel->setParent(host);
  auto* layout = new QVBoxLayout(panel);
  auto* top = new QHBoxLayout;
  top->addStretch();
  top->addWidget(CloseButton(closeName));
  layout->addLayout(top);
  layout->addLayout(content);
  layout->addStretch();
  panel->setAutoFillBackground(true);
  panel->hide();
  return panel;
}

}  // namespace

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

  QMenu* file = menu(nullptr, "File", "mnuFile");
  commandActions_.push_back(action(file, "Open Profile", "mnuOpenProfile"));

  QMenu* execution = menu(nullptr, "Program Execution", "mnuProgramExecution");
  action(execution, "Run Mode", "mnuRunMode");
  commandActions_.push_back(action(execution, "Read Run State", "mnuReadRunState"));
  action(execution, "UpLoad Program Limits", "mnuUpLoadProgramLimits");

  QMenu* state = menu(nullptr, "Control State", "mnuSynchronize");
  commandActions_.push_back(action(state, "Clear Controller", "mnuClearController"));
  commandActions_.push_back(action(state, "Read Controller State", "mnuReadControllerState"));
  action(state, "DownLoad Controller Memory", "mnuDownLoadControllerMemory");

  QMenu* settings = menu(nullptr, "Controller Settings", "mnuControllerSettings");
  commandActions_.push_back(action(settings, "Hardware Settings", "mnuHardwareSettings"));
  commandActions_.push_back(action(settings, "Single Set Point", "mnuSingleSetPoint"));
  QMenu* autotune = menu(settings, "Autotune", "mnuAutotune");
  commandActions_.push_back(action(autotune, "AutoTune On", "mnuAutoTuneOn"));
  commandActions_.push_back(action(autotune, "AutoTune Off", "mnuAutoTuneOff"));

  connect(action(nullptr, "Edit Profile", "mnuEditProfile"), &QAction::triggered, this,
          &ConsoleWindow::editProfileRequested);

  QMenu* setup = menu(nullptr, "SetUp", "mnuSetUp");
  action(setup, "Comm Port", "mnuSetupCommPort", false);
  action(setup, "Channel Map", "mnuChannelMap", false);

  QMenu* about = menu(nullptr, "About", "mnuAbout");
  action(about, "Info", "mnInfo");
  action(about, "Report a Bug", "mnuReportBug");

  action(nullptr, "Exit", "mnuExit");
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
  form->addRow("Type", Entry("ControllerTypeDisplay", nullptr, true));
  for (QWidget* w : {static_cast<QWidget*>(channelSelect_), static_cast<QWidget*>(addressSelect_),
                     static_cast<QWidget*>(nickNameSelect_)})
    commandWidgets_.push_back(w);
  return frame;
}

QGroupBox* ConsoleWindow::BuildCompiledFrame() {
  auto* frame = Frame("Compiled Profile", "frameCompiledProfile");
  auto* layout = new QVBoxLayout(frame);
  auto* name = new QFormLayout;
  name->addRow("Compile Profile Name",
               Entry("CompileProfileNameDisplay", "Name of the profile to add to controller program memory", true));
  layout->addLayout(name);

  auto* settings = Frame("Sensor  Temp    Time     Progress", "frameCompiledProfileSettings");
  auto* row = new QHBoxLayout(settings);
  for (const char* n : {"txtCompiledProfileSensor", "txtCompiledProfileTemperatureScale", "txtCompiledProfileTimeScale"})
    row->addWidget(Entry(n, nullptr, true));
  progressionSelect_ = new QComboBox;
  progressionSelect_->setObjectName("cmbProgressionSelect");
  row->addWidget(progressionSelect_);
  layout->addWidget(settings);

  auto* compile = new QHBoxLayout;
  auto* compileButton = Button("Compile Profile", "CompileProfileButton");
  commandWidgets_.push_back(compileButton);
  compile->addWidget(compileButton);
  compile->addWidget(new QLabel("Start Address"));
  auto* start = Entry("StartAddressDisplay", "Put the design profile in controller memory starting here");
  start->setMaximumWidth(60);
  compile->addWidget(start);
  compile->addStretch();
  layout->addLayout(compile);

  compiledGrid_ = GridWidget("CompiledProfileFlexGrid", "This is the compiled design profile");
  layout->addWidget(compiledGrid_);
  return frame;
}

QGroupBox* ConsoleWindow::BuildProfileLogFrame() {
  auto* frame = Frame("Profile Log", "frameProfileLog");
  auto* layout = new QVBoxLayout(frame);
  auto* buttons = new QHBoxLayout;
  logSizeButton_ = Button(">", "ProfileLogChangeSize");
  logSizeButton_->setFixedWidth(28);
  buttons->addWidget(logSizeButton_);
  for (auto [caption, name] : {std::pair{"UpLoad Profile", "UpLoadProfileToController"},
                               std::pair{"Select Profile", "SelectRunProfileButton"},
                               std::pair{"Delete Profile", "DeleteProfileEntryButton"}}) {
    auto* b = Button(caption, name);
    if (std::string_view(name) == "SelectRunProfileButton")
      b->setEnabled(false);
    else
      commandWidgets_.push_back(b);
    buttons->addWidget(b);
  }
  buttons->addStretch();
  layout->addLayout(buttons);
  logGrid_ = GridWidget("fgProfileLog");
  layout->addWidget(logGrid_);
  frame->setMinimumWidth(330);
  profileLogFrame_ = frame;
  return frame;
}

QGroupBox* ConsoleWindow::BuildProgramMemoryFrame() {
  auto* frame = Frame("Controller Program Memory", "frameProgramMemoryDisplayFlexGrid");
  auto* layout = new QVBoxLayout(frame);
  memorySizeButton_ = Button(">", "ControllerProgramChangeSize");
  memorySizeButton_->setFixedWidth(28);
  layout->addWidget(memorySizeButton_, 0, Qt::AlignLeft);
  memoryGrid_ = GridWidget("ProgramMemoryDisplayFlexGrid");
  layout->addWidget(memoryGrid_);
  return frame;
}

QGroupBox* ConsoleWindow::BuildRunStateFrame() {
  auto* frame = Frame("Run State", "frameRunState");
  auto* grid = new QGridLayout(frame);
  const char* setPointTip = "Current temperature set point of controller";
  const std::tuple<const char*, const char*, const char*> displays[] = {
      {"Current Step", "CurrentStepDisplay", "Current segment executing in controller program memory"},
      {" Time", "CurrentTimeDisplay", "Current elapsed time of current segment"},
      {"Set Temp", "ProfileSetPointDisplay", setPointTip},
      {"Set Point", "SetPointDisplay", setPointTip},
      {"Process Temp", "ProcessTemperatureDisplay", setPointTip},
      {"Relay 1", "Relay1StateDisplay", "Relay #1 state"},
      {"Relay 2", "Relay2StateDisplay", "Relay #1 state"},
  };
  int i = 0;
  for (auto [caption, name, tip] : displays) {
    grid->addWidget(new QLabel(caption), (i / 4) * 2, i % 4);
    grid->addWidget(Entry(name, tip, true), (i / 4) * 2 + 1, i % 4);
    ++i;
  }
  auto* monitor = new QHBoxLayout;
  monitorButton_ = Button("Monitor Run State", "MonitorRunStateButton");
  monitorLed_ = Led("MonitorRunStateLED");
  monitor->addWidget(monitorButton_);
  monitor->addWidget(monitorLed_);
  grid->addLayout(monitor, 3, 3);
  commandWidgets_.push_back(monitorButton_);
  return frame;
}

QGroupBox* ConsoleWindow::BuildProgramControlFrame() {
  auto* frame = Frame("User Program Control", "frameUserProgramControl");
  auto* layout = new QVBoxLayout(frame);
  auto* name = new QFormLayout;
  name->addRow("Executing Profile Name", Entry("ExecutingProfileNameDisplay", nullptr, true));
  layout->addLayout(name);
  auto* buttons = new QHBoxLayout;
  for (auto [caption, objectName] : {std::pair{"Start Profile", "StartProfileButton"},
                                     std::pair{"Pause Profile", "PauseProfileButton"},
                                     std::pair{"Restart Profile", "RestartProfileButton"}}) {
    auto* b = Button(caption, objectName);
    b->setEnabled(false);
    buttons->addWidget(b);
  }
  layout->addLayout(buttons);
  auto* jump = new QHBoxLayout;
  auto* jumpButton = Button("Jump To", "JumpToSegmentPointButton");
  jumpButton->setEnabled(false);
  jump->addWidget(jumpButton);
  jump->addWidget(new QLabel("Seg"));
  jump->addWidget(Entry("JumpToSegment"));
  jump->addWidget(new QLabel("Time"));
  jump->addWidget(Entry("JumpToTime"));
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
  prompt_->setMinimumHeight(110);
  prompt_->setMaximumHeight(160);
  layout->addWidget(prompt_, 1);

  auto* side = new QVBoxLayout;
  side->addWidget(Button("Clear", "ClearDisplayButton"));
  progress_ = new QProgressBar;
  progress_->setObjectName("TransferProgressBar");
  progress_->setValue(0);
  side->addWidget(progress_);
  cancelButton_ = Button("Cancel", "TransferCancelButton");
  cancelButton_->setToolTip("Stop the transfer under way before its next exchange");
  cancelButton_->setEnabled(false);
  side->addWidget(cancelButton_);
  auto* link = new QHBoxLayout;
  auto* label = new QLabel(options_.simulated ? "Serial Link (simulated)" : "Serial Link");
  label->setObjectName("SerialLinkLabel");
  label->setToolTip(options_.simulated ? "Built-in controller simulator on " + options_.devicePath
                                       : options_.devicePath.isEmpty() ? QString("No serial device") : options_.devicePath);
  commLed_ = Led("CommStatusLED");
  link->addWidget(label);
  link->addWidget(commLed_);
  link->addStretch();
  side->addLayout(link);
  side->addStretch();
  layout->addLayout(side);
  return frame;
}

void ConsoleWindow::BuildPanels(QWidget* host) {
  // Run mode: the ProgramMode options, index = run mode code.
  auto* modes = new QVBoxLayout;
  programMode_ = new QButtonGroup(this);
  programMode_->setObjectName("ProgramMode");
  const char* captions[] = {"SV", "S-SV R/S", "M-SV R/S", "S-PV R/S", "M-PV R/S"};
  for (int code = 0; code < 5; ++code) {
    auto* option = new QRadioButton(captions[code]);
    option->setObjectName(QString("ProgramMode_%1").arg(code));
    programMode_->addButton(option, code);
    modes->addWidget(option);
  }
  auto* setMode = Button("Set Mode", "SetRunModeButton");
  setMode->setEnabled(false);
  modes->addWidget(setMode);
  auto* runMode = Panel("Manual Profile Mode Control", "picRunMode", host, modes, "RunModeXOut");
  runMode->setToolTip(
      "Single Set Point - SV or Ramp / Soak S-SV, M-SV, S-PV, M-PV mode.  S=Seconds, M=Minutes");

  const char* lowTip = "Profile starting point in temperature controller program memory";
  const char* highTip = "Profile end point in temperature controller program memory";
  auto* limits = new QFormLayout;
  limits->addRow("Low Step", Entry("ProgramStepLowDisplay", lowTip));
  limits->addRow("High Step", Entry("ProgramStepHighDisplay", highTip));
  auto* uploadLimits = Button("UpLoad Limits", "UpLoadProgramLimitsButton");
  uploadLimits->setEnabled(false);
  limits->addRow(uploadLimits);
  auto* limitsPanel = Panel("Program Limits", "picUpLoadProgramLimits", host, limits, "picUpLoadProgramLimitsXOut");

  auto* download = new QFormLayout;
  download->addRow("Low Step", Entry("txtStartStep", lowTip));
  download->addRow("High Step", Entry("txtStopStep", highTip));
  auto* downloadButton = Button("DownLoad Memory", "DownLoadControllerProgramMemoryButton");
  commandWidgets_.push_back(downloadButton);
  download->addRow(downloadButton);
  auto* downloadPanel = Panel("DownLoad Memory", "picDownLoadMemory", host, download, "DownLoadXOutButton");

  auto* hardware = new QFormLayout;
  hardware->addRow("Alarm 1", Entry("Alarm1TypeDisplay", "Alarm #1 type setting of the temperature controller"));
  hardware->addRow("Alarm 2", Entry("Alarm2TypeDisplay", "Alarm #2 type setting of the temperature controller"));
  hardware->addRow("Temp Scale",
                   Entry("TemperatureScaleDisplay",
                         "Temperature scale setting of the temperature controller.  This should match design profile setting"));
  hardware->addRow("Sensor",
                   Entry("SensorTypeDisplay",
                         "Sensor Setting of the temperature controller.  This should match design profile setting", true));
  auto* hardwareButtons = new QHBoxLayout;
  auto* read = Button("Read Settings", "DownLoadHardwareSettingsButton");
  auto* write = Button("Write Settings", "UpLoadHardwareSettingsButton");
  hardwareButtons->addWidget(read);
  hardwareButtons->addWidget(write);
  hardware->addRow(hardwareButtons);
  commandWidgets_.push_back(read);
  commandWidgets_.push_back(write);
  auto* hardwarePanel = Panel("Controller Settings", "picHardwareSettings", host, hardware, "ControllerSettingsXOut");

  auto* setPoint = new QFormLayout;
  setPoint->addRow("Set Point", Entry("SingleSetPointDisplay", "Temperature control set point when in SV run mode"));
  auto* writeSetPoint = Button("Write", "UpLoadSetValueButton");
  setPoint->addRow(writeSetPoint);
  commandWidgets_.push_back(writeSetPoint);
  auto* setPointPanel = Panel("Single Set Point", "picSingleSetPoint", host, setPoint, "SingleSetPointXOut");

  panels_ = {runMode, limitsPanel, downloadPanel, hardwarePanel, setPointPanel};
}

}  // namespace tarvel::ui
