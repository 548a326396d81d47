#include "ui/console_window.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QThread>

#include "ui/trend_view.h"

namespace tarvel::ui {
namespace {

using console::Grid;
using console::Led;
using console::RowMark;

QString Q(const std::string& text) { return QString::fromStdString(text); }

QColor LedColour(Led led) {
  switch (led) {
    case Led::Busy: return QColor(255, 255, 0);
    case Led::Idle: return QColor(192, 192, 192);
    case Led::Error: return QColor(255, 0, 0);
  }
  return QColor(192, 192, 192);
}

QBrush MarkBrush(RowMark mark) {
  switch (mark) {
    case RowMark::ProgramRange: return QColor(255, 255, 192);
    case RowMark::CurrentStep: return QColor(128, 255, 128);
    case RowMark::LogEntry: return QColor(0, 255, 0);
    case RowMark::None: break;
  }
  return QBrush();
}

void Paint(QWidget* led, const QColor& colour) {
  QPalette palette = led->palette();
  palette.setColor(QPalette::Window, colour);
  led->setPalette(palette);
}

constexpr int kTwipsPerPixel = 15;

}  // namespace

// --- WindowView: any thread in, the window's thread out

template <class F>
void WindowView::Post(F&& apply) {
  QMetaObject::invokeMethod(&window_, std::forward<F>(apply), Qt::QueuedConnection);
}

template <class F>
auto WindowView::Ask(F&& ask) -> decltype(ask()) {
  if (QThread::currentThread() == window_.thread()) return ask();
  decltype(ask()) answer{};
  QMetaObject::invokeMethod(&window_, [&] { answer = ask(); }, Qt::BlockingQueuedConnection);
  return answer;
}

void WindowView::ShowMessages(const std::string& text) {
  Post([w = &window_, t = Q(text)] { w->ApplyMessages(t); });
}
void WindowView::SetLed(console::Led led) {
  Post([w = &window_, led] { w->ApplyLed(led); });
}
void WindowView::SetField(console::Field field, const std::string& text) {
  Post([w = &window_, field, t = Q(text)] { w->ApplyField(field, t); });
}
void WindowView::SetSelectors(const console::Selectors& selectors) {
  Post([w = &window_, selectors] { w->ApplySelectors(selectors); });
}
void WindowView::SetProgressionChoices(const std::vector<std::string>& choices, int selected) {
  QStringList list;
  for (const auto& c : choices) list << Q(c);
  Post([w = &window_, list, selected] { w->ApplyProgressionChoices(list, selected); });
}
void WindowView::SetProgramMode(int code) {
  Post([w = &window_, code] { w->ApplyProgramMode(code); });
}
void WindowView::SetMonitoring(bool on) {
  Post([w = &window_, on] { w->ApplyMonitoring(on); });
}
void WindowView::SetGridLayout(console::Grid grid, const console::GridLayout& layout) {
  Post([w = &window_, grid, layout] { w->ApplyGridLayout(grid, layout); });
}
void WindowView::SetGridRows(console::Grid grid, const std::vector<std::vector<std::string>>& rows) {
  Post([w = &window_, grid, rows] { w->ApplyGridRows(grid, rows); });
}
void WindowView::SetRowMarks(console::Grid grid, const std::vector<console::RowMark>& marks) {
  Post([w = &window_, grid, marks] { w->ApplyRowMarks(grid, marks); });
}
void WindowView::SetCurrentRow(console::Grid grid, int row) {
  Post([w = &window_, grid, row] { w->ApplyCurrentRow(grid, row); });
}
void WindowView::ScrollTo(console::Grid grid, int topRow) {
  Post([w = &window_, grid, topRow] { w->ApplyScroll(grid, topRow); });
}
void WindowView::SetSizeButton(console::Grid grid, bool wide) {
  Post([w = &window_, grid, wide] { w->ApplySizeButton(grid, wide); });
}
void WindowView::SetProgress(int done, int total) {
  Post([w = &window_, done, total] { w->ApplyProgress(done, total); });
}
void WindowView::ShowWarning(const std::string& title, const std::string& text) {
  if (closing_) return;
  Ask([&] {
    window_.ShowWarningBox(Q(title), Q(text));
    return true;
  });
}
bool WindowView::Confirm(const std::string& title, const std::string& text) {
  if (closing_) return false;
  return Ask([&] { return window_.AskConfirm(Q(title), Q(text)); });
}

// --- the window

ConsoleWindow::ConsoleWindow(WindowOptions options, CommandRunner& runner, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), view_(*this), runner_(runner) {
  setObjectName("Tarvel");
  setWindowTitle(options_.simulated ? "Tarvel (simulated line)" : "Tarvel");
  BuildMenus();

  auto* central = new QWidget;
  auto* grid = new QGridLayout(central);
  channelFrame_ = BuildChannelFrame();
  grid->addWidget(channelFrame_, 0, 0);
  grid->addWidget(BuildRunStateFrame(), 1, 0);
  grid->addWidget(BuildProgramControlFrame(), 2, 0);
  grid->addWidget(BuildCompiledFrame(), 0, 1, 2, 1);
  grid->addWidget(BuildProfileLogFrame(), 2, 1);
  grid->addWidget(BuildProgramMemoryFrame(), 0, 2, 3, 1);
  grid->addWidget(BuildPromptFrame(), 3, 0, 1, 3);
  grid->addWidget(trend_ = new TrendView, 4, 0, 1, 3);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(2, 1);
  grid->setRowStretch(3, 0);
  setCentralWidget(central);
  BuildPanels(central);

  Paint(commLed_, LedColour(Led::Idle));
  Paint(monitorLed_, QColor(192, 192, 192));
  profileRunTimer_.setParent(this);  // findable by name, like every control of the window
  profileRunTimer_.setObjectName("ProfileRunTimer");
  profileRunTimer_.setInterval(15000);
  resize(1280, 1060);
  Connect();
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
  auto action = [this](const char* name) { return findChild<QAction*>(name); };
  auto button = [this](const char* name) { return findChild<QPushButton*>(name); };
  auto text = [this](const char* name) { return findChild<QLineEdit*>(name)->text().toStdString(); };

  connect(&runner_, &CommandRunner::busyChanged, this, &ConsoleWindow::SetBusy);
  connect(&profileRunTimer_, &QTimer::timeout, this, [this] {
    // A tick during another command is skipped, never queued behind it.
    if (!runner_.Busy() && !monitorFedByLineWatch_) Command([](console::Console& c) { c.ReadRunState(); });
  });

  connect(channelSelect_, &QComboBox::activated, this, [this](int i) { Command([i](auto& c) { c.ChooseChannel(i); }); });
  connect(addressSelect_, &QComboBox::activated, this, [this](int i) { Command([i](auto& c) { c.ChooseAddress(i); }); });
  connect(nickNameSelect_, &QComboBox::activated, this,
          [this](int i) { Command([i](auto& c) { c.ChooseNickName(i); }); });

  connect(action("mnuReadRunState"), &QAction::triggered, this, [this] { Command([](auto& c) { c.ReadRunState(); }); });
  connect(action("mnuReadControllerState"), &QAction::triggered, this,
          [this] { Command([](auto& c) { c.ReadControllerState(); }); });
  connect(action("mnuAutoTuneOn"), &QAction::triggered, this, [this] { Command([](auto& c) { c.AutoTune(true); }); });
  connect(action("mnuAutoTuneOff"), &QAction::triggered, this, [this] { Command([](auto& c) { c.AutoTune(false); }); });
  connect(action("mnInfo"), &QAction::triggered, this, [this] { Command([](auto& c) { c.ShowInfo(); }); });
  connect(action("mnuReportBug"), &QAction::triggered, this, [this] { Command([](auto& c) { c.ShowBugReportInfo(); }); });
  connect(action("mnuExit"), &QAction::triggered, this, [] { QApplication::closeAllWindows(); });

  const std::pair<const char*, const char*> panelMenus[] = {
      {"mnuRunMode", "picRunMode"},
      {"mnuUpLoadProgramLimits", "picUpLoadProgramLimits"},
      {"mnuDownLoadControllerMemory", "picDownLoadMemory"},
      {"mnuHardwareSettings", "picHardwareSettings"},
      {"mnuSingleSetPoint", "picSingleSetPoint"}};
  for (auto [menu, panel] : panelMenus) {
    auto* box = findChild<QGroupBox*>(panel);
    connect(action(menu), &QAction::triggered, this, [this, box] { ShowPanel(box); });
  }
  for (const char* menu : {"mnuHardwareSettings", "mnuSingleSetPoint"})
    connect(action(menu), &QAction::triggered, this, [this] { Command([](auto& c) { c.ReadControllerSettings(); }); });
  for (const char* close : {"RunModeXOut", "picUpLoadProgramLimitsXOut", "DownLoadXOutButton", "ControllerSettingsXOut",
                            "SingleSetPointXOut"})
    connect(button(close), &QPushButton::clicked, button(close)->parentWidget(), &QWidget::hide);

  connect(button("ClearDisplayButton"), &QPushButton::clicked, this, [this] {
    if (console_) console_->Messages().ClearDisplay();
  });
  connect(monitorButton_, &QPushButton::clicked, this,
          [this] { Command([](auto& c) { c.SetMonitoring(!c.Monitoring()); }); });
  connect(memorySizeButton_, &QPushButton::clicked, this,
          [this] { Command([](auto& c) { c.ToggleProgramMemorySize(); }); });
  connect(logSizeButton_, &QPushButton::clicked, this, [this] { Command([](auto& c) { c.ToggleProfileLogSize(); }); });
  connect(logGrid_, &QTableWidget::cellClicked, this,
          [this](int row, int) { Command([row](auto& c) { c.SelectLogRow(row + 1); }); });
  connect(programMode_, &QButtonGroup::idClicked, this,
          [this](int code) { Command([code](auto& c) { c.SetSelectedRunMode(code); }); });

  // Programming: open, compile, upload, download, delete, clear.
  connect(action("mnuOpenProfile"), &QAction::triggered, this, [this] {
    const QString file = QFileDialog::getOpenFileName(this, "Edit Profile", options_.profilesFolder,
                                                      "Temperature Profile  (*.txt)");
    Command([path = file.toStdString()](auto& c) { c.OpenProfile(path); });
  });
  // Only what the user types: the window setting "1" at load must not clear the start-up messages.
  connect(findChild<QLineEdit*>("StartAddressDisplay"), &QLineEdit::textEdited, this,
          [this](const QString& t) { Command([text = t.toStdString()](auto& c) { c.SetStartStepText(text); }); });
  connect(button("CompileProfileButton"), &QPushButton::clicked, this,
          [this] { Command([](auto& c) { c.CompileProfile(); }); });
  connect(button("UpLoadProfileToController"), &QPushButton::clicked, this, [this, text] {
    console::UploadInput input{text("CompileProfileNameDisplay"), text("StartAddressDisplay"),
                               progressionSelect_->currentText().toStdString()};
    Command([input](auto& c) { c.UploadProfile(input); });
  });
  connect(button("DeleteProfileEntryButton"), &QPushButton::clicked, this,
          [this] { Command([row = logGrid_->currentRow() + 1](auto& c) { c.DeleteProfile(row); }); });
  connect(action("mnuClearController"), &QAction::triggered, this,
          [this] { Command([](auto& c) { c.ClearController(); }); });
  connect(button("DownLoadControllerProgramMemoryButton"), &QPushButton::clicked, this, [this, text] {
    Command([first = text("txtStartStep"), last = text("txtStopStep")](auto& c) { c.DownloadMemory(first, last); });
  });
  connect(cancelButton_, &QPushButton::clicked, this, [this] {
    if (console_) console_->Cancel();
  });

  connect(button("DownLoadHardwareSettingsButton"), &QPushButton::clicked, this,
          [this] { Command([](auto& c) { c.ReadControllerSettings(); }); });
  connect(button("UpLoadHardwareSettingsButton"), &QPushButton::clicked, this, [this, text] {
    console::SettingsInput input{text("TemperatureScaleDisplay"), text("Alarm1TypeDisplay"), text("Alarm2TypeDisplay")};
    Command([input](auto& c) { c.WriteSettings(input); });
  });
  connect(button("UpLoadSetValueButton"), &QPushButton::clicked, this, [this, text] {
    Command([value = text("SingleSetPointDisplay")](auto& c) { c.WriteSingleSetPoint(value); });
  });

  // Run control: select, start, pause, restart, jump, the run mode and program limits panels.
  for (const char* name : {"SelectRunProfileButton", "StartProfileButton", "PauseProfileButton", "RestartProfileButton",
                           "JumpToSegmentPointButton", "SetRunModeButton", "UpLoadProgramLimitsButton"}) {
    button(name)->setEnabled(true);
    commandWidgets_.push_back(button(name));
  }
  connect(button("SelectRunProfileButton"), &QPushButton::clicked, this,
          [this] { Command([row = logGrid_->currentRow() + 1](auto& c) { c.Run().SelectRunProfile(row); }); });
  connect(button("StartProfileButton"), &QPushButton::clicked, this, [this] { Command([](auto& c) { c.Run().StartProfile(); }); });
  connect(button("PauseProfileButton"), &QPushButton::clicked, this, [this] { Command([](auto& c) { c.Run().PauseProfile(); }); });
  connect(button("RestartProfileButton"), &QPushButton::clicked, this,
          [this] { Command([](auto& c) { c.Run().RestartProfile(); }); });
  connect(button("JumpToSegmentPointButton"), &QPushButton::clicked, this, [this, text] {
    Command([segment = text("JumpToSegment"), time = text("JumpToTime")](auto& c) { c.Run().JumpToSegmentPoint(segment, time); });
  });
  connect(button("SetRunModeButton"), &QPushButton::clicked, this, [this] { Command([](auto& c) { c.Run().SetRunMode(); }); });
  connect(button("UpLoadProgramLimitsButton"), &QPushButton::clicked, this, [this, text] {
    Command([low = text("ProgramStepLowDisplay"), high = text("ProgramStepHighDisplay")](auto& c) {
      c.Run().UploadProgramLimits(low, high);
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
  if (event->type() == QEvent::WindowActivate) activateOnReturn_ = true;
  return QMainWindow::eventFilter(watched, event);
}

void ConsoleWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && activateOnReturn_) {
    activateOnReturn_ = false;
    Command([](console::Console& c) { c.Activate(); });
  }
}

void ConsoleWindow::ShowPanel(QGroupBox* panel) {
  panel->adjustSize();
  panel->resize(std::max(panel->width(), channelFrame_->width()), std::max(panel->height(), channelFrame_->height()));
  panel->move(channelFrame_->pos());
  panel->raise();
  panel->show();
}

void ConsoleWindow::SetBusy(bool busy) {
  for (QWidget* w : commandWidgets_) w->setEnabled(!busy);
  for (QAction* a : commandActions_) a->setEnabled(!busy);
  cancelButton_->setEnabled(busy);
  if (!busy) {
    emit commandsIdle();
    if (closing_) close();
  }
}

void ConsoleWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (centred_) return;
  centred_ = true;
  if (QScreen* screen = this->screen()) {
    QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
  }
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
  profileRunTimer_.stop();
  if (runner_.Busy()) {
    // Let the exchange under way finish; the window closes when the command thread is idle.
    closing_ = true;
    view_.SetClosing();
    event->ignore();
    return;
  }
  runner_.Shutdown();
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

// --- applied on the window's thread

void ConsoleWindow::ApplyMessages(const QString& text) {
  QString shown = text;
  shown.replace("\r\n", "\n");
  prompt_->setPlainText(shown);
  prompt_->verticalScrollBar()->setValue(prompt_->verticalScrollBar()->maximum());
}

void ConsoleWindow::ApplyLed(Led led) { Paint(commLed_, LedColour(led)); }

void ConsoleWindow::ApplyField(console::Field field, const QString& text) {
  if (auto* edit = findChild<QLineEdit*>(console::ObjectName(field))) edit->setText(text);
}

void ConsoleWindow::ApplySelectors(const console::Selectors& s) {
  auto fill = [](QComboBox* box, const std::vector<std::string>& items, int index) {
    QSignalBlocker block(box);
    box->clear();
    for (const auto& item : items) box->addItem(Q(item));
    box->setCurrentIndex(index);
  };
  fill(channelSelect_, s.channels, s.channelIndex);
  fill(addressSelect_, s.addresses, s.addressIndex);
  fill(nickNameSelect_, s.nickNames, s.nickNameIndex);
}

void ConsoleWindow::ApplyProgressionChoices(const QStringList& choices, int selected) {
  progressionSelect_->clear();
  progressionSelect_->addItems(choices);
  progressionSelect_->setCurrentIndex(selected);
}

void ConsoleWindow::ApplyProgramMode(int code) {
  if (QAbstractButton* option = programMode_->button(code)) {
    option->setChecked(true);
    return;
  }
  programMode_->setExclusive(false);
  for (QAbstractButton* b : programMode_->buttons()) b->setChecked(false);
  programMode_->setExclusive(true);
}

void ConsoleWindow::ApplyMonitoring(bool on) {
  Paint(monitorLed_, on ? QColor(0, 255, 0) : QColor(192, 192, 192));
  if (on)
    profileRunTimer_.start();
  else
    profileRunTimer_.stop();
}

void ConsoleWindow::ApplyGridLayout(Grid grid, const console::GridLayout& layout) {
  QTableWidget* table = GridOf(grid);
  const int columns = static_cast<int>(layout.headers.size());
  table->setColumnCount(columns);
  QStringList headers;
  for (const auto& h : layout.headers) headers << Q(h);
  table->setHorizontalHeaderLabels(headers);
  for (int c = 0; c < columns; ++c) {
    int width = layout.widthsTwips[c] / kTwipsPerPixel;
    table->setColumnHidden(c, width == 0);
    if (width > 0) table->setColumnWidth(c, width);
  }
  if (grid == Grid::ProgramMemory) {
    // The memory grid is as wide as its shown columns: the narrow and wide layouts differ by two.
    int width = 2 * table->frameWidth() + table->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < columns; ++c) width += table->isColumnHidden(c) ? 0 : table->columnWidth(c);
    table->setFixedWidth(width);
  }
  if (grid == Grid::ProfileLog) profileLogFrame_->setMinimumWidth(logSizeButton_->text() == "<" ? 660 : 330);
}

void ConsoleWindow::ApplyGridRows(Grid grid, const std::vector<std::vector<std::string>>& rows) {
  QTableWidget* table = GridOf(grid);
  table->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    for (int c = 0; c < static_cast<int>(rows[r].size()) && c < table->columnCount(); ++c) {
      auto* item = new QTableWidgetItem(Q(rows[r][c]));
      item->setTextAlignment(Qt::AlignCenter);
      table->setItem(r, c, item);
    }
  }
}

void ConsoleWindow::ApplyRowMarks(Grid grid, const std::vector<RowMark>& marks) {
  QTableWidget* table = GridOf(grid);
  for (int r = 0; r < table->rowCount() && r < static_cast<int>(marks.size()); ++r)
    for (int c = 0; c < table->columnCount(); ++c)
      if (QTableWidgetItem* item = table->item(r, c)) item->setBackground(MarkBrush(marks[r]));
}

void ConsoleWindow::ApplyCurrentRow(Grid grid, int row) {
  QTableWidget* table = GridOf(grid);
  if (row >= 1 && row <= table->rowCount()) table->setCurrentCell(row - 1, 2);
}

void ConsoleWindow::ApplyScroll(Grid grid, int topRow) {
  QTableWidget* table = GridOf(grid);
  if (topRow >= 1 && topRow <= table->rowCount())
    table->scrollTo(table->model()->index(topRow - 1, 2), QAbstractItemView::PositionAtTop);
}

void ConsoleWindow::ApplySizeButton(Grid grid, bool wide) {
  (grid == Grid::ProfileLog ? logSizeButton_ : memorySizeButton_)->setText(wide ? "<" : ">");
}

void ConsoleWindow::ApplyProgress(int done, int total) {
  progress_->setMaximum(total > 0 ? total : 1);
  progress_->setValue(done);
}

void ConsoleWindow::ShowWarningBox(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
  box.exec();
}

bool ConsoleWindow::AskConfirm(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok | QMessageBox::Cancel, this);
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

}  // namespace tarvel::ui
