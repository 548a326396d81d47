// The simulator's own RTU codec: CRC, request decoding and reply layouts, byte for byte.
#include <gtest/gtest.h>

#include <vector>

#include "sim/rtu_codec.h"

namespace tarvel::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes WithCrc(Bytes frame) {
  AppendCrc(frame);
  return frame;
}

TEST(Crc16, MatchesTheKnownFramesAndTheEmptyFrame) {
  EXPECT_EQ(WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02}), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B}));
  EXPECT_EQ(WithCrc({0x01, 0x03, 0x01, 0x64, 0x00, 0x02}), (Bytes{0x01, 0x03, 0x01, 0x64, 0x00, 0x02, 0x84, 0x28}));
  EXPECT_EQ(WithCrc({0x01, 0x05, 0x00, 0x01, 0xFF, 0x00}), (Bytes{0x01, 0x05, 0x00, 0x01, 0xFF, 0x00, 0xDD, 0xFA}));
  EXPECT_EQ(Crc16({}), 0xFFFF);
}

TEST(Crc16, ValidityNeedsFourBytesAndTheRightChecksum) {
  const Bytes good{0x01, 0x05, 0x00, 0x01, 0xFF, 0x00, 0xDD, 0xFA};
  EXPECT_TRUE(HasValidCrc(good));
  Bytes flipped = good;
  flipped[4] ^= 0x01;
  EXPECT_FALSE(HasValidCrc(flipped));
  // FF FF is the CRC of no bytes: a two-byte "frame" must still not pass.
  EXPECT_FALSE(HasValidCrc(Bytes{0xFF, 0xFF}));
  EXPECT_FALSE(HasValidCrc(Bytes{0x01}));
}

TEST(RequestCodec, RoundTripsTheThreeFunctions) {
  const Bytes read = EncodeReadRequest(1, 0x0164, 2);
  EXPECT_EQ(read, (Bytes{0x01, 0x03, 0x01, 0x64, 0x00, 0x02, 0x84, 0x28}));
  DecodedFrame decoded = DecodeRequest(read);
  ASSERT_EQ(decoded.kind, DecodedFrame::Kind::Request);
  EXPECT_EQ(decoded.request.address, 1);
  EXPECT_EQ(decoded.request.function, FunctionCode::ReadHoldingRegisters);
  EXPECT_EQ(decoded.request.start, 0x0164);
  EXPECT_EQ(decoded.request.quantity, 2);

  const std::uint16_t values[] = {0xFFC0, 0x0000};
  const Bytes write = EncodeWriteRequest(9, 0x40BF, values);
  EXPECT_EQ(write, WithCrc({0x09, 0x10, 0x40, 0xBF, 0x00, 0x02, 0x04, 0xFF, 0xC0, 0x00, 0x00}));
  decoded = DecodeRequest(write);
  ASSERT_EQ(decoded.kind, DecodedFrame::Kind::Request);
  EXPECT_EQ(decoded.request.start, 0x40BF);
  EXPECT_EQ(decoded.request.values, (std::vector<std::uint16_t>{0xFFC0, 0x0000}));

  decoded = DecodeRequest(EncodeCoilRequest(64, 1, false));
  ASSERT_EQ(decoded.kind, DecodedFrame::Kind::Request);
  EXPECT_EQ(decoded.request.address, 64);
  EXPECT_EQ(decoded.request.function, FunctionCode::WriteSingleCoil);
  EXPECT_EQ(decoded.request.values, (std::vector<std::uint16_t>{0x0000}));
}

TEST(RequestCodec, ASlaveIgnoresNoiseAndRefusesMalformedRequests) {
  // Bad CRC, or too short to carry one: silence.
  Bytes corrupt = EncodeReadRequest(1, 0, 2);
  corrupt[3] = 0x01;
  EXPECT_EQ(DecodeRequest(corrupt).kind, DecodedFrame::Kind::Ignore);
  EXPECT_EQ(DecodeRequest(Bytes{0x01, 0x03, 0x00}).kind, DecodedFrame::Kind::Ignore);
  EXPECT_EQ(DecodeRequest(Bytes{}).kind, DecodedFrame::Kind::Ignore);

  // Checksummed but not a function this controller has: exception 01.
  DecodedFrame decoded = DecodeRequest(WithCrc({0x01, 0x06, 0x00, 0x00, 0x00, 0x01}));
  ASSERT_EQ(decoded.kind, DecodedFrame::Kind::Exception);
  EXPECT_EQ(decoded.exception, ExceptionCode::IllegalFunction);
  EXPECT_EQ(static_cast<int>(decoded.request.function), 0x06);

  // Quantity zero, a byte count that does not match, a frame of the wrong length: 03.
  EXPECT_EQ(DecodeRequest(EncodeReadRequest(1, 0, 0)).exception, ExceptionCode::IllegalDataValue);
  EXPECT_EQ(DecodeRequest(WithCrc({0x01, 0x10, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x01})).exception,
            ExceptionCode::IllegalDataValue);
  EXPECT_EQ(DecodeRequest(WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00})).kind, DecodedFrame::Kind::Exception);
  EXPECT_EQ(DecodeRequest(WithCrc({0x01, 0x10, 0x00, 0x00})).exception, ExceptionCode::IllegalDataValue);
}

}  // namespace
}  // namespace tarvel::sim
