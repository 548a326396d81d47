#include "ui/console_window.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QThread>

#include "ui/trend_view.h"
#include "ui/window_placement.h"

namespace tarvel::ui {

using console::Grid;

// --- the window

ConsoleWindow::ConsoleWindow(WindowOptions options, CommandRunner& runner, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), view_(*this), runner_(runner) {
  setObjectName("Tarvel");
  setWindowTitle(options_.simulated ? "Tarvel (simulated line)" : "Tarvel");
  BuildMenus();

  // Three columns side by side, the message area below them, the run trend docked under all:
  // splitters and the dock share the window out, so every control shows on a 1366x768 screen
  // and the grids and the trend take what a larger one offers.
  auto column = [](const char* name, std::initializer_list<QWidget*> frames, int stretchLast) {
    auto* pane = new QWidget;
    pane->setObjectName(name);
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* frame : frames) layout->addWidget(frame);
    if (stretchLast)
      layout->setStretch(static_cast<int>(frames.size()) - stretchLast, 1);
    else
      layout->addStretch();
    return pane;
  };
  channelFrame_ = BuildChannelFrame();
  leftPane_ = column("ChannelColumn", {channelFrame_, BuildProgramControlFrame()}, 0);
  auto* middle = new QSplitter(Qt::Vertical);
  middle->setObjectName("ProfileColumn");
  middle->setChildrenCollapsible(false);
  middle->addWidget(BuildCompiledFrame());
  middle->addWidget(BuildProfileLogFrame());
  middlePane_ = middle;
  rightPane_ = column("MemoryColumn", {BuildProgramMemoryFrame(), BuildRunStateFrame()}, 2);
  columns_ = new QSplitter(Qt::Horizontal);
  columns_->setObjectName("ConsoleColumns");
  columns_->setChildrenCollapsible(false);
  for (QWidget* pane : {leftPane_, middlePane_, rightPane_}) columns_->addWidget(pane);
  columns_->setStretchFactor(0, 0);
  columns_->setStretchFactor(1, 1);
  columns_->setStretchFactor(2, 1);
  promptSplit_ = new QSplitter(Qt::Vertical);
  promptSplit_->setObjectName("ConsolePromptSplitter");
  promptSplit_->setChildrenCollapsible(false);
  promptSplit_->addWidget(columns_);
  promptSplit_->addWidget(BuildPromptFrame());
  promptSplit_->setStretchFactor(0, 1);
  promptSplit_->setStretchFactor(1, 0);
  setCentralWidget(promptSplit_);
  BuildPanels(leftPane_);
  channelFrame_->installEventFilter(this);  // the panels follow the frame they cover

  setDockNestingEnabled(true);
  trendDock_ = new QDockWidget("Run trend");
  trendDock_->setObjectName("RunTrendDock");
  trendDock_->setWidget(trend_ = new TrendView);
  AddDock(trendDock_);

  ApplyLed(console::Led::Idle);
  ApplyMonitoring(false);
  profileRunTimer_.setParent(this);  // findable by name, like every control of the window
  profileRunTimer_.setObjectName("ProfileRunTimer");
  profileRunTimer_.setInterval(15000);
  Connect();
}

void ConsoleWindow::AddDock(QDockWidget* dock, Qt::DockWidgetArea area) {
  addDockWidget(area, dock);
  docks_.push_back(dock);
  QAction* toggle = dock->toggleViewAction();
  toggle->setObjectName("mnuView" + dock->objectName());
  viewMenu_->insertAction(viewMenu_->actions().value(viewMenu_->actions().size() - 2), toggle);
}

