#pragma once
// A simulated line on a pseudo-terminal and the real libmodbus master opened on it.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "link/commands.h"
#include "link/modbus_rtu_line.h"
#include "sim/simulated_line.h"
#include "support/sim_line.h"

namespace tarvel::testing {

using Bytes = std::vector<std::uint8_t>;

class SimLineTest : public ::testing::Test {
 protected:
  // The reply window is far beyond the few milliseconds a simulated reply takes: on a
  // loaded machine a thread can stall for tens of milliseconds. A failure costs one window
  // of quiet afterwards, so tests with many failures use less.
  void StartLine(sim::Options options, std::chrono::milliseconds window = std::chrono::milliseconds(250)) {
    sim_ = std::make_unique<sim::SimulatedLine>(std::move(options));
    auto device = sim_->Start();
    ASSERT_TRUE(device.ok()) << device.status().message();
    line_.SetTiming({window, window});
    auto opened = line_.Open(*device);
    ASSERT_TRUE(opened.ok()) << opened.message;
  }
  // For the frames and exchanges a command makes: a line that carries no copies, where a reply
  // like an earlier one is taken without asking again (lines that repeat frames:
  // line_kinds_test.cpp).
  void HearNoCopies() {
    auto timing = line_.Timing();
    timing.duplicateHorizon = {};
    line_.SetTiming(timing);
  }
  sim::SimulatedLine& Sim() { return *sim_; }
  // The frames the simulator received since the last call.
  std::vector<Bytes> TakeRequests() {
    auto requests = sim_->Requests();
    sim_->ClearRequests();
    return requests;
  }

  link::ModbusRtuLine line_;
  link::CommandSet commands_{line_};
  std::unique_ptr<sim::SimulatedLine> sim_;
};

// A line of its own for a test that makes several, each register of unit 1 holding a value of its
// own: set value 111, process value 222, profile set point 333, alarm 1 type 7, and step s
// (s, 99 + s, 999 + s).
struct ServedLine {
  explicit ServedLine(sim::Options options, std::optional<link::LineTiming> timing = std::nullopt)
      : sim(std::move(options)) {
    auto device = sim.Start();
    EXPECT_TRUE(device.ok());
    if (timing) line.SetTiming(*timing);
    EXPECT_TRUE(line.Open(device.value_or("")).ok());
    sim.EditUnit(1, [](sim::UnitState& u) {
      u.setValue = 111;
      u.processTemperature = 222;
      u.profileSetPoint = 333;
      u.alarm1Type = 7;
      for (int s = 0; s < 64; ++s)
        u.steps[s] = {static_cast<std::int16_t>(s + 1), static_cast<std::int16_t>(100 + s),
                      static_cast<std::int16_t>(1000 + s)};
    });
  }
  sim::SimulatedLine sim;
  link::ModbusRtuLine line;
  link::CommandSet commands{line};
};

}  // namespace tarvel::testing
