#pragma once
// sim: the slave's own Modbus RTU codec. Deliberately separate from the master side
// (libmodbus), so that each checks the other's frames byte for byte.

#include <cstdint>
#include <span>
#include <vector>

namespace tarvel::sim {

enum class FunctionCode : std::uint8_t {
  ReadHoldingRegisters = 0x03,
  WriteSingleCoil = 0x05,
  WriteMultipleRegisters = 0x10,
};

enum class ExceptionCode : std::uint8_t {
  IllegalFunction = 0x01,
  IllegalDataAddress = 0x02,
  IllegalDataValue = 0x03,
  SlaveDeviceFailure = 0x04,
};

// Modbus CRC-16 (reflected 0xA001, start 0xFFFF). Sent low byte first.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes);
void AppendCrc(std::vector<std::uint8_t>& frame);
// At least address, function and the two CRC bytes, and the CRC matches.
bool HasValidCrc(std::span<const std::uint8_t> frame);

struct Request {
  std::uint8_t address = 0;
  FunctionCode function = FunctionCode::ReadHoldingRegisters;
  std::uint16_t start = 0;            // first register, or the coil
  std::uint16_t quantity = 0;         // registers to read or write; 1 for a coil
  std::vector<std::uint16_t> values;  // fn 16: the registers' values; fn 5: 0xFF00 / 0x0000 as sent
};

// What a slave makes of one frame delimited by silence on the line.
struct DecodedFrame {
  enum class Kind {
    Request,    // well formed: act on it
    Exception,  // addressed and checksummed, but unusable: answer with `exception`
    Ignore,     // too short or a bad CRC: a slave stays silent
  };
  Kind kind = Kind::Ignore;
  Request request;  // address and function are filled for Kind::Exception too
  ExceptionCode exception = ExceptionCode::IllegalFunction;
};

DecodedFrame DecodeRequest(std::span<const std::uint8_t> frame);

// Replies, CRC included.
std::vector<std::uint8_t> EncodeReadReply(std::uint8_t address, std::span<const std::uint16_t> registers);
std::vector<std::uint8_t> EncodeWriteReply(std::uint8_t address, std::uint16_t start, std::uint16_t quantity);
std::vector<std::uint8_t> EncodeCoilReply(std::uint8_t address, std::uint16_t coil, std::uint16_t value);
std::vector<std::uint8_t> EncodeExceptionReply(std::uint8_t address, std::uint8_t function, ExceptionCode code);

// Requests, CRC included: what a master sends (tests and tools drive the line with these).
std::vector<std::uint8_t> EncodeReadRequest(std::uint8_t address, std::uint16_t start, std::uint16_t quantity);
std::vector<std::uint8_t> EncodeWriteRequest(std::uint8_t address, std::uint16_t start,
                                             std::span<const std::uint16_t> values);
std::vector<std::uint8_t> EncodeCoilRequest(std::uint8_t address, std::uint16_t coil, bool on);

}  // namespace tarvel::sim
