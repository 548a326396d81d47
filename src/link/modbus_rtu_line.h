#pragma once
// link: the serial port and Modbus RTU master; libmodbus opens and sets up the port, the line
// frames and matches the replies itself.

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
  // A frame heard this recently may still come again as a copy (a repeater, a gateway that
  // retries): a reply byte for byte like one of them is asked for again. Beyond the latest copy
  // a line may carry; a line handed over by another process is heard out this long.
  std::chrono::milliseconds duplicateHorizon{1000};
};

enum class OpenOutcome { Ok, NotInstalled, CannotOpen };

struct OpenResult {
  OpenOutcome outcome = OpenOutcome::CannotOpen;
  std::string message;  // for the user: names the device and the reason
  bool ok() const { return outcome == OpenOutcome::Ok; }
};

// What the line heard besides its replies, since it was made.
struct LineCounts {
  long long strays = 0;   // sound frames that answered nothing of ours: skipped
  long long echoes = 0;   // our own requests handed back by the line
  long long copies = 0;   // frames heard again where no request could have asked for them
  long long resends = 0;  // requests sent again: their reply may have been a copy
};

// One port, 9600 baud, no parity, 8 data bits, 1 stop bit, held for this process alone while
// open (see port_hold.h). One exchange at a time: calls from several threads are serialised.
//
// A reply is matched to its request by what it holds, never by when it came: the bytes heard
// are cut into frames by function code and CRC, the request's echo is dropped, and a sound
// frame that does not answer the request (another address or function, a byte count or a
// write echo that does not fit) is skipped while the exchange listens on for its own reply.
// A reply byte for byte like a frame heard within the duplicate horizon may be a copy of it:
// the request goes again at once (reads and writes of the same values change nothing), and a
// reply not heard before, or the same reply again, is taken; after three tries the exchange
// fails (Ambiguous). The 3.5 character times of silence after a reply are spent listening: a
// copy of the reply there is harmless, another reply there makes it doubtful too. Once the
// line has shown a copy, it may carry several copies of one frame at once: there the same
// reply again proves nothing, and a doubtful reply is asked for again only when no twin of it
// has come for a horizon. A sound exchange pays nothing for this. After a failed exchange the line waits until it has
// been quiet for longer than the first-byte window and LineTiming::lateReply has passed since the request, so a late
// reply is never taken for the next one.
class ModbusRtuLine final : public Line {
 public:
  explicit ModbusRtuLine(LineTiming timing = {});
  ~ModbusRtuLine() override;
  ModbusRtuLine(const ModbusRtuLine&) = delete;
  ModbusRtuLine& operator=(const ModbusRtuLine&) = delete;

  // NotInstalled: the device does not exist. CannotOpen: it exists but cannot be opened (held
  // by another program -- the message names it --, no permission, not a serial device);
  // without permission the message says how to get it.
  OpenResult Open(const std::string& devicePath);
  void Close();
  bool IsOpen() const;
  std::string DevicePath() const;
  void SetTiming(LineTiming timing);
  LineTiming Timing() const;
  // True when the last exchange got no reply within its first-byte window but bytes came
  // while the line was left to go quiet: a unit answered, only late.
  bool HeardLateReply() const;
  // True when the port itself failed (the device went away): only opening it again helps.
  bool PortLost() const;
  LineCounts Counts() const;

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
