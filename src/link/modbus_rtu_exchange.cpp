// link: one exchange on the line -- the request sent, the reply listened for and matched to it by
// what it holds, the line heard out after a failure -- apart from the opening and settings of
// the port (modbus_rtu_line.cpp), which libmodbus does.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>

#include "link/modbus_rtu_line_impl.h"

namespace tarvel::link {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

// One character of 10 bits (start, 8 data, stop) at 9600 baud: 1.042 ms.
constexpr std::chrono::nanoseconds kCharTime{10'000'000'000LL / kBaud};
// 3.5 characters, rounded up: 3.646 ms.
constexpr microseconds kInterFrameSilence{(35'000'000 + kBaud - 1) / kBaud};
// A line that keeps talking after a failure is given up on after this long; the exchange
// has failed already, the wait only keeps the next one clean.
constexpr std::chrono::seconds kLongestDrain{2};
// A reply that may be a copy has its request sent again this often at most.
constexpr int kMostResends = 3;
// A line that has shown a copy of a frame is taken for a line that repeats frames for this long.
constexpr std::chrono::seconds kRepeatingMemory{60};

bool Addressable(std::uint8_t address) { return address >= 1 && address <= 247; }

// Waits until fd has input or the deadline has passed; false on timeout. Errors and a hang-up
// count as input so that the caller's read reports them.
bool WaitReadable(int fd, Clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    if (left.count() < 0) left = {};
    timespec timeout{static_cast<time_t>(left.count() / 1'000'000'000),
                     static_cast<long>(left.count() % 1'000'000'000)};
    pollfd pfd{fd, POLLIN, 0};
    int ready = ppoll(&pfd, 1, &timeout, nullptr);
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return true;
  }
}

// Reads what is waiting; false when the port failed or hung up.
bool ReadWaiting(int fd, std::vector<std::uint8_t>& into) {
  std::array<std::uint8_t, 512> buffer{};
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got > 0) {
      into.assign(buffer.begin(), buffer.begin() + got);
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    into.clear();
    return got < 0 && errno == EAGAIN;  // 0 after poll said readable: hung up
  }
}

// No reply of the request's own came: what was heard instead.
Outcome WithoutReply(const FrameCutter& cutter, const std::optional<Outcome>& stray) {
  if (cutter.Skipped() > 0) return Outcome::BadCrc;  // noise, and no sound reply in it
  if (cutter.Pending()) return Outcome::Incomplete;
  return stray.value_or(Outcome::NoReply);
}

}  // namespace

bool ModbusRtuLine::Impl::Repeating() const { return Clock::now() < repeatingUntil; }

void ModbusRtuLine::Impl::CopyHeard() {
  ++counts.copies;
  repeatingUntil = Clock::now() + kRepeatingMemory;
}

void ModbusRtuLine::Impl::Record(Clock::time_point at, const Frame& frame) {
  while (!heard.empty() && heard.front().at < at - timing.duplicateHorizon) heard.pop_front();
  heard.push_back({at, frame});
}

bool ModbusRtuLine::Impl::HeardBefore(const Frame& frame) const {
  const auto since = Clock::now() - timing.duplicateHorizon;
  return std::any_of(heard.begin(), heard.end(), [&](const Heard& h) { return h.at >= since && h.bytes == frame; });
}

bool ModbusRtuLine::Impl::Take(FrameCutter& cutter) {
  std::vector<std::uint8_t> bytes;
  if (!ReadWaiting(fd, bytes)) {
    portLost = true;
    return false;
  }
  if (!bytes.empty()) lastByte = Clock::now();
  cutter.Add(bytes);
  return true;
}

void ModbusRtuLine::Impl::KeepFrames(FrameCutter& cutter, const Frame& request, bool lastCall) {
  while (auto frame = cutter.Next(lastCall)) {
    if (Judge(request, *frame, echoing == Echoing::Yes).role == FrameRole::Echo) continue;
    if (HeardBefore(*frame)) CopyHeard();
    Record(lastByte, *frame);
  }
}

bool ModbusRtuLine::Impl::DrainUntilQuiet(const Frame& request, Clock::time_point horizon) {
  const auto quiet = std::chrono::duration_cast<microseconds>(timing.firstByte) + kInterFrameSilence;
  const auto giveUp = std::max(Clock::now(), horizon) + kLongestDrain;
  FrameCutter cutter(request);
  bool came = false;
  for (;;) {
    const auto now = Clock::now();
    if (now >= giveUp || !WaitReadable(fd, std::max(now + quiet, horizon))) break;
    if (!Take(cutter)) break;
    came = true;
    KeepFrames(cutter, request, false);
  }
  KeepFrames(cutter, request, true);
  return came;
}

bool ModbusRtuLine::Impl::ClearTheLine(const Frame& request) {
  if (Clock::now() < quietUntil) DrainUntilQuiet(request, quietUntil);
  quietUntil = {};
  FrameCutter cutter(request);
  const auto giveUp = Clock::now() + kLongestDrain;
  while (Clock::now() < giveUp && WaitReadable(fd, lastByte + kInterFrameSilence)) {
    if (!Take(cutter)) return false;
    KeepFrames(cutter, request, false);
  }
  if (cutter.Pending() || cutter.Skipped() > 0) DrainUntilQuiet(request);
  return !portLost;
}

bool ModbusRtuLine::Impl::Send(const Frame& request) {
  // 3.5 characters of silence after every frame on the line, ours too: a port that takes a
  // request at once (a pseudo-terminal, a buffering adapter) still puts it on a wire at
  // 9600 baud, and the unit hears two requests run together as one garbled frame.
  const auto silentFrom = std::max(lastByte, sentEnd) + kInterFrameSilence;
  if (Clock::now() < silentFrom) {
    FrameCutter cutter(request);
    while (WaitReadable(fd, silentFrom)) {
      if (!Take(cutter)) return false;
      KeepFrames(cutter, request, false);
    }
    KeepFrames(cutter, request, true);
  }
  const auto start = Clock::now();
  for (std::size_t done = 0; done < request.size();) {
    const ssize_t written = ::write(fd, request.data() + done, request.size() - done);
    if (written > 0) {
      done += static_cast<std::size_t>(written);
    } else if (written < 0 && errno == EAGAIN) {
      pollfd pfd{fd, POLLOUT, 0};
      poll(&pfd, 1, 100);
    } else if (!(written < 0 && errno == EINTR)) {
      portLost = true;
      return false;
    }
  }
  // The first-byte window starts once the request has left, not when it was queued.
  tcdrain(fd);
  // A character more: the far end reckons the wire time from when the bytes reached it.
  sentEnd = std::max(Clock::now(), start + kCharTime * static_cast<int>(request.size() + 1));
  return true;
}

ModbusRtuLine::Impl::Answer ModbusRtuLine::Impl::Listen(const Frame& request, Clock::time_point sent,
                                                        const std::vector<Frame>& before) {
  FrameCutter cutter(request);
  Answer answer;
  std::optional<Outcome> stray;
  bool replied = false, echoSeen = false;
  Clock::time_point pendingSince{}, replyEnd{}, strayEnd{};
  // A reply longer than a pair read's nine bytes gets the time its extra bytes take.
  const int replyBytes = request[1] == 0x03 ? 5 + 2 * (request[4] << 8 | request[5]) : 8;
  const auto rest = timing.rest + kCharTime * std::max(0, replyBytes - 9);
  const auto window = sent + timing.firstByte;

  auto take = [&](const Frame& frame) {
    // One echo a request: a coil write's reply, which repeats the request, follows it.
    const Judged judged = Judge(request, frame, echoing == Echoing::Yes && !echoSeen);
    if (judged.role == FrameRole::Echo) {
      echoSeen = true;
      ++counts.echoes;
      return;
    }
    const bool known = HeardBefore(frame);
    Record(lastByte, frame);
    if (judged.role == FrameRole::Stray) {
      stray = judged.outcome;
      strayEnd = lastByte;
      ++counts.strays;
      if (known) CopyHeard();  // heard twice, and no request of ours asked for it
      return;
    }
    answer.ours.push_back(frame);
    const bool trusted = !known || (!Repeating() && std::find(before.begin(), before.end(), frame) != before.end());
    replyEnd = lastByte;
    if (replied && answer.doubtful && trusted && frame != answer.reply) {
      CopyHeard();  // the doubtful one, and now one not heard before: the copy came first
      answer = {judged.outcome, frame, false, answer.ours};
    } else if (!replied) {
      replied = true;
      answer.reply = frame;
      answer.outcome = judged.outcome;
      answer.doubtful = !trusted;
    } else if (frame == answer.reply) {
      CopyHeard();  // the reply again, right after itself
    } else {
      answer.doubtful = true;  // two answers: which one is the unit's cannot be told
    }
  };

  for (;;) {
    Clock::time_point deadline;
    if (cutter.Pending())
      deadline = pendingSince + rest;
    else if (replied && answer.doubtful && Repeating())
      deadline = std::max(window, replyEnd + kInterFrameSilence);  // the unit's own reply may still come
    else if (replied)  // the silence the line keeps after the reply, and after our own request
      deadline = std::max(replyEnd, sentEnd) + kInterFrameSilence;
    else  // another unit's frame in the window holds the line: the reply may follow it
      deadline = std::min(std::max(window, strayEnd + kInterFrameSilence), window + rest);
    if (!WaitReadable(fd, deadline)) break;
    const bool wasPending = cutter.Pending();
    if (!Take(cutter)) {
      answer.outcome = Outcome::PortError;
      return answer;
    }
    if (!wasPending) pendingSince = lastByte;
    while (auto frame = cutter.Next()) take(*frame);
  }
  while (auto frame = cutter.Next(true)) take(*frame);

  if (replied) {
    if (request[1] != 0x05 && !answer.doubtful) echoing = echoSeen ? Echoing::Yes : Echoing::No;
    return answer;
  }
  answer.outcome = WithoutReply(cutter, stray);
  return answer;
}

ModbusRtuLine::Impl::Answer ModbusRtuLine::Impl::WaitOutTwins(const Frame& request) {
  const auto giveUp = Clock::now() + 3 * timing.duplicateHorizon;
  auto until = Clock::now() + timing.duplicateHorizon;
  FrameCutter cutter(request);
  Answer answer;
  answer.doubtful = true;
  for (;;) {
    if (!WaitReadable(fd, std::min(until, giveUp))) break;
    if (!Take(cutter)) {
      answer.outcome = Outcome::PortError;
      return answer;
    }
    while (auto frame = cutter.Next()) {
      const Judged judged = Judge(request, *frame, echoing == Echoing::Yes);
      if (judged.role == FrameRole::Echo) continue;
      const bool known = HeardBefore(*frame);
      Record(lastByte, *frame);
      if (judged.role == FrameRole::Stray) continue;
      if (!known) return {judged.outcome, *frame, false, {}};
      CopyHeard();
      until = lastByte + timing.duplicateHorizon;
    }
  }
  if (Clock::now() >= giveUp) answer.outcome = Outcome::Ambiguous;
  return answer;
}

Outcome ModbusRtuLine::Impl::Exchange(const std::uint8_t* bytes, int length, Frame& reply) {
  std::lock_guard lock(mutex);
  if (!Addressable(bytes[0])) return Outcome::NotSent;
  if (!ctx) return Outcome::PortClosed;
  const Frame request = WithCrc({bytes, static_cast<std::size_t>(length)});
  heardLate = false;
  if (!ClearTheLine(request)) return Outcome::PortError;

  std::vector<Frame> before;
  Clock::time_point firstSent{};
  Answer answer;
  for (int attempt = 0;; ++attempt) {
    if (!Send(request)) return Outcome::PortError;
    const Clock::time_point sent = Clock::now();
    if (attempt == 0) firstSent = sent;
    answer = Listen(request, sent, before);
    if (answer.outcome == Outcome::PortError || !answer.doubtful) break;
    if (Repeating()) {
      answer = WaitOutTwins(request);
      if (answer.outcome == Outcome::PortError || answer.outcome == Outcome::Ambiguous || !answer.doubtful) break;
    }
    if (attempt == kMostResends) {
      answer.outcome = Outcome::Ambiguous;
      break;
    }
    ++counts.resends;
    before.insert(before.end(), answer.ours.begin(), answer.ours.end());
  }
  if (answer.outcome == Outcome::PortError) return answer.outcome;
  if (answer.outcome == Outcome::Ok) {
    reply = std::move(answer.reply);
    return Outcome::Ok;
  }
  heardLate = DrainUntilQuiet(request, firstSent + timing.lateReply) && answer.outcome == Outcome::NoReply;
  return portLost ? Outcome::PortError : answer.outcome;
}

}  // namespace tarvel::link
