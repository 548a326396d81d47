// The simulator's own RTU codec: the CRC, and what a slave makes of frames that are not
// sound requests. Sound frames are decoded by every test that drives the line.
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

TEST(Crc16, MatchesKnownFramesAndNeedsFourBytes) {
  EXPECT_EQ(WithCrc({0x01, 0x03, 0x01, 0x64, 0x00, 0x02}), (Bytes{0x01, 0x03, 0x01, 0x64, 0x00, 0x02, 0x84, 0x28}));
  EXPECT_EQ(WithCrc({0x01, 0x05, 0x00, 0x01, 0xFF, 0x00}), (Bytes{0x01, 0x05, 0x00, 0x01, 0xFF, 0x00, 0xDD, 0xFA}));
  Bytes flipped{0x01, 0x05, 0x00, 0x01, 0xFF, 0x00, 0xDD, 0xFA};
  flipped[4] ^= 0x01;
  EXPECT_FALSE(HasValidCrc(flipped));
  // FF FF is the CRC of no bytes: a two-byte "frame" must still not pass.
  EXPECT_FALSE(HasValidCrc(Bytes{0xFF, 0xFF}));
}

TEST(RequestCodec, ASlaveIgnoresNoiseAndRefusesMalformedRequests) {
  Bytes corrupt = EncodeReadRequest(1, 0, 2);
  corrupt[3] = 0x01;
  for (const Bytes& silent : {corrupt, Bytes{0x01, 0x03, 0x00}, Bytes{}})
    EXPECT_EQ(DecodeRequest(silent).kind, DecodedFrame::Kind::Ignore);

  // Checksummed but not a function this controller has: exception 01, for that function.
  DecodedFrame decoded = DecodeRequest(WithCrc({0x01, 0x06, 0x00, 0x00, 0x00, 0x01}));
  ASSERT_EQ(decoded.kind, DecodedFrame::Kind::Exception);
  EXPECT_EQ(decoded.exception, ExceptionCode::IllegalFunction);
  EXPECT_EQ(static_cast<int>(decoded.request.function), 0x06);

  // Quantity zero, a byte count that does not match, a frame of the wrong length: 03.
  for (const Bytes& frame : {EncodeReadRequest(1, 0, 0), WithCrc({0x01, 0x10, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x01}),
                             WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00}), WithCrc({0x01, 0x10, 0x00, 0x00})}) {
    decoded = DecodeRequest(frame);
    EXPECT_EQ(decoded.kind, DecodedFrame::Kind::Exception) << ::testing::PrintToString(frame);
    EXPECT_EQ(decoded.exception, ExceptionCode::IllegalDataValue) << ::testing::PrintToString(frame);
  }
}

}  // namespace
}  // namespace tarvel::sim
