#include "ui/port_setup_window.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "ui/thread_post.h"

namespace tarvel::ui {
namespace {

QPushButton* Button(const char* caption, const char* name) {
  auto* button = new QPushButton(caption);
  button->setObjectName(name);
  return button;
}

}  // namespace

PortSetupWindow::PortSetupWindow(CommandRunner& runner, QWidget* parent) : QMainWindow(parent), runner_(runner) {
  setObjectName("CommSetUp");
  setWindowTitle("Communications Port Setup");

  auto* settings = menuBar()->addAction("Settings");
  settings->setObjectName("mnuShowSettings");
  auto* exit = menuBar()->addAction("Exit");
  exit->setObjectName("mnuExit");
  connect(exit, &QAction::triggered, this, &QWidget::close);

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

  auto* selectFrame = new QGroupBox("Comm Port Select");
  auto* selectLayout = new QHBoxLayout(selectFrame);
  auto* label = new QLabel("Comm Port Number");
  label->setObjectName("CommDisplayLabel");
  number_ = new QLabel("1");
  number_->setObjectName("CommPortNumber");
  number_->setMinimumWidth(24);
  auto* decrement = Button("<", "DecrPortNumber");
  auto* increment = Button(">", "IncrPortNum");
  device_ = new QLabel;
  device_->setObjectName("CommPortDevice");
  use_ = Button("Use This Setting", "SavePortSettings");
  for (QWidget* w : std::initializer_list<QWidget*>{label, number_, decrement, increment, device_}) selectLayout->addWidget(w);
  selectLayout->addStretch();
  selectLayout->addWidget(use_);

  auto* messageFrame = new QGroupBox("Port Messages");
  auto* messageLayout = new QVBoxLayout(messageFrame);
  prompt_ = new QPlainTextEdit;
  prompt_->setObjectName("SerialPortPrompt");
  prompt_->setReadOnly(true);
  auto* clear = Button("Clear", "ClearSerialPrompt");
  messageLayout->addWidget(prompt_);
  messageLayout->addWidget(clear, 0, Qt::AlignRight);

  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->addWidget(scanFrame);
  layout->addWidget(selectFrame);
  layout->addWidget(messageFrame, 1);
  setCentralWidget(central);
  resize(760, 520);

  connect(scan_, &QPushButton::clicked, this, [this] { Command([](auto& s) { s.SerialPortScan(); }); });
  connect(cancel_, &QPushButton::clicked, this, [this] { if (setup_) setup_->Cancel(); });
  connect(use_, &QPushButton::clicked, this, [this] { Command([](auto& s) { s.UseThisSetting(); }); });
  connect(increment, &QPushButton::clicked, this, [this] { if (setup_) setup_->IncrementPort(); });
  connect(decrement, &QPushButton::clicked, this, [this] { if (setup_) setup_->DecrementPort(); });
  connect(clear, &QPushButton::clicked, this, [this] { if (setup_) setup_->Messages().ClearDisplay(); });
  connect(&runner_, &CommandRunner::busyChanged, this, &PortSetupWindow::SetBusy);
}

void PortSetupWindow::Command(std::function<void(console::PortSetup&)> work) {
  if (!setup_) return;
  runner_.Run([s = setup_, work = std::move(work)] { work(*s); });
}

void PortSetupWindow::SetBusy(bool busy) {
  scan_->setEnabled(!busy);
  use_->setEnabled(!busy);
  cancel_->setEnabled(busy);
}

// Loading the window: each time it opens, from the port the line is on now.
void PortSetupWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  Command([](auto& s) {
    s.Messages().ClearDisplay();
    s.Load();
  });
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
  });
}

void PortSetupWindow::SetProgress(int done, int total) {
  PostTo(this, [this, done, total] {
    progress_->setMaximum(total > 0 ? total : 1);
    progress_->setValue(done);
  });
}

}  // namespace tarvel::ui
