#include "ui/channel_map_window.h"

#include <QCheckBox>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/thread_post.h"
#include "ui/window_placement.h"

namespace tarvel::ui {
namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kColumnTwips = 1600;

QPushButton* Button(const char* caption, const char* name) {
  auto* button = new QPushButton(caption);
  button->setObjectName(name);
  return button;
}

QGroupBox* Framed(const char* caption, QWidget* content) {
  auto* frame = new QGroupBox(caption);
  auto* layout = new QVBoxLayout(frame);
  layout->addWidget(content);
  return frame;
}

store::ChannelField FieldOfColumn(int column) {
  switch (column) {
    case 1: return store::ChannelField::SoftwareChannel;
    case 2: return store::ChannelField::ModBusAddress;
    case 3: return store::ChannelField::NickName;
    case 4: return store::ChannelField::ControllerType;
    default: return store::ChannelField::Port;
  }
}

}  // namespace

ChannelMapWindow::ChannelMapWindow(CommandRunner& runner, QWidget* parent, QString placementFile)
    : QMainWindow(parent), runner_(runner), placementFile_(std::move(placementFile)) {
  setObjectName("ChannelManagementInterface");
  setWindowTitle("Channel Installation and Management");
  BuildMenus();
  // The map on the left, the tools and messages on the right; a splitter between them.
  split_ = new QSplitter(Qt::Horizontal);
  split_->setObjectName("ChannelMapSplitter");
  split_->setChildrenCollapsible(false);
  split_->addWidget(Framed("Channel Unit Address Map", BuildMap()));
  split_->addWidget(BuildTools());
  split_->setStretchFactor(0, 1);
  split_->setStretchFactor(1, 1);
  setCentralWidget(split_);
  RestorePlacement(this, placementFile_, QSize(1100, 600));
  commandWidgets_ = {grid_, addRow_, deleteRow_, clearMap_, scan_, change_};
  Connect();
}

void ChannelMapWindow::BuildMenus() {
  auto* file = menuBar()->addMenu("File");
  file->setObjectName("mnuFile");
  auto* openMenuFile = file->addAction("Open Menu File");
  openMenuFile->setObjectName("mnuOpenChannelMap");
  connect(openMenuFile, &QAction::triggered, this, [this] {
    if (!map_) return;
    const QString chosen = QFileDialog::getOpenFileName(
        this, "Open Menu File", QString::fromStdString(map_->Folder().Setup().string()), "Database (*.db)");
    Command([path = chosen.toStdString()](auto& m) { m.OpenChannelMapDatabase(path); });
  });
  commPort_ = menuBar()->addAction("Comm Port");
  commPort_->setObjectName("mnuSetupCommPort");
  auto* exit = menuBar()->addAction("Exit");
  exit->setObjectName("mnuExit");
  connect(exit, &QAction::triggered, this, &QWidget::close);
}

QWidget* ChannelMapWindow::BuildMap() {
  grid_ = new QTableWidget(0, 6);
  grid_->setObjectName("fgChannelMap");
  grid_->setHorizontalHeaderLabels({"", "SoftwareChannel", "ModBusAddress", "NickName", "ControllerType", "Port"});
  grid_->verticalHeader()->hide();
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setColumnHidden(0, true);
  for (int c = 1; c <= 5; ++c) grid_->setColumnWidth(c, kColumnTwips / kTwipsPerPixel);
  grid_->horizontalHeaderItem(5)->setToolTip("The serial device of the controller's line; blank: the console's port");
  grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);  // the columns share a wider window
  grid_->horizontalHeader()->setMinimumSectionSize(60);
  grid_->setMinimumWidth(5 * 80);
  editor_ = new QLineEdit(grid_->viewport());
  editor_->setObjectName("FloatingTextBox");
  editor_->hide();
  addRow_ = Button("Add Row", "AddRowButton");
  addRow_->setToolTip("Map the next channel to the lowest free address, then edit its cells");
  deleteRow_ = Button("Delete Row", "DeleteRowButton");
  clearMap_ = Button("Clear Map", "ClearMapButton");
  auto* mapBox = new QWidget;
  auto* mapLayout = new QVBoxLayout(mapBox);
  mapLayout->setContentsMargins(0, 0, 0, 0);
  mapLayout->addWidget(grid_, 1);
  auto* mapButtons = new QHBoxLayout;
  mapButtons->addWidget(addRow_);
  mapButtons->addWidget(deleteRow_);
  mapButtons->addWidget(clearMap_);
  mapButtons->addStretch();
  mapLayout->addLayout(mapButtons);
  return mapBox;
}

