#pragma once
// link: finding the controllers on a line. Shared by the channel map window, the port
// set-up and tarvel-cli. An absent unit costs a whole reply window plus the quiet wait after
// it, so probes use a short first-byte window; a unit heard answering after it is probed
// again with the line's normal window, so a slow controller is still found.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "link/modbus_rtu_line.h"
#include "link/outcome.h"

namespace tarvel::link {

// Well above the 22 ms a controller with a 10 ms turnaround needs for its first byte at
// 9600 baud (request on the wire, 3.5 characters of silence, turnaround).
inline constexpr std::chrono::milliseconds kProbeWindow{40};

struct Probe {
  std::uint8_t address = 0;
  Outcome outcome = Outcome::NoReply;
  std::int16_t processValue = 0;  // the presence probe reads the process value
  bool present() const { return outcome == Outcome::Ok; }
};

// One presence probe (a process value read) with the short window, then with the normal
// window when the unit was heard late or another unit's reply came in the way.
Probe ProbeUnit(ModbusRtuLine& line, std::uint8_t address, std::chrono::milliseconds window = kProbeWindow);

struct ScanResult {
  std::vector<Probe> probes;  // in address order, one per address probed
  bool cancelled = false;     // stopped between two addresses on request
  // PortClosed or PortError when the port failed: the scan stops at that address.
  Outcome portFailure = Outcome::Ok;
  std::vector<std::uint8_t> Found() const;
};

// Probes first..last in order. onProbe runs after each address (progress, messages,
// adding to a map); cancel, when set, stops the scan before the next address. The line's
// reply window is the same afterwards as before.
ScanResult ScanLine(ModbusRtuLine& line, int first, int last, const std::function<void(const Probe&)>& onProbe,
                    const std::atomic<bool>* cancel = nullptr, std::chrono::milliseconds window = kProbeWindow);
// The same with each address probed elsewhere (ProbeUnit on the port's owner: the line service).
ScanResult ScanLine(const std::function<Probe(std::uint8_t)>& probe, int first, int last,
                    const std::function<void(const Probe&)>& onProbe, const std::atomic<bool>* cancel = nullptr);

}  // namespace tarvel::link
