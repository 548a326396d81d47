#pragma once
// link: the bytes a master hears, cut into Modbus RTU frames by what they hold (function code,
// byte count, CRC) rather than by the silence between them -- lines that do not pace bytes run
// frames together -- and each frame judged against the request under way: the request's own
// echo, its reply, or a stray (another unit's frame, another request's reply).

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/outcome.h"

namespace tarvel::link {

using Frame = std::vector<std::uint8_t>;  // address first, CRC last

std::uint16_t Crc16(std::span<const std::uint8_t> bytes);
// The request as it goes on the line: its bytes and their CRC, low byte first.
Frame WithCrc(std::span<const std::uint8_t> request);

enum class FrameRole {
  Echo,   // the request itself, as an adapter without echo suppression hands it back
  Reply,  // answers the request: its address and function (or exception), its length and echo
  Stray,  // a sound frame that does not answer it
};

struct Judged {
  FrameRole role = FrameRole::Stray;
  // A stray as the failure it would be if nothing better came: WrongAddress, WrongFunction,
  // BadLength, BadEcho. For a reply: Ok, or Exception.
  Outcome outcome = Outcome::Ok;
};

// What frame is to request (with its CRC). A frame equal to the request is its echo, except
// for a coil write, whose reply repeats the request: echoExpected tells which it is.
Judged Judge(std::span<const std::uint8_t> request, std::span<const std::uint8_t> frame, bool echoExpected);

// Collects the bytes of one exchange and hands out the frames in them, skipping bytes that
// belong to no sound frame (noise, a stray byte before a reply).
class FrameCutter {
 public:
  explicit FrameCutter(std::span<const std::uint8_t> request) : request_(request.begin(), request.end()) {}

  void Add(std::span<const std::uint8_t> bytes) { pending_.insert(pending_.end(), bytes.begin(), bytes.end()); }
  // The next whole frame with a sound CRC, or nothing until more bytes come. With lastCall no
  // more will come: what could still have become the request's echo is cut as it stands.
  std::optional<Frame> Next(bool lastCall = false);
  // Bytes that are no whole frame yet.
  bool Pending() const { return !pending_.empty(); }
  // Bytes skipped as part of no sound frame.
  int Skipped() const { return skipped_; }

 private:
  void Skip(std::size_t count);
  // Offset of a whole reply to the request after the first byte, when the head waits for bytes
  // that may never come.
  std::optional<std::size_t> ReplyFurtherOn() const;

  Frame request_;
  std::vector<std::uint8_t> pending_;
  int skipped_ = 0;
};

}  // namespace tarvel::link
