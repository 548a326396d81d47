#include "link/line_scan.h"

#include <algorithm>
#include <optional>

#include "link/commands.h"

namespace tarvel::link {
namespace {

// Sets a shorter first-byte window for as long as it lives.
class ShortWindow {
 public:
  // An absent unit costs the short window and the quiet after it, not the wait for a late
  // reply: a late one is caught by asking again (Run) and by the address check.
  ShortWindow(ModbusRtuLine& line, std::chrono::milliseconds window)
      : line_(line),
        normal_(line.Timing()),
        probing_{std::min(window, normal_.firstByte), normal_.rest, std::chrono::milliseconds(0)} {
    line_.SetTiming(probing_);
  }
  ~ShortWindow() { line_.SetTiming(normal_); }
  ShortWindow(const ShortWindow&) = delete;
  ShortWindow& operator=(const ShortWindow&) = delete;

  struct Attempt {
    Probe probe;
    bool stray = false;  // bytes came that were not this unit's answer: an earlier unit's, late
  };

  Attempt Run(std::uint8_t address) {
    Probe probe = ReadOnce(address);
    const bool late = probe.outcome == Outcome::NoReply && line_.HeardLateReply();
    if (!late && probe.outcome != Outcome::WrongAddress) return {probe, false};
    // A late unit, or a late reply of an earlier address that got in the way: ask again,
    // giving the unit the whole window.
    Probe again = Normal(address);
    return {again, probe.outcome == Outcome::WrongAddress || !again.present()};
  }

  Probe Normal(std::uint8_t address) {
    line_.SetTiming(normal_);
    Probe probe = ReadOnce(address);
    line_.SetTiming(probing_);
    return probe;
  }

 private:
  Probe ReadOnce(std::uint8_t address) {
    CommandSet commands(line_);
    auto reply = commands.ReadProcessValue(address);
    return {address, reply.outcome, reply.value};
  }

  ModbusRtuLine& line_;
  LineTiming normal_;
  LineTiming probing_;
};

}  // namespace

std::vector<std::uint8_t> ScanResult::Found() const {
  std::vector<std::uint8_t> found;
  for (const Probe& p : probes)
    if (p.present()) found.push_back(p.address);
  return found;
}

Probe ProbeUnit(ModbusRtuLine& line, std::uint8_t address, std::chrono::milliseconds window) {
  return ShortWindow(line, window).Run(address).probe;
}

ScanResult ScanLine(ModbusRtuLine& line, int first, int last, const std::function<void(const Probe&)>& onProbe,
                    const std::atomic<bool>* cancel, std::chrono::milliseconds window) {
  ScanResult result;
  ShortWindow shortWindow(line, window);
  // Each address is reported once the next one has been asked: a unit so slow that its reply
  // only came during the next exchange is asked again with the whole window first.
  std::optional<Probe> previous;
  auto report = [&](const Probe& probe) {
    result.probes.push_back(probe);
    if (onProbe) onProbe(probe);
  };
  for (int address = first; address <= last; ++address) {
    if (cancel && cancel->load()) {
      result.cancelled = true;
      break;
    }
    auto [probe, stray] = shortWindow.Run(static_cast<std::uint8_t>(address));
    if (probe.outcome == Outcome::PortClosed || probe.outcome == Outcome::PortError) {
      result.portFailure = probe.outcome;
      break;
    }
    if (stray && previous && previous->outcome == Outcome::NoReply) previous = shortWindow.Normal(previous->address);
    if (previous) report(*previous);
    previous = probe;
  }
  if (previous) report(*previous);
  return result;
}

ScanResult ScanLine(const std::function<Probe(std::uint8_t)>& probe, int first, int last,
                    const std::function<void(const Probe&)>& onProbe, const std::atomic<bool>* cancel) {
  ScanResult result;
  for (int address = first; address <= last; ++address) {
    if (cancel && cancel->load()) {
      result.cancelled = true;
      break;
    }
    const Probe p = probe(static_cast<std::uint8_t>(address));
    if (p.outcome == Outcome::PortClosed || p.outcome == Outcome::PortError) {
      result.portFailure = p.outcome;
      break;
    }
    result.probes.push_back(p);
    if (onProbe) onProbe(p);
  }
  return result;
}

}  // namespace tarvel::link
