#pragma once
// link: the master side of one RS-485 line, as the command set sees it. ModbusRtuLine
// implements it on libmodbus; tests may implement it with a fake.

#include <cstdint>

#include "link/outcome.h"

namespace tarvel::link {

class Line {
 public:
  virtual ~Line() = default;

  // Function 3 for two registers starting at reg; the value of the first register
  // (the second is read and ignored).
  virtual Reply<std::uint16_t> ReadRegisters(std::uint8_t address, std::uint16_t reg) = 0;
  // Function 16 for two registers: reg = value, reg + 1 = 0x0000.
  virtual Outcome WriteRegisters(std::uint8_t address, std::uint16_t reg, std::uint16_t value) = 0;
  // Function 5 on one coil: 0xFF00 on, 0x0000 off.
  virtual Outcome WriteCoil(std::uint8_t address, std::uint16_t coil, bool on) = 0;
};

}  // namespace tarvel::link