void ConsoleWindow::ShareOut() {
  // Columns: the channel column what its controls need, the memory grid its columns, the
  // profile grids the rest.
  const int width = columns_->width();
  const int left = leftPane_->minimumSizeHint().width();
  int right = memoryGrid_->verticalScrollBar()->sizeHint().width() + 30 + memorySizeButton_->width() + 6;
  for (int twips : console::ProgramMemoryLayout(false).widthsTwips) right += twips / kTwipsPerPixel;
  right = std::max(right, rightPane_->minimumSizeHint().width());
  const int middle = std::max(middlePane_->minimumSizeHint().width(), width - left - right);
  columns_->setSizes({left, middle, right});
  narrowSizes_.clear();
  // Heights: the columns what shows five steps of the memory map and three profiles of the log,
  // the message area four lines (six on a tall screen), and the docks -- the trend and the
  // overview -- the rest, up to half the window: on a laptop the trend gets what the described
  // controls leave.
  const bool small = height() < 900;
  const int prompt = (small ? 4 : 6) * prompt_->fontMetrics().lineSpacing() + 44;
  const int columns =
      std::max(columns_->minimumSizeHint().height() + 40, rightPane_->minimumSizeHint().height() + 3 * 20);
  std::vector<QDockWidget*> docked;
  for (QDockWidget* dock : docks_)
    if (dock->isVisible() && !dock->isFloating() && dockWidgetArea(dock) == Qt::BottomDockWidgetArea)
      docked.push_back(dock);
  if (!docked.empty()) {
    int dockMin = 0;
    for (QDockWidget* dock : docked) dockMin = std::max(dockMin, dock->minimumSizeHint().height());
    const int room = height() - menuBar()->height() - columns - prompt - 16;
    const int docks = std::clamp(room, dockMin, std::max(dockMin, height() / 2));
    QList<QDockWidget*> list(docked.begin(), docked.end());
    QList<int> heights(list.size(), docks);
    resizeDocks(list, heights, Qt::Vertical);
    // Side by side: the overview what shows its first columns, the trend the rest.
    if (list.size() > 1) {
      QList<int> widths;
      int others = 0;
      for (int i = 1; i < list.size(); ++i) {
        widths.append(std::max(list[i]->minimumSizeHint().width(), this->width() / 2));
        others += widths.back();
      }
      widths.prepend(std::max(list[0]->minimumSizeHint().width(), this->width() - others));
      resizeDocks(list, widths, Qt::Horizontal);
    }
  }
  // Once the docks have taken their height: the prompt its lines, the profile log the larger grid.
  QTimer::singleShot(0, this, [this, prompt] {
    promptSplit_->setSizes({promptSplit_->height() - prompt, prompt});
    auto* profiles = static_cast<QSplitter*>(middlePane_);
    // The profile log three rows first (its rows are the profiles in the controller), then both
    // grids share what is left.
    const int compiled = profiles->widget(0)->minimumSizeHint().height();
    const int log = profiles->widget(1)->minimumSizeHint().height();
    const int extra = std::max(0, profiles->height() - profiles->handleWidth() - compiled - log);
    const int toLog = std::min(extra, 40) + std::max(0, extra - 40) * 3 / 5;
    profiles->setSizes({compiled + extra - toLog, log + toLog});
  });
}

void ConsoleWindow::ResetLayout() {
  // Every dock back in the bottom area, side by side in the order they were added, and shown.
  for (QDockWidget* dock : docks_) {
    dock->setFloating(false);
    addDockWidget(Qt::BottomDockWidgetArea, dock);
    dock->show();
  }
  ShareOut();
}

void ConsoleWindow::WidenPane(QWidget* pane, int wanted, bool wide) {
  if (!wide) {
    if (!narrowSizes_.isEmpty()) columns_->setSizes(narrowSizes_);
    narrowSizes_.clear();
    return;
  }
  QList<int> sizes = columns_->sizes();
  if (narrowSizes_.isEmpty()) narrowSizes_ = sizes;
  const int index = columns_->indexOf(pane);
  int missing = wanted - sizes[index];
  // Taken from the other columns, the widest first, never below what their controls need.
  for (int pass = 0; pass < 2 && missing > 0; ++pass) {
    for (int i = 0; i < sizes.size() && missing > 0; ++i) {
      if (i == index) continue;
      const int spare = sizes[i] - columns_->widget(i)->minimumSizeHint().width();
      const int take = std::clamp(pass == 0 ? spare / 2 : spare, 0, missing);
      sizes[i] -= take;
      sizes[index] += take;
      missing -= take;
    }
  }
  columns_->setSizes(sizes);
}

