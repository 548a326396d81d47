// The profile editor's widgets and menus, with the control names and captions users and tests
// know them by.
#include <QAction>
#include <QActionGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QVBoxLayout>

#include "store/config_store.h"
#include "ui/edit_chart.h"
#include "ui/profile_editor_grid.h"
#include "ui/profile_editor_model.h"
#include "ui/profile_editor_window.h"

namespace tarvel::ui {
namespace {

QGroupBox* Frame(const char* caption, const char* name) {
  auto* box = new QGroupBox(caption);
  box->setObjectName(name);
  return box;
}

// Widths in twips at 15 twips per pixel.
constexpr int kSegWidth = 1000 / 15;
constexpr int kCellWidth = 1300 / 15;

}  // namespace

void ProfileEditorWindow::BuildLayout() {
  // Left the profile's name over its worksheet; right the chart with its log file and plot
  // check boxes over it; the message area below both. Splitters share the window out, so a small
  // screen shows every control and a large one gives the chart the room.
  sheetAndChart_ = new QSplitter(Qt::Horizontal);
  sheetAndChart_->setObjectName("SheetAndChartSplitter");
  sheetAndChart_->setChildrenCollapsible(false);
  auto* sheetSide = new QWidget;
  auto* sheetLayout = new QVBoxLayout(sheetSide);
  sheetLayout->setContentsMargins(0, 0, 0, 0);
  auto* profileFrame = Frame("Profile", "fraProfile");
  profileName_ = new QLineEdit;
  profileName_->setObjectName("Edit_Profile_Name");
  profileName_->setReadOnly(true);
  profileName_->setToolTip(
      "Profile Name Display:  Enter name via dialog box brought up through the Flie Menu -> open, save or saveas "
      "functions");
  (new QHBoxLayout(profileFrame))->addWidget(profileName_);
  sheetLayout->addWidget(profileFrame);

  auto* sheetFrame = Frame("Profile Spreadsheet", "fraProfileSpreadsheet");
  grid_ = new WorksheetView;
  grid_->setObjectName("Profile_FlexGrid");
  grid_->setModel(model_);
  delegate_ = new CellDelegate(grid_);
  grid_->setItemDelegate(delegate_);
  grid_->verticalHeader()->hide();
  grid_->verticalHeader()->setDefaultSectionSize(20);
  grid_->setColumnWidth(profile::kSeg, kSegWidth);
  for (int column = 1; column < profile::kTableColumns; ++column) grid_->setColumnWidth(column, kCellWidth);
  grid_->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
  grid_->setMinimumSize(4 * kCellWidth, 6 * 20);
  (new QVBoxLayout(sheetFrame))->addWidget(grid_);
  sheetLayout->addWidget(sheetFrame, 1);
  sheetAndChart_->addWidget(sheetSide);

  chart_ = new EditChart(folder_);
  chart_->layout()->setContentsMargins(0, 0, 0, 0);
  sheetAndChart_->addWidget(chart_);
  sheetAndChart_->setStretchFactor(0, 0);
  sheetAndChart_->setStretchFactor(1, 1);

  auto* promptFrame = Frame("User Prompt", "fraUserPrompt");
  promptWidget_ = new QPlainTextEdit;
  promptWidget_->setObjectName("User_Prompt");
  promptWidget_->setReadOnly(true);
  promptWidget_->setToolTip("Watch for messages that guide you when creating profiles");
  promptWidget_->setMinimumHeight(3 * promptWidget_->fontMetrics().lineSpacing() + 10);
  (new QVBoxLayout(promptFrame))->addWidget(promptWidget_);
  prompt_.Attach(promptWidget_);

  sheetAndPrompt_ = new QSplitter(Qt::Vertical);
  sheetAndPrompt_->setObjectName("SheetAndPromptSplitter");
  sheetAndPrompt_->setChildrenCollapsible(false);
  sheetAndPrompt_->addWidget(sheetAndChart_);
  sheetAndPrompt_->addWidget(promptFrame);
  sheetAndPrompt_->setStretchFactor(0, 1);
  sheetAndPrompt_->setStretchFactor(1, 0);
  setCentralWidget(sheetAndPrompt_);
}

// The worksheet whole when the screen allows it, the chart the rest; the message area a few lines.
void ProfileEditorWindow::ShareOutSplitters() {
  const int sheet = kSegWidth + 9 * kCellWidth + grid_->verticalScrollBar()->sizeHint().width() + 30;
  const int width = sheetAndChart_->width();
  const int chartRoom = std::max(chart_->minimumSizeHint().width(), 420);
  sheetAndChart_->setSizes(
      {width - chartRoom >= sheet ? sheet : width * 3 / 5, width - chartRoom >= sheet ? width - sheet : width * 2 / 5});
  const int height = sheetAndPrompt_->height();
  const int prompt = 6 * promptWidget_->fontMetrics().lineSpacing() + 40;
  sheetAndPrompt_->setSizes({height - prompt, prompt});
}

void ProfileEditorWindow::BuildMenus() {
  auto* bar = menuBar();
  auto menu = [&](QMenu* parent, const char* caption, const char* name) {
    QMenu* m = parent ? parent->addMenu(caption) : bar->addMenu(caption);
    m->setObjectName(name);
    m->menuAction()->setObjectName(name);
    return m;
  };
  auto action = [&](QMenu* parent, const char* caption, const char* name, auto slot) {
    QAction* a = parent->addAction(caption);
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };

  QMenu* file = menu(nullptr, "File", "mnuFile");
  action(file, "Open Profile", "mnuFileOpen", [this] { OpenProfile(); })->setShortcut(QKeySequence::Open);
  file->addAction(chart_->LoadLogFileAction());
  action(file, "Save", "mnuSaveFile", [this] { Save(); })->setShortcut(QKeySequence::Save);
  action(file, "SaveAs", "mnuSaveFileAs", [this] { SaveAs(); })->setShortcut(QKeySequence::SaveAs);
  action(file, "New", "mnuNew", [this] { New(); })->setShortcut(QKeySequence::New);
  file->addSeparator();
  file->addActions(chart_->ChartActions());
  file->addSeparator();
  action(file, "Import Worksheet CSV", "mnuImportCsv", [this] { ImportCsv(); });
  action(file, "Export Worksheet CSV", "mnuExportCsv", [this] { ExportCsv(); });

  QMenu* edit = menu(nullptr, "Edit", "mnuEdit");
  QAction* undo = undo_.createUndoAction(this, "Undo");
  undo->setObjectName("mnuUndo");
  undo->setShortcut(QKeySequence("Ctrl+Z"));
  QAction* redo = undo_.createRedoAction(this, "Redo");
  redo->setObjectName("mnuRedo");
  redo->setShortcuts({QKeySequence("Ctrl+Shift+Z"), QKeySequence("Ctrl+Y")});
  edit->addAction(undo);
  edit->addAction(redo);
  edit->addSeparator();
  action(edit, "Copy", "mnuCopy", [this] { Copy(); })->setShortcut(QKeySequence::Copy);
  action(edit, "Paste", "mnuPaste", [this] { Paste(); })->setShortcut(QKeySequence::Paste);

  BuildSensorMenu(menu(nullptr, "Select Sensor Type", "mnuSelectSensorType"));

  QMenu* scales = menu(nullptr, "Scales", "mnuScales");
  QMenu* temp = menu(scales, "Temp", "mnuTemp");
  auto* tempGroup = new QActionGroup(this);
  auto scale = [&](QMenu* parent, QActionGroup* group, const char* caption, const char* name, auto slot) {
    QAction* a = action(parent, caption, name, slot);
    a->setCheckable(true);
    group->addAction(a);
    return a;
  };
  using profile::TemperatureScale;
  using profile::TimeScale;
  auto setTemp = [this](TemperatureScale s) {
    session_->SetTemperatureScale(s);
    MarkChanged();
  };
  auto setTime = [this](TimeScale s) {
    session_->SetTimeScale(s);
    MarkChanged();
  };
  fahrenheit_ = scale(temp, tempGroup, "Fahrenheit", "mnuFahrenheit", [=] { setTemp(TemperatureScale::Fahrenheit); });
  celcius_ = scale(temp, tempGroup, "Celcius", "mnuCelcius", [=] { setTemp(TemperatureScale::Celsius); });
  QMenu* time = menu(scales, "Time", "mnuTime");
  auto* timeGroup = new QActionGroup(this);
  seconds_ = scale(time, timeGroup, "Seconds", "mnuSeconds", [=] { setTime(TimeScale::Seconds); });
  minutes_ = scale(time, timeGroup, "Minutes", "mnuMinutes", [=] { setTime(TimeScale::Minutes); });
  hours_ = scale(time, timeGroup, "Hours", "mnuHours", [=] { setTime(TimeScale::Hours); });

  QMenu* exit = menu(nullptr, "Exit", "mnuExit");
  action(exit, "Exit Editor", "mnuExitEditor", [this] { ExitEditor(); });
}

void ProfileEditorWindow::BuildSensorMenu(QMenu* menu) {
  sensorGroup_ = new QActionGroup(this);
  sensorGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  for (const profile::SensorEntry& entry : session_->Sensors()) {
    QAction* a = menu->addAction(QString::fromStdString(entry.caption));
    a->setObjectName(QString("mnuSensorType_%1").arg(entry.index));
    a->setCheckable(true);
    sensorGroup_->addAction(a);
    connect(a, &QAction::triggered, this, [this, index = entry.index] {
      session_->SelectSensor(index);
      MarkChanged();
    });
  }
  if (session_->Sensors().empty()) {
    QAction* none = menu->addAction("Sensor Type");
    none->setObjectName("mnuSensorType");
    none->setEnabled(false);
  }
}

}  // namespace tarvel::ui
