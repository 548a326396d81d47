#pragma once
// Simulator options for tests that drive the real serial path.

#include <chrono>
#include <cstdint>
#include <vector>

#include "sim/simulated_line.h"

namespace tarvel::testing {

// Paced at 9600 baud like the real line, with a short turnaround so tests stay quick; the
// clock moves only when a test says so.
inline sim::Options QuickLine(std::vector<std::uint8_t> addresses) {
  sim::Options options;
  options.addresses = std::move(addresses);
  options.clock = sim::Options::Clock::Manual;
  options.turnaround = std::chrono::milliseconds(1);
  return options;
}

// Answers at once, for a program of ours that keeps its own reply window: a loaded machine
// cannot then make a reading miss it.
inline sim::Options InstantLine(std::vector<std::uint8_t> addresses) {
  sim::Options options = QuickLine(std::move(addresses));
  options.baud = 0;
  options.turnaround = std::chrono::milliseconds(0);
  return options;
}

}  // namespace tarvel::testing