ConsoleWindow::~ConsoleWindow() { runner_.Shutdown(); }

void ConsoleWindow::Start(console::Console& console) {
  console_ = &console;
  trend_->Follow(console.Recorder());
  Command([](console::Console& c) {
    c.Load();
    c.Activate();
  });
}

void ConsoleWindow::Command(std::function<void(console::Console&)> work) {
  if (!console_ || closing_) return;
  runner_.Run([c = console_, work = std::move(work)] { work(*c); });
}

void ConsoleWindow::Connect() {
  connect(&runner_, &CommandRunner::busyChanged, this, &ConsoleWindow::SetBusy);
  connect(&profileRunTimer_, &QTimer::timeout, this, [this] {
    // A tick during another command is skipped, never queued behind it.
    if (!runner_.Busy() && !monitorFedByLineWatch_) Command([](console::Console& c) { c.MonitorTick(); });
  });
  connect(channelSelect_, &QComboBox::activated, this,
          [this](int i) { Command([i](auto& c) { c.Selection().ChooseChannel(i); }); });
  connect(addressSelect_, &QComboBox::activated, this,
          [this](int i) { Command([i](auto& c) { c.Selection().ChooseAddress(i); }); });
  connect(nickNameSelect_, &QComboBox::activated, this,
          [this](int i) { Command([i](auto& c) { c.Selection().ChooseNickName(i); }); });
  connect(controls_.clearDisplay, &QPushButton::clicked, this, [this] {
    if (console_) console_->Messages().ClearDisplay();
  });
  connect(cancelButton_, &QPushButton::clicked, this, [this] {
    if (console_) console_->Cancel();
  });
  connect(monitorButton_, &QPushButton::clicked, this,
          [this] { Command([](auto& c) { c.SetMonitoring(!c.RunMonitor().Monitoring()); }); });
  connect(memorySizeButton_, &QPushButton::clicked, this,
          [this] { Command([](auto& c) { c.Memory().ToggleSize(); }); });
  connect(logSizeButton_, &QPushButton::clicked, this, [this] { Command([](auto& c) { c.Log().ToggleSize(); }); });
  connect(logGrid_, &QTableWidget::cellClicked, this,
          [this](int row, int) { Command([row](auto& c) { c.Log().SelectLogRow(row + 1); }); });
  connect(programMode_, &QButtonGroup::idClicked, this,
          [this](int code) { Command([code](auto& c) { c.RunMonitor().SetSelectedRunMode(code); }); });
  ConnectMenus();
  ConnectProgramming();
  ConnectSettings();
  ConnectRunControl();
}

void ConsoleWindow::ConnectMenus() {
  const Controls& m = controls_;
  connect(m.readRunState, &QAction::triggered, this,
          [this] { Command([](auto& c) { c.RunMonitor().ReadRunState(); }); });
  connect(m.readControllerState, &QAction::triggered, this,
          [this] { Command([](auto& c) { c.ReadControllerState(); }); });
  connect(m.autoTuneOn, &QAction::triggered, this,
          [this] { Command([](auto& c) { c.ControllerSettings().AutoTune(true); }); });
  connect(m.autoTuneOff, &QAction::triggered, this,
          [this] { Command([](auto& c) { c.ControllerSettings().AutoTune(false); }); });
  connect(m.info, &QAction::triggered, this, [this] { Command([](auto& c) { c.ShowInfo(); }); });
  connect(m.reportBug, &QAction::triggered, this, [this] { Command([](auto& c) { c.ShowBugReportInfo(); }); });
  connect(m.exit, &QAction::triggered, this, [this] {
    if (!ConfirmExit()) return;
    exitConfirmed_ = true;
    QApplication::closeAllWindows();
  });
  // The panels, in the order BuildPanels made them.
  const QAction* panelMenus[] = {m.runModeMenu, m.limitsMenu, m.downloadMenu, m.hardwareSettings, m.singleSetPoint};
  for (std::size_t i = 0; i < std::size(panelMenus); ++i)
    connect(panelMenus[i], &QAction::triggered, this, [this, box = panels_[i]] { ShowPanel(box); });
  for (const QAction* menu : {m.hardwareSettings, m.singleSetPoint})
    connect(menu, &QAction::triggered, this,
            [this] { Command([](auto& c) { c.ControllerSettings().ReadControllerSettings(); }); });
}

