#include "sim/rtu_codec.h"

namespace tarvel::sim {
namespace {

// Modbus limits on one request: 125 registers read, 123 written.
constexpr std::uint16_t kMaxReadQuantity = 125;
constexpr std::uint16_t kMaxWriteQuantity = 123;

std::uint16_t Word(std::span<const std::uint8_t> frame, std::size_t offset) {
  return static_cast<std::uint16_t>((frame[offset] << 8) | frame[offset + 1]);
}

void PutWord(std::vector<std::uint8_t>& frame, std::uint16_t value) {
  frame.push_back(static_cast<std::uint8_t>(value >> 8));
  frame.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

DecodedFrame Refuse(DecodedFrame decoded, ExceptionCode code) {
  decoded.kind = DecodedFrame::Kind::Exception;
  decoded.exception = code;
  return decoded;
}

}  // namespace

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
      const bool odd = (crc & 1) != 0;
      crc = static_cast<std::uint16_t>(crc >> 1);
      if (odd) crc ^= 0xA001;
    }
  }
  return crc;
}

void AppendCrc(std::vector<std::uint8_t>& frame) {
  const std::uint16_t crc = Crc16(frame);
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

bool HasValidCrc(std::span<const std::uint8_t> frame) {
  if (frame.size() < 4) return false;
  const std::uint16_t crc = Crc16(frame.first(frame.size() - 2));
  return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

DecodedFrame DecodeRequest(std::span<const std::uint8_t> frame) {
  DecodedFrame decoded;
  if (!HasValidCrc(frame)) return decoded;  // Kind::Ignore
  decoded.request.address = frame[0];
  decoded.request.function = static_cast<FunctionCode>(frame[1]);
  const std::size_t size = frame.size();

  switch (frame[1]) {
    case 0x03: {
      if (size != 8) return Refuse(decoded, ExceptionCode::IllegalDataValue);
      decoded.request.start = Word(frame, 2);
      decoded.request.quantity = Word(frame, 4);
      if (decoded.request.quantity < 1 || decoded.request.quantity > kMaxReadQuantity)
        return Refuse(decoded, ExceptionCode::IllegalDataValue);
      break;
    }
    case 0x05: {
      if (size != 8) return Refuse(decoded, ExceptionCode::IllegalDataValue);
      decoded.request.start = Word(frame, 2);
      decoded.request.quantity = 1;
      decoded.request.values = {Word(frame, 4)};
      break;
    }
    case 0x10: {
      if (size < 9) return Refuse(decoded, ExceptionCode::IllegalDataValue);
      decoded.request.start = Word(frame, 2);
      const std::uint16_t quantity = Word(frame, 4);
      const std::size_t byteCount = frame[6];
      if (quantity < 1 || quantity > kMaxWriteQuantity || byteCount != 2u * quantity || size != 9 + byteCount)
        return Refuse(decoded, ExceptionCode::IllegalDataValue);
      decoded.request.quantity = quantity;
      for (std::size_t i = 0; i < quantity; ++i) decoded.request.values.push_back(Word(frame, 7 + 2 * i));
      break;
    }
    default: return Refuse(decoded, ExceptionCode::IllegalFunction);
  }
  decoded.kind = DecodedFrame::Kind::Request;
  return decoded;
}

std::vector<std::uint8_t> EncodeReadReply(std::uint8_t address, std::span<const std::uint16_t> registers) {
  std::vector<std::uint8_t> frame{address, 0x03, static_cast<std::uint8_t>(2 * registers.size())};
  for (std::uint16_t value : registers) PutWord(frame, value);
  AppendCrc(frame);
  return frame;
}

std::vector<std::uint8_t> EncodeWriteReply(std::uint8_t address, std::uint16_t start, std::uint16_t quantity) {
  std::vector<std::uint8_t> frame{address, 0x10};
  PutWord(frame, start);
  PutWord(frame, quantity);
  AppendCrc(frame);
  return frame;
}

std::vector<std::uint8_t> EncodeCoilReply(std::uint8_t address, std::uint16_t coil, std::uint16_t value) {
  std::vector<std::uint8_t> frame{address, 0x05};
  PutWord(frame, coil);
  PutWord(frame, value);
  AppendCrc(frame);
  return frame;
}

std::vector<std::uint8_t> EncodeExceptionReply(std::uint8_t address, std::uint8_t function, ExceptionCode code) {
  std::vector<std::uint8_t> frame{address, static_cast<std::uint8_t>(function | 0x80), static_cast<std::uint8_t>(code)};
  AppendCrc(frame);
  return frame;
}

std::vector<std::uint8_t> EncodeReadRequest(std::uint8_t address, std::uint16_t start, std::uint16_t quantity) {
  std::vector<std::uint8_t> frame{address, 0x03};
  PutWord(frame, start);
  PutWord(frame, quantity);
  AppendCrc(frame);
  return frame;
}

std::vector<std::uint8_t> EncodeWriteRequest(std::uint8_t address, std::uint16_t start,
                                             std::span<const std::uint16_t> values) {
  std::vector<std::uint8_t> frame{address, 0x10};
  PutWord(frame, start);
  PutWord(frame, static_cast<std::uint16_t>(values.size()));
  frame.push_back(static_cast<std::uint8_t>(2 * values.size()));
  for (std::uint16_t value : values) PutWord(frame, value);
  AppendCrc(frame);
  return frame;
}

std::vector<std::uint8_t> EncodeCoilRequest(std::uint8_t address, std::uint16_t coil, bool on) {
  std::vector<std::uint8_t> frame{address, 0x05};
  PutWord(frame, coil);
  PutWord(frame, on ? 0xFF00 : 0x0000);
  AppendCrc(frame);
  return frame;
}

}  // namespace tarvel::sim