QWidget* ChannelMapWindow::BuildTools() {
  prompt_ = new QPlainTextEdit;
  prompt_->setObjectName("DBInterfaceDisplay");
  prompt_->setReadOnly(true);
  prompt_->setMinimumHeight(4 * prompt_->fontMetrics().lineSpacing());

  scan_ = Button("Scan Addresses", "ScanAddressesButton");
  addNew_ = new QCheckBox("Add New");
  addNew_->setObjectName("AddNewUponScan");
  removeMissing_ = new QCheckBox("Remove Missing");
  removeMissing_->setObjectName("RemoveMissingUponScan");
  cancel_ = Button("Cancel", "CancelScanButton");
  cancel_->setEnabled(false);
  progress_ = new QProgressBar;
  progress_->setObjectName("ScanProgress");
  progress_->reset();
  auto* scanBox = new QWidget;
  auto* scanLayout = new QGridLayout(scanBox);
  scanLayout->addWidget(scan_, 0, 0);
  scanLayout->addWidget(cancel_, 0, 1);
  scanLayout->addWidget(addNew_, 1, 0);
  scanLayout->addWidget(removeMissing_, 1, 1);
  scanLayout->addWidget(progress_, 2, 0, 1, 2);

  currentAddress_ = new QLineEdit;
  currentAddress_->setObjectName("CurrentAddressDisplay");
  newAddress_ = new QLineEdit;
  newAddress_->setObjectName("NewAddressDisplay");
  change_ = Button("Change Address", "ChangeUnitAddressButton");
  auto* changeBox = new QWidget;
  auto* changeLayout = new QHBoxLayout(changeBox);
  changeLayout->addWidget(Framed("Current Addr", currentAddress_));
  changeLayout->addWidget(Framed("New Address", newAddress_));
  changeLayout->addWidget(change_, 0, Qt::AlignBottom);

  auto* tools = new QWidget;
  auto* toolsLayout = new QVBoxLayout(tools);
  toolsLayout->setContentsMargins(0, 0, 0, 0);
  toolsLayout->addWidget(Framed("Address Scan Tool", scanBox));
  toolsLayout->addWidget(Framed("Box Address Change Utility", changeBox));
  toolsLayout->addWidget(Framed("Messages", prompt_), 1);
  return tools;
}

void ChannelMapWindow::Connect() {
  connect(&runner_, &CommandRunner::busyChanged, this, &ChannelMapWindow::SetBusy);
  connect(grid_, &QTableWidget::cellClicked, this, &ChannelMapWindow::OpenEditor);
  connect(editor_, &QLineEdit::returnPressed, this, &ChannelMapWindow::StoreEdit);
  // The box stays over its cell when the columns share out a new width.
  connect(grid_->horizontalHeader(), &QHeaderView::sectionResized, this, [this] {
    if (editor_->isVisible())
      editor_->setGeometry(grid_->visualRect(grid_->model()->index(grid_->currentRow(), editColumn_)));
  });
  connect(addRow_, &QPushButton::clicked, this, [this] {
    HideEditor();
    Command([](auto& m) { m.AddRow(); });
  });
  connect(deleteRow_, &QPushButton::clicked, this, [this] {
    HideEditor();
    const int row = grid_->currentRow();
    if (row < 0 || !grid_->item(row, 1)) return;
    Command([channel = grid_->item(row, 1)->text().toInt()](auto& m) { m.DeleteRow(channel); });
  });
  connect(clearMap_, &QPushButton::clicked, this, [this] {
    HideEditor();
    Command([](auto& m) { m.ClearMap(); });
  });
  connect(scan_, &QPushButton::clicked, this, [this] {
    HideEditor();
    console::ScanChoice choice{addNew_->isChecked(), removeMissing_->isChecked()};
    Command([choice](auto& m) { m.ScanAddresses(choice); });
  });
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (map_) map_->CancelScan();
  });
  connect(change_, &QPushButton::clicked, this, [this] {
    Command([current = currentAddress_->text().toStdString(), next = newAddress_->text().toStdString()](auto& m) {
      m.ChangeAddress(current, next);
    });
  });
}

