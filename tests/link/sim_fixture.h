#pragma once
// A simulated line on a pseudo-terminal and the real libmodbus master opened on it.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "link/commands.h"
#include "link/modbus_rtu_line.h"
#include "sim/simulated_line.h"

namespace tarvel::testing {

using Bytes = std::vector<std::uint8_t>;

// Paced at 9600 baud like the real line, with a short turnaround so tests stay quick; the
// clock moves only when a test says so.
inline sim::Options QuickLine(std::vector<std::uint8_t> addresses) {
  sim::Options options;
  options.addresses = std::move(addresses);
  options.clock = sim::Options::Clock::Manual;
  options.turnaround = std::chrono::milliseconds(1);
  return options;
}

// Reply windows far beyond the few milliseconds a simulated reply takes: on a loaded
// machine a thread can stall for tens of milliseconds, and these tests are not about timing.
// A failure costs one window of quiet afterwards, so tests with many failures use less.
inline constexpr link::LineTiming kPatientWindow{std::chrono::milliseconds(250), std::chrono::milliseconds(250)};

class SimLineTest : public ::testing::Test {
 protected:
  void StartLine(sim::Options options, link::LineTiming timing = kPatientWindow) {
    sim_ = std::make_unique<sim::SimulatedLine>(std::move(options));
    auto device = sim_->Start();
    ASSERT_TRUE(device.ok()) << device.status().message();
    device_ = *device;
    line_.SetTiming(timing);
    auto opened = line_.Open(device_);
    ASSERT_TRUE(opened.ok()) << opened.message;
  }

  sim::SimulatedLine& Sim() { return *sim_; }

  // The frames the simulator received since the last call.
  std::vector<Bytes> TakeRequests() {
    auto requests = sim_->Requests();
    sim_->ClearRequests();
    return requests;
  }

  std::string device_;
  link::ModbusRtuLine line_;
  link::CommandSet commands_{line_};
  std::unique_ptr<sim::SimulatedLine> sim_;
};

}  // namespace tarvel::testing
