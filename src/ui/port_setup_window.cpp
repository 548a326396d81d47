#include "ui/port_setup_window.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/thread_post.h"
#include "ui/window_placement.h"

namespace tarvel::ui {
namespace {

QPushButton* Button(const char* caption, const char* name) {
  auto* button = new QPushButton(caption);
  button->setObjectName(name);
  return button;
}

}  // namespace

PortSetupWindow::PortSetupWindow(CommandRunner& runner, QWidget* parent, QString placementFile)
    : QMainWindow(parent), runner_(runner), placementFile_(std::move(placementFile)) {
  setObjectName("CommSetUp");
  setWindowTitle("Communications Port Setup");

  auto* settings = menuBar()->addAction("Settings");
  settings->setObjectName("mnuShowSettings");
  auto* exit = menuBar()->addAction("Exit");
  exit->setObjectName("mnuExit");
  connect(exit, &QAction::triggered, this, &QWidget::close);

  QGroupBox* scanFrame = ScanFrame();
  QGroupBox* selectFrame = SelectFrame();
  QGroupBox* messageFrame = MessageFrame();
  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->addWidget(scanFrame);
  auto* split = new QSplitter(Qt::Vertical);
  split->setObjectName("PortSetupSplitter");
  split->setChildrenCollapsible(false);
  split->addWidget(selectFrame);
  split->addWidget(messageFrame);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);
  layout->addWidget(split, 1);
  setCentralWidget(central);
  progress_->reset();
  RestorePlacement(this, placementFile_, QSize(820, 620));
  connect(&runner_, &CommandRunner::busyChanged, this, &PortSetupWindow::SetBusy);
}

QGroupBox* PortSetupWindow::ScanFrame() {
  auto* scanFrame = new QGroupBox("Scan and Set");
  auto* scanLayout = new QHBoxLayout(scanFrame);
  scan_ = Button("Scan Ports", "ScanPortNumber");
  cancel_ = Button("Cancel", "CancelPortScan");
  cancel_->setEnabled(false);
  progress_ = new QProgressBar;
  progress_->setObjectName("PortScanProgress");
  scanLayout->addWidget(scan_);
  scanLayout->addWidget(cancel_);
  scanLayout->addWidget(progress_, 1);
  connect(scan_, &QPushButton::clicked, this, [this] { Command([](auto& s) { s.SerialPortScan(); }); });
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (setup_) setup_->Cancel();
  });
  return scanFrame;
}

QGroupBox* PortSetupWindow::SelectFrame() {
  auto* selectFrame = new QGroupBox("Comm Port Select");
  auto* selectBox = new QVBoxLayout(selectFrame);
  list_ = new QListWidget;
  list_->setObjectName("CommPortList");
  list_->setToolTip("Click a port to choose it; Scan Ports says what answers on each");
  list_->setMinimumHeight(4 * list_->fontMetrics().lineSpacing());
  selectBox->addWidget(list_, 1);
  servedLabel_ = new QLabel;
  servedLabel_->setObjectName("CommServedPorts");
  servedLabel_->setWordWrap(true);
  servedLabel_->hide();
  selectBox->addWidget(servedLabel_);
  auto* selectLayout = new QHBoxLayout;
  selectBox->addLayout(selectLayout);
  auto* label = new QLabel("Comm Port Number");
  label->setObjectName("CommDisplayLabel");
  number_ = new QLabel("1");
  number_->setObjectName("CommPortNumber");
  number_->setMinimumWidth(24);
  auto* decrement = Button("<", "DecrPortNumber");
  auto* increment = Button(">", "IncrPortNum");
  device_ = new QLabel;
  device_->setObjectName("CommPortDevice");
  device_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // a long by-id name must not widen the window
  use_ = Button("Use This Setting", "SavePortSettings");
  for (QWidget* w : std::initializer_list<QWidget*>{label, number_, decrement, increment}) selectLayout->addWidget(w);
  selectLayout->addWidget(device_, 1);
  selectLayout->addWidget(use_);
  connect(list_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    if (setup_) setup_->SelectPort(item->data(Qt::UserRole).toInt());
  });
  connect(use_, &QPushButton::clicked, this, [this] { Command([](auto& s) { s.UseThisSetting(); }); });
  connect(increment, &QPushButton::clicked, this, [this] {
    if (setup_) setup_->IncrementPort();
  });
  connect(decrement, &QPushButton::clicked, this, [this] {
    if (setup_) setup_->DecrementPort();
  });
  return selectFrame;
}