void ChannelMapWindow::SetPortSetupWindow(QWidget* window) {
  connect(commPort_, &QAction::triggered, window, [window] {
    window->show();
    window->raise();
    window->activateWindow();
  });
  window->installEventFilter(this);
}

void ChannelMapWindow::Command(std::function<void(console::ChannelMap&)> work) {
  if (!map_) return;
  runner_.Run([m = map_, work = std::move(work)] { work(*m); });
}

void ChannelMapWindow::SetBusy(bool busy) {
  for (QWidget* w : commandWidgets_) w->setEnabled(!busy);
  cancel_->setEnabled(busy);
  if (!busy) progress_->reset();
}

// One activation at a time: an opening that is also an activation shows its lines once.
void ChannelMapWindow::Activate() {
  if (activating_ || !map_) return;
  activating_ = true;
  Command([this](auto& m) {
    m.Activate();
    PostTo(this, [this] { activating_ = false; });
  });
}

// Activation: when the window opens and when the user comes back from the port set-up.
void ChannelMapWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!placed_) {
    placed_ = true;
    KeepOnScreen(this);
    RestoreSplitter(split_, placementFile_);
  }
  // The window system's own show event (the window mapped, or restored) is no new opening.
  if (event->spontaneous()) return;
  activateOnReturn_ = false;
  Activate();
}

void ChannelMapWindow::hideEvent(QHideEvent* event) {
  SavePlacement(this, placementFile_);
  SaveSplitter(split_, placementFile_);
  QMainWindow::hideEvent(event);
}

bool ChannelMapWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::WindowActivate) activateOnReturn_ = true;
  return QMainWindow::eventFilter(watched, event);
}

void ChannelMapWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && activateOnReturn_) {
    activateOnReturn_ = false;
    Activate();
  }
}

void ChannelMapWindow::OpenEditor(int row, int column) {
  if (!map_ || column < 1 || !grid_->item(row, 1)) return;
  map_->BeginEdit();
  editChannel_ = grid_->item(row, 1)->text().toInt();
  editColumn_ = column;
  editor_->setGeometry(grid_->visualRect(grid_->model()->index(row, column)));
  editor_->setText(grid_->item(row, column) ? grid_->item(row, column)->text() : QString());
  editor_->show();
  editor_->setFocus();
  editor_->selectAll();  // typing replaces the cell's value, as a spreadsheet's cell does
}

void ChannelMapWindow::StoreEdit() {
  if (!editor_->isVisible()) return;
  const std::string text = editor_->text().toStdString();
  const store::ChannelField field = FieldOfColumn(editColumn_);
  Command([this, channel = editChannel_, field, text](auto& m) {
    if (m.StoreEdit(channel, field, text) != console::EditOutcome::KeepEditing) PostTo(this, [this] { HideEditor(); });
  });
}

void ChannelMapWindow::HideEditor() { editor_->hide(); }

void ChannelMapWindow::ShowMessages(const std::string& text) {
  PostTo(this, [this, t = QString::fromStdString(text)] {
    QString shown = t;
    shown.replace("\r\n", "\n");
    prompt_->setPlainText(shown);
    prompt_->verticalScrollBar()->setValue(prompt_->verticalScrollBar()->maximum());
  });
}

void ChannelMapWindow::ShowRows(const std::vector<store::ChannelRow>& rows) {
  PostTo(this, [this, rows] {
    grid_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
      const auto& row = rows[static_cast<std::size_t>(r)];
      const QString cells[] = {"",
                               QString::number(row.softwareChannel),
                               QString::number(row.modbusAddress),
                               QString::fromStdString(row.nickName),
                               QString::fromStdString(row.controllerType),
                               QString::fromStdString(row.port)};
      for (int c = 0; c < 6; ++c) grid_->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
  });
}

void ChannelMapWindow::SetProgress(int done, int total) {
  PostTo(this, [this, done, total] {
    progress_->setMaximum(total > 0 ? total : 1);
    progress_->setValue(done);
  });
}

void ChannelMapWindow::ShowWarning(const std::string& title, const std::string& text) {
  AskOn(this, [&] {
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok,
                    this);
    box.exec();
    return true;
  });
}

bool ChannelMapWindow::Confirm(const std::string& title, const std::string& text) {
  return AskOn(this, [&] {
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
  });
}

}  // namespace tarvel::ui
