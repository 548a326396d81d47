#pragma once
// What the line benches share: the simulator's pseudo-terminal opened by the program's own
// Modbus line, and the wire-time floor of one exchange at 9600 baud with a 10 ms turnaround:
// (request + reply bytes) x 10 bits / 9600 + two 3.5-character silences + the turnaround.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/modbus_rtu_line.h"
#include "sim/simulated_line.h"
#include "util/result.h"

namespace tarvel::bench {

inline constexpr double kBaud = 9600;
inline constexpr double kTurnaround = 0.010;  // seconds; the benches give the simulator this
inline constexpr double kSilence = 3.5 * 10 / kBaud;

// Seconds.
constexpr double ExchangeFloor(int requestBytes, int replyBytes) {
  return (requestBytes + replyBytes) * 10 / kBaud + 2 * kSilence + kTurnaround;
}
inline constexpr double kReadFloor = ExchangeFloor(8, 9);    // function 3, two registers
inline constexpr double kWriteFloor = ExchangeFloor(13, 8);  // function 16, two registers

inline double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A simulated line of these units, paced at 9600 baud, answering after kTurnaround.
inline sim::Options PacedLine(std::vector<std::uint8_t> addresses) {
  sim::Options options;
  options.addresses = std::move(addresses);
  options.turnaround = std::chrono::milliseconds(static_cast<int>(kTurnaround * 1000));
  return options;
}

// Unit runs a three-step program (70, a ramp to 250, then 100) started from its front panel.
inline void RunThreeSteps(sim::SimulatedLine& sim, int unit) {
  sim.EditUnit(static_cast<std::uint8_t>(unit), [](sim::UnitState& u) {
    u.steps[0] = {1, 600, 70};
    u.steps[1] = {1, 600, 250};
    u.steps[2] = {1, 0, 100};
    u.programLowStep = 1;
    u.programHighStep = 3;
    u.runMode = 2;
  });
  sim.FrontPanelStart(static_cast<std::uint8_t>(unit));
}

// Starts the simulator and opens line on its device: the device path, or the reason.
inline Result<std::string> StartLine(sim::SimulatedLine& sim, link::ModbusRtuLine& line) {
  auto device = sim.Start();
  if (!device) return Status::Failed("simulator: " + device.status().message());
  if (auto opened = line.Open(*device); !opened.ok()) return Status::Failed(opened.message);
  return device;
}

}  // namespace tarvel::bench