QGroupBox* PortSetupWindow::MessageFrame() {
  auto* messageFrame = new QGroupBox("Port Messages");
  auto* messageLayout = new QVBoxLayout(messageFrame);
  prompt_ = new QPlainTextEdit;
  prompt_->setObjectName("SerialPortPrompt");
  prompt_->setReadOnly(true);
  auto* clear = Button("Clear", "ClearSerialPrompt");
  messageLayout->addWidget(prompt_);
  messageLayout->addWidget(clear, 0, Qt::AlignRight);
  prompt_->setMinimumHeight(4 * prompt_->fontMetrics().lineSpacing());
  connect(clear, &QPushButton::clicked, this, [this] {
    if (setup_) setup_->Messages().ClearDisplay();
  });
  return messageFrame;
}

void PortSetupWindow::Command(std::function<void(console::PortSetup&)> work) {
  if (!setup_) return;
  runner_.Run([s = setup_, work = std::move(work)] { work(*s); });
}

void PortSetupWindow::SetBusy(bool busy) {
  scan_->setEnabled(!busy);
  use_->setEnabled(!busy);
  cancel_->setEnabled(busy);
  if (!busy) progress_->reset();
}

void PortSetupWindow::hideEvent(QHideEvent* event) {
  SavePlacement(this, placementFile_);
  QMainWindow::hideEvent(event);
}

// Loading the window: each time it opens, from the port the line is on now.
void PortSetupWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!placed_) {
    placed_ = true;
    KeepOnScreen(this);
  }
  if (event->spontaneous()) return;  // the window system's own show event is no new opening
  Command([this, served = served_](auto& s) {
    s.Messages().ClearDisplay();
    s.Load();
    if (served) PostTo(this, [this, ports = served()] { ShowServed(ports); });
  });
}

// A served port is the service's: the console's commands on it go through the service.
void PortSetupWindow::ShowServed(const std::vector<std::string>& ports) {
  servedPorts_ = ports;
  QStringList names;
  for (const std::string& port : ports) names << QString::fromStdString(port);
  servedLabel_->setText(names.isEmpty() ? QString("No line service serves this home's ports")
                                        : "The line service of this home serves " + names.join(", "));
  servedLabel_->show();
  for (int i = 0; i < list_->count(); ++i) {
    QListWidgetItem* item = list_->item(i);
    const std::string device = item->data(Qt::UserRole + 1).toString().toStdString();
    const QString plain = item->data(Qt::UserRole + 2).toString();
    const bool isServed = std::find(ports.begin(), ports.end(), device) != ports.end();
    item->setText(isServed ? plain + "  (line service)" : plain);
  }
}

void PortSetupWindow::ShowMessages(const std::string& text) {
  PostTo(this, [this, t = QString::fromStdString(text)] {
    QString shown = t;
    shown.replace("\r\n", "\n");
    prompt_->setPlainText(shown);
    prompt_->verticalScrollBar()->setValue(prompt_->verticalScrollBar()->maximum());
  });
}

void PortSetupWindow::ShowPort(int number, const std::string& device) {
  PostTo(this, [this, number, d = QString::fromStdString(device)] {
    number_->setText(QString::number(number));
    device_->setText(d.isEmpty() ? QString("(no device)") : d);
    device_->setToolTip(d);
    QListWidgetItem* chosen = nullptr;
    for (int i = 0; i < list_->count(); ++i)
      if (list_->item(i)->data(Qt::UserRole).toInt() == number) chosen = list_->item(i);
    list_->setCurrentItem(chosen);
  });
}

void PortSetupWindow::ShowPorts(const std::vector<console::PortEntry>& ports) {
  PostTo(this, [this, ports] {
    const QSignalBlocker quiet(list_);
    list_->clear();
    for (const console::PortEntry& port : ports) {
      auto* item = new QListWidgetItem(QString::fromStdString(console::PortListText(port)), list_);
      item->setData(Qt::UserRole, port.number);
      item->setData(Qt::UserRole + 1, QString::fromStdString(port.device));
      item->setData(Qt::UserRole + 2, item->text());
    }
    if (!servedPorts_.empty()) ShowServed(servedPorts_);
    const int number = number_->text().toInt();
    for (int i = 0; i < list_->count(); ++i)
      if (list_->item(i)->data(Qt::UserRole).toInt() == number) list_->setCurrentRow(i);
  });
}

void PortSetupWindow::SetProgress(int done, int total) {
  PostTo(this, [this, done, total] {
    progress_->setMaximum(total > 0 ? total : 1);
    progress_->setValue(done);
  });
}

}  // namespace tarvel::ui
