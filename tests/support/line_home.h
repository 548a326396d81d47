#pragma once
// A home on a real line: simulated controllers on a pseudo-terminal, libmodbus on the master
// side, the configuration database in a fresh application folder.

#include <gtest/gtest.h>

#include <string>

#include "link/modbus_rtu_line.h"
#include "sim/simulated_line.h"
#include "store/config_store.h"
#include "store/home.h"
#include "support/sim_line.h"
#include "support/temp_dir.h"

namespace tarvel::testing {

// The cure profile (support/profiles.h) uploaded to a unit at step 1, logged, selected and
// started on its front panel: 70 -> 250 over 30 minutes, hold 250 for 45 (band +-10), end.
inline void RunCure(store::ConfigStore& store, sim::SimulatedLine& sim, int address, const std::string& name) {
  ASSERT_TRUE(store.WriteMemorySteps(
      address, {{address, 1, 30, 70, 1, 0}, {address, 2, 45, 250, 2, 0}, {address, 3, 0, 100, 1, 0}}));
  ASSERT_TRUE(store.WriteLogEntry({address, name, 1, 3, "K", "F", "M", "SV"}));
  ASSERT_TRUE(store.SaveRunSelection(address, name, 1, 3));
  sim.EditUnit(static_cast<std::uint8_t>(address), [](sim::UnitState& u) {
    u.steps[0] = {1, 30, 70};
    u.steps[1] = {2, 45, 250};
    u.steps[2] = {1, 0, 100};
    u.programLowStep = 1;
    u.programHighStep = 3;
    u.runMode = 2;
  });
  sim.FrontPanelStart(static_cast<std::uint8_t>(address));
}

class LineHome : public ::testing::Test {
 protected:
  // The line carries no copies: a reply like one heard just before is taken without asking
  // again, so the exchanges counted are the test's own (lines that repeat frames:
  // link/line_kinds_test.cpp and the fault campaign).
  LineHome(sim::Options options, link::LineTiming timing) : sim_(std::move(options)) {
    auto started = sim_.Start();
    EXPECT_TRUE(started.ok()) << started.status().message();
    timing.duplicateHorizon = {};
    line_.SetTiming(timing);
    EXPECT_TRUE(line_.Open(started.value_or("")).ok());
  }

  void Map(int channel, int address, const std::string& nickName) {
    ASSERT_TRUE(store_.AddChannel({channel, address, nickName, "set64rs"}));
    ASSERT_TRUE(store_.ResetControllerMemory(address));
  }

  TempDir dir_;
  AppFolder folder_{dir_.path()};
  store::HomeReport home_ = store::PrepareHome(folder_);
  store::ConfigStore store_{folder_.ConfigDatabase()};
  sim::SimulatedLine sim_;
  link::ModbusRtuLine line_;
};

}  // namespace tarvel::testing
