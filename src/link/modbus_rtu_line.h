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
  // After a failed exchange no request goes out until this long after the failed one was
  // sent: a controller that answers late (200-400 ms) is heard out, not taken for the next reply.
  std::chrono::milliseconds lateReply{500};
};

enum class OpenOutcome { Ok, NotInstalled, CannotOpen };

struct OpenResult {
  OpenOutcome outcome = OpenOutcome::CannotOpen;
  std::string message;  // for the user: names the device and the reason
  bool ok() const { return outcome == OpenOutcome::Ok; }
};

// One port, 9600 baud, no parity, 8 data bits, 1 stop bit, held for exclusive use while
// open. One exchange at a time: calls from several threads are serialised.
// A reply belongs to its own request. An exchange fails when bytes come before its request
// can have left the wire (EarlyFrame), or when another frame follows its reply within the
// 3.5 character times of silence the line keeps after every reply anyway (ExtraFrame), so a
// second frame costs a sound exchange nothing. Input waiting before a request is heard out
// until the line is quiet. After a failed exchange the line waits until it has been quiet
// for longer than the first-byte window and LineTiming::lateReply has passed since the
// request, so a late reply is never taken for the next one.
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
  LineTiming Timing() const;
  // True when the last exchange got no reply within its first-byte window but bytes came
  // while the line was left to go quiet: a unit answered, only late.
  bool HeardLateReply() const;

  Reply<RegisterPair> ReadRegisterPair(std::uint8_t address, std::uint16_t reg) override;
  Outcome WriteRegisters(std::uint8_t address, std::uint16_t reg, std::uint16_t value, std::uint16_t next) override;
  Outcome WriteCoil(std::uint8_t address, std::uint16_t coil, bool on) override;
  // NotSent for a count outside 1..125; a reply must carry exactly count registers.
  Reply<std::vector<std::uint16_t>> ReadRegisterBlock(std::uint8_t address, std::uint16_t reg, int count) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvel::link
