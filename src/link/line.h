#pragma once
// link: the master side of one RS-485 line, as the command set sees it. ModbusRtuLine
// implements it on libmodbus; tests may implement it with a fake.

#include <cstdint>
#include <vector>

#include "link/outcome.h"

namespace tarvel::link {

// The two registers of a read: reg and reg + 1.
struct RegisterPair {
  std::uint16_t first = 0;
  std::uint16_t second = 0;
};

class Line {
 public:
  virtual ~Line() = default;

  // Function 3 for two registers starting at reg: the values of reg and reg + 1.
  virtual Reply<RegisterPair> ReadRegisterPair(std::uint8_t address, std::uint16_t reg) = 0;
  // Function 16 for two registers: reg = value, reg + 1 = next. A controller may store both
  // registers, so next is always the value reg + 1 is to hold, never a filler.
  virtual Outcome WriteRegisters(std::uint8_t address, std::uint16_t reg, std::uint16_t value, std::uint16_t next) = 0;
  // Function 5 on one coil: 0xFF00 on, 0x0000 off.
  virtual Outcome WriteCoil(std::uint8_t address, std::uint16_t coil, bool on) = 0;
  // Function 3 for count registers (1..125) from reg on: their values, in order. Only the
  // read of two is sure to be answered; a controller may refuse more (an exception) or say
  // nothing. A line that cannot send such a read answers NotSent for any count but two.
  virtual Reply<std::vector<std::uint16_t>> ReadRegisterBlock(std::uint8_t address, std::uint16_t reg, int count) {
    if (count != 2) return {Outcome::NotSent, {}};
    auto pair = ReadRegisterPair(address, reg);
    if (!pair.ok()) return {pair.outcome, {}};
    return {Outcome::Ok, {pair.value.first, pair.value.second}};
  }

  // The first register of a two-register read.
  Reply<std::uint16_t> ReadRegisters(std::uint8_t address, std::uint16_t reg) {
    auto pair = ReadRegisterPair(address, reg);
    return {pair.outcome, pair.ok() ? pair.value.first : std::uint16_t{0}};
  }
};

}  // namespace tarvel::link
