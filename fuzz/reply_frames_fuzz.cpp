// Fuzz target: the bytes a master hears, cut into frames and judged against a request. The
// first byte chooses the request (a pair read, a block read, a register write, a coil write)
// and how the rest comes in (in chunks of 1 to 8 bytes, as a line may deliver it).
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "link/reply_frames.h"

namespace {

using tarvel::link::Frame;

Frame Request(std::uint8_t choice) {
  switch (choice % 4) {
    case 0: return tarvel::link::WithCrc(std::vector<std::uint8_t>{0x01, 0x03, 0x40, 0x00, 0x00, 0x02});
    case 1: return tarvel::link::WithCrc(std::vector<std::uint8_t>{0x01, 0x03, 0x40, 0x00, 0x00, 0x40});
    case 2:
      return tarvel::link::WithCrc(
          std::vector<std::uint8_t>{0x01, 0x10, 0x20, 0x0D, 0x00, 0x02, 0x04, 0x00, 0x02, 0x00, 0x01});
    default: return tarvel::link::WithCrc(std::vector<std::uint8_t>{0x01, 0x05, 0x00, 0x01, 0xFF, 0x00});
  }
}

bool Sound(const Frame& frame) {
  if (frame.size() < 4) return false;
  const std::uint16_t crc = tarvel::link::Crc16(std::span(frame).first(frame.size() - 2));
  return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Frame request = Request(data[0]);
  const std::size_t chunk = 1 + (data[0] >> 2) % 8;
  tarvel::link::FrameCutter cutter(request);
  std::size_t cut = 0;
  auto take = [&](const Frame& frame) {
    // Every frame handed out is the request's echo or a sound frame, and its role is told.
    FUZZ_CHECK(frame == request || Sound(frame));
    FUZZ_CHECK(frame.size() <= 256);
    const auto judged = tarvel::link::Judge(request, frame, data[0] & 0x80);
    FUZZ_CHECK(judged.role != tarvel::link::FrameRole::Reply || frame[0] == request[0]);
    cut += frame.size();
  };
  for (std::size_t at = 1; at < size; at += chunk) {
    cutter.Add(std::span(data + at, std::min(chunk, size - at)));
    while (auto frame = cutter.Next()) take(*frame);
  }
  while (auto frame = cutter.Next(true)) take(*frame);
  // Nothing is made up: what was cut and what was skipped come from the bytes heard.
  FUZZ_CHECK(cut + static_cast<std::size_t>(cutter.Skipped()) <= size - 1);
  return 0;
}