void ConsoleWindow::ConnectProgramming() {
  using console::Field;
  auto text = [this](Field field) { return fields_.at(field)->text().toStdString(); };
  connect(controls_.openProfile, &QAction::triggered, this, [this] {
    const QString file =
        QFileDialog::getOpenFileName(this, "Edit Profile", options_.profilesFolder, "Temperature Profile  (*.txt)");
    Command([path = file.toStdString()](auto& c) { c.Program().OpenProfile(path); });
  });
  // Only what the user types: the window setting "1" at load must not clear the start-up messages.
  connect(fields_.at(Field::StartAddress), &QLineEdit::textEdited, this, [this](const QString& t) {
    Command([text = t.toStdString()](auto& c) { c.Program().SetStartStepText(text); });
  });
  connect(controls_.compile, &QPushButton::clicked, this,
          [this] { Command([](auto& c) { c.Program().BuildAndCheckTarget(); }); });
  connect(controls_.upload, &QPushButton::clicked, this, [this, text] {
    console::UploadInput input{text(Field::CompileProfileName), text(Field::StartAddress),
                               progressionSelect_->currentText().toStdString()};
    Command([input](auto& c) { c.ProfileUpload().Run(input); });
  });
  connect(controls_.deleteEntry, &QPushButton::clicked, this,
          [this] { Command([row = logGrid_->currentRow() + 1](auto& c) { c.Log().DeleteProfile(row); }); });
  connect(controls_.clearController, &QAction::triggered, this,
          [this] { Command([](auto& c) { c.Log().ClearProfileLog(); }); });
  connect(controls_.download, &QPushButton::clicked, this, [this, text] {
    Command([first = text(Field::DownloadStartStep), last = text(Field::DownloadStopStep)](auto& c) {
      c.Memory().DownloadMemory(first, last);
    });
  });
}

void ConsoleWindow::ConnectSettings() {
  using console::Field;
  auto text = [this](Field field) { return fields_.at(field)->text().toStdString(); };
  connect(controls_.readSettings, &QPushButton::clicked, this,
          [this] { Command([](auto& c) { c.ControllerSettings().ReadControllerSettings(); }); });
  connect(controls_.writeSettings, &QPushButton::clicked, this, [this, text] {
    console::SettingsInput input{text(Field::TemperatureScale), text(Field::Alarm1Type), text(Field::Alarm2Type)};
    Command([input](auto& c) { c.ControllerSettings().WriteSettings(input); });
  });
  connect(controls_.writeSetPoint, &QPushButton::clicked, this, [this, text] {
    Command([value = text(Field::SingleSetPoint)](auto& c) { c.RunControls().SetValue(value); });
  });
}

// Run control: select, start, pause, restart, jump, the run mode and program limits panels.
void ConsoleWindow::ConnectRunControl() {
  const Controls& r = controls_;
  commandWidgets_.insert(commandWidgets_.end(),
                         {r.select, r.start, r.pause, r.restart, r.jump, r.setMode, r.uploadLimits});
  connect(r.select, &QPushButton::clicked, this,
          [this] { Command([row = logGrid_->currentRow() + 1](auto& c) { c.RunControls().SelectRunProfile(row); }); });
  connect(r.start, &QPushButton::clicked, this, [this] {
    if (!startGate_ || startGate_()) Command([](auto& c) { c.RunControls().StartProfile(); });
  });
  connect(r.pause, &QPushButton::clicked, this, [this] { Command([](auto& c) { c.RunControls().PauseProfile(); }); });
  connect(r.restart, &QPushButton::clicked, this,
          [this] { Command([](auto& c) { c.RunControls().RestartProfile(); }); });
  connect(r.jump, &QPushButton::clicked, this, [this] {
    Command([segment = controls_.jumpSegment->text().toStdString(), time = controls_.jumpTime->text().toStdString()](
                auto& c) { c.RunControls().JumpToSegmentPoint(segment, time); });
  });
  connect(r.setMode, &QPushButton::clicked, this, [this] { Command([](auto& c) { c.RunControls().SetRunMode(); }); });
  connect(r.uploadLimits, &QPushButton::clicked, this, [this] {
    using console::Field;
    Command([low = fields_.at(Field::ProgramStepLow)->text().toStdString(),
             high = fields_.at(Field::ProgramStepHigh)->text().toStdString()](auto& c) {
      c.RunControls().UploadProgramLimits(low, high);
    });
  });
}

