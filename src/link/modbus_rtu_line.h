#pragma once
// link: the serial port and Modbus RTU master on libmodbus.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "link/line.h"

namespace tarvel::link {

struct LineTiming {
  std::chrono::milliseconds firstByte{100};  // request sent -> first reply byte
  std::chrono::milliseconds rest{100};       // first reply byte -> whole reply
};

enum class OpenOutcome { Ok, NotInstalled, CannotOpen };

struct OpenResult {
  OpenOutcome outcome = OpenOutcome::CannotOpen;
  std::string message;  // for the user: names the device and the reason
  bool ok() const { return outcome == OpenOutcome::Ok; }
};

// One port, 9600 baud, no parity, 8 data bits, 1 stop bit. The port stays open between
// exchanges. One exchange at a time: calls from several threads are serialised.
// Before each request waiting input is flushed; after a failed exchange the line is left
// to go quiet for longer than the first-byte window, so a late reply is never taken for the
// next one (a reply that starts more than two windows after its request would look exactly
// like the next exchange's reply; no master can tell them apart); at least 3.5 character
// times of silence separate a reply from the next request.
class ModbusRtuLine final : public Line {
 public:
  explicit ModbusRtuLine(LineTiming timing = {});
  ~ModbusRtuLine() override;
  ModbusRtuLine(const ModbusRtuLine&) = delete;
  ModbusRtuLine& operator=(const ModbusRtuLine&) = delete;

  // NotInstalled: the device does not exist. CannotOpen: it exists but cannot be opened
  // (busy, no permission, not a serial device); without permission the message says how
  // to get it.
  OpenResult Open(const std::string& devicePath);
  void Close();
  bool IsOpen() const;
  std::string DevicePath() const;
  void SetTiming(LineTiming timing);

  Reply<std::uint16_t> ReadRegisters(std::uint8_t address, std::uint16_t reg) override;
  Outcome WriteRegisters(std::uint8_t address, std::uint16_t reg, std::uint16_t value) override;
  Outcome WriteCoil(std::uint8_t address, std::uint16_t coil, bool on) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvel::link
