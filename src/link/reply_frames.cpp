#include "link/reply_frames.h"

#include <algorithm>

namespace tarvel::link {
namespace {

constexpr std::size_t kMaxFrame = 256;  // the longest RTU frame

bool SoundCrc(std::span<const std::uint8_t> frame) {
  if (frame.size() < 4) return false;
  const std::uint16_t crc = Crc16(frame.first(frame.size() - 2));
  return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

// The length a frame starting here has by its function code: 0 when no frame a slave sends
// starts here, nothing while too few bytes are in to tell.
std::optional<std::size_t> ClaimedLength(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 2) return std::nullopt;
  const std::uint8_t function = bytes[1];
  if (function & 0x80) return 5;  // exception: address, function, code, CRC
  switch (function) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
      if (bytes.size() < 3) return std::nullopt;
      return 5 + std::size_t{bytes[2]};
    case 0x05:
    case 0x06:
    case 0x0F:
    case 0x10: return 8;
    default: return 0;
  }
}

// The length of the request's reply: an exception's, or the one its function and quantity give.
std::size_t ReplyLength(std::span<const std::uint8_t> request, std::uint8_t function) {
  if (function & 0x80) return 5;
  if (request[1] == 0x03) return 5 + 2 * std::size_t(request[4] << 8 | request[5]);
  return 8;
}

}  // namespace

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

Frame WithCrc(std::span<const std::uint8_t> request) {
  Frame frame(request.begin(), request.end());
  const std::uint16_t crc = Crc16(request);
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

Judged Judge(std::span<const std::uint8_t> request, std::span<const std::uint8_t> frame, bool echoExpected) {
  // A read or a register write can never be its own reply; a coil write's reply repeats it.
  if (std::ranges::equal(frame, request) && (request[1] != 0x05 || echoExpected)) return {FrameRole::Echo};
  if (frame[0] != request[0]) return {FrameRole::Stray, Outcome::WrongAddress};
  const std::uint8_t function = frame[1];
  if (function == (request[1] | 0x80))
    return frame.size() == 5 ? Judged{FrameRole::Reply, Outcome::Exception}
                             : Judged{FrameRole::Stray, Outcome::BadLength};
  if (function != request[1]) return {FrameRole::Stray, Outcome::WrongFunction};
  if (frame.size() != ReplyLength(request, function)) return {FrameRole::Stray, Outcome::BadLength};
  if (function == 0x03)
    return frame[2] == frame.size() - 5 ? Judged{FrameRole::Reply} : Judged{FrameRole::Stray, Outcome::BadLength};
  // A write's reply repeats the register or coil and the quantity or value.
  return std::equal(request.begin() + 2, request.begin() + 6, frame.begin() + 2)
             ? Judged{FrameRole::Reply}
             : Judged{FrameRole::Stray, Outcome::BadEcho};
}

void FrameCutter::Skip(std::size_t count) {
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
  skipped_ += static_cast<int>(count);
}

std::optional<std::size_t> FrameCutter::ReplyFurtherOn() const {
  const std::span<const std::uint8_t> bytes(pending_);
  for (std::size_t at = 1; at + 5 <= bytes.size(); ++at) {
    if (bytes[at] != request_[0] || (bytes[at + 1] & 0x7F) != request_[1]) continue;
    const std::size_t length = ReplyLength(request_, bytes[at + 1]);
    if (at + length > bytes.size()) continue;
    const auto frame = bytes.subspan(at, length);
    if (SoundCrc(frame) && Judge(request_, frame, false).role == FrameRole::Reply) return at;
  }
  return std::nullopt;
}

std::optional<Frame> FrameCutter::Next(bool lastCall) {
  while (!pending_.empty()) {
    const std::span<const std::uint8_t> bytes(pending_);
    // The echo comes whole or not at all: while the bytes so far could still become it, wait.
    const std::size_t common = std::min(bytes.size(), request_.size());
    if (std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(common), request_.begin())) {
      if (bytes.size() >= request_.size()) {
        Frame echo(request_);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(request_.size()));
        return echo;
      }
      if (!lastCall) return std::nullopt;
    }
    const std::optional<std::size_t> length = ClaimedLength(bytes);
    if (length && (*length == 0 || *length > kMaxFrame)) {
      Skip(1);
      continue;
    }
    if (length && bytes.size() >= *length) {
      if (SoundCrc(bytes.first(*length))) {
        Frame frame(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(*length));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(*length));
        return frame;
      }
      Skip(1);
      continue;
    }
    // The head waits for more bytes. A whole reply behind it shows the head for noise.
    if (auto at = ReplyFurtherOn()) {
      Skip(*at);
      continue;
    }
    if (!lastCall) return std::nullopt;
    // Nothing more comes: a sound frame further on is kept; what is left is an unfinished frame.
    std::size_t at = 1;
    for (; at < bytes.size(); ++at) {
      const auto rest = bytes.subspan(at);
      const auto claimed = ClaimedLength(rest);
      if (claimed && *claimed >= 4 && *claimed <= rest.size() && SoundCrc(rest.first(*claimed))) break;
    }
    if (at == bytes.size()) return std::nullopt;
    Skip(at);
  }
  return std::nullopt;
}

}  // namespace tarvel::link