void ConsoleWindow::AddToolWindow(const char* menuName, QWidget* window) {
  auto* entry = findChild<QAction*>(menuName);
  entry->setEnabled(true);
  entry->setToolTip({});
  connect(entry, &QAction::triggered, window, [window] {
    window->show();
    window->raise();
    window->activateWindow();
  });
  window->installEventFilter(this);
  toolWindows_.push_back(window);
}

bool ConsoleWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == channelFrame_) {
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move) FitPanels();
    return QMainWindow::eventFilter(watched, event);
  }
  if (event->type() == QEvent::WindowActivate) activateOnReturn_ = true;
  return QMainWindow::eventFilter(watched, event);
}

void ConsoleWindow::FitPanels() {
  for (QGroupBox* panel : panels_) panel->setGeometry(channelFrame_->geometry());
}

void ConsoleWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && activateOnReturn_) {
    activateOnReturn_ = false;
    Command([](console::Console& c) { c.Activate(); });
  }
}

void ConsoleWindow::ShowPanel(QGroupBox* panel) {
  panel->setGeometry(channelFrame_->geometry());
  panel->raise();
  panel->show();
}

void ConsoleWindow::SetBusy(bool busy) {
  for (QWidget* w : commandWidgets_) w->setEnabled(!busy);
  for (QAction* a : commandActions_) a->setEnabled(!busy);
  cancelButton_->setEnabled(busy);
  if (!busy) {
    progress_->reset();  // idle again, whether the command finished, failed or was cancelled
    emit commandsIdle();
    if (closing_) close();
  }
}

void ConsoleWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (placed_) return;
  placed_ = true;
  // Placed once every dock has been added: the kept layout names them all.
  restored_ = RestorePlacement(this, options_.placementFile, QSize(1500, 1000));
  KeepOnScreen(this);
  layout()->activate();  // the splitters at the size the window now has
  // A window manager tells the frame it drew only once the window is mapped.
  QTimer::singleShot(250, this, [this] { KeepOnScreen(this); });
  if (restored_) {
    RestoreSplitter(columns_, options_.placementFile);
    RestoreSplitter(promptSplit_, options_.placementFile);
  } else {
    ShareOut();
  }
}

bool ConsoleWindow::ConfirmExit() {
  const QString reasons = exitReasons_ ? exitReasons_() : QString();
  if (reasons.isEmpty()) return true;
  QMessageBox box(QMessageBox::Warning, "Exit", "Exit Tarvel?\n" + reasons, QMessageBox::Ok | QMessageBox::Cancel,
                  this);
  box.setDefaultButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok;
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
  if (!exitConfirmed_ && !closing_) {
    if (!ConfirmExit()) {
      event->ignore();
      return;
    }
    exitConfirmed_ = true;
  }
  profileRunTimer_.stop();
  if (runner_.Busy()) {
    // Let the exchange under way finish; the window closes when the command thread is idle.
    closing_ = true;
    view_.SetClosing();
    event->ignore();
    return;
  }
  runner_.Shutdown();
  SavePlacement(this, options_.placementFile);
  SaveSplitter(columns_, options_.placementFile);
  SaveSplitter(promptSplit_, options_.placementFile);
  for (QWidget* window : toolWindows_) window->close();  // "Exit" of the console ends every window
  event->accept();
}

QTableWidget* ConsoleWindow::GridOf(Grid grid) const {
  switch (grid) {
    case Grid::ProgramMemory: return memoryGrid_;
    case Grid::ProfileLog: return logGrid_;
    case Grid::CompiledProfile: return compiledGrid_;
  }
  return memoryGrid_;
}

}  // namespace tarvel::ui
