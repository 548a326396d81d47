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

// Answers as soon as the wire allows, for a program of ours that keeps its own reply
// window: a loaded machine can hardly make a reading miss it. (An unpaced line would answer
// before the request could have left a real wire, which the master refuses as no reply of its.)
inline sim::Options InstantLine(std::vector<std::uint8_t> addresses) {
  sim::Options options = QuickLine(std::move(addresses));
  options.turnaround = std::chrono::milliseconds(0);
  return options;
}

}  // namespace tarvel::testing
