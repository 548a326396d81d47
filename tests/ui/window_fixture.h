#pragma once
// What the window tests share: two simulated units on a pseudo-terminal, a fresh application
// folder, the command runner, and boxes answered so that none can hang a run.
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>

#include "layout_check.h"
#include "link/modbus_rtu_line.h"
#include "sim/simulated_line.h"
#include "store/home.h"
#include "support/sim_line.h"
#include "support/temp_dir.h"
#include "ui/command_runner.h"

namespace tarvel::ui {

// Answers every message box with OK (or the answers queued with Answer) and remembers title,
// text and whether Cancel was the default; a file dialog picks the file set with Pick, or is
// cancelled.
class BoxAnswerer {
 public:
  BoxAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen_.push_back({box->windowTitle(), box->text()});
        cancelFirst_.push_back(box->defaultButton() && box->defaultButton() == box->button(QMessageBox::Cancel));
        QMessageBox::StandardButton answer = QMessageBox::Ok;
        if (!answers_.empty()) answer = answers_.front(), answers_.pop_front();
        box->button(answer)->click();
      } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        seen_.push_back({dialog->windowTitle(), dialog->directory().absolutePath()});
        if (pick_.isEmpty()) return dialog->reject();
        dialog->selectFile(pick_);
        QMetaObject::invokeMethod(dialog, "accept");
      }
    });
    timer_.start(10);
  }
  const std::vector<std::pair<QString, QString>>& Seen() const { return seen_; }
  bool LastDefaultWasCancel() const { return !cancelFirst_.empty() && cancelFirst_.back(); }
  void Pick(const QString& file) { pick_ = file; }
  void Answer(QMessageBox::StandardButton answer) { answers_.push_back(answer); }

 private:
  QTimer timer_;
  QString pick_;
  std::vector<std::pair<QString, QString>> seen_;
  std::vector<bool> cancelFirst_;
  std::deque<QMessageBox::StandardButton> answers_;
};

class WindowFixture : public ::testing::Test {
 protected:
  WindowFixture() {
    EXPECT_TRUE(sim_.Start().ok());
    EXPECT_TRUE(line_.Open(sim_.DevicePath()).ok());
  }
  ~WindowFixture() override { runner_.Shutdown(); }

  // Waits until the command thread has run everything queued and its results are painted.
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
  void Click(QWidget& window, const char* name, bool wait = true) {
    QTest::mouseClick(Find<QPushButton>(window, name), Qt::LeftButton);
    if (wait) Idle();
  }

  BoxAnswerer boxes_;
  tarvel::testing::TempDir dir_;
  AppFolder folder_{dir_ / "home"};
  store::HomeReport home_ = store::PrepareHome(folder_);
  store::ConfigStore store_{folder_.ConfigDatabase()};
  sim::SimulatedLine sim_{tarvel::testing::QuickLine({1, 2})};
  link::ModbusRtuLine line_;
  CommandRunner runner_;
};

}  // namespace tarvel::ui
