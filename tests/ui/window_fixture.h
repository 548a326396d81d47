#pragma once
// What the window tests share: two simulated units on a pseudo-terminal, a fresh application
// folder, the command runner, and boxes answered so that none can hang a run.
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "box_answerer.h"
#include "layout_check.h"
#include "link/modbus_rtu_line.h"
#include "sim/simulated_line.h"
#include "store/home.h"
#include "support/sim_line.h"
#include "support/temp_dir.h"
#include "ui/command_runner.h"

namespace tarvel::ui {

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

// Declared after the rooms a test builds: the background steps stop before they go.
struct StopRunner {
  CommandRunner& runner;
  ~StopRunner() { runner.Shutdown(); }
};

}  // namespace tarvel::ui
