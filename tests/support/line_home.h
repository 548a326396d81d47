#pragma once
// A home on a real line: simulated controllers on a pseudo-terminal, libmodbus on the master
// side, the configuration database in a fresh application folder.

#include <gtest/gtest.h>

#include <string>

#include "link/modbus_rtu_line.h"
#include "sim/simulated_line.h"
#include "store/home.h"
#include "support/sim_line.h"
#include "support/temp_dir.h"

namespace tarvel::testing {

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
