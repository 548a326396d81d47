#include "link/modbus_rtu_line.h"

#include <grp.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>

#include "link/capabilities.h"
#include "link/port_hold.h"
#include "link/reply_frames.h"

namespace tarvel::link {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

constexpr int kBaud = 9600;
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

// Serial devices belong to a group whose members may use them (dialout on Debian). Name the
// device's own group when membership would give read and write, else the usual one.
std::string AccessHint(const struct stat& info) {
  std::string group = "dialout";
  if (info.st_gid != 0 && (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
    if (const struct group* owner = getgrgid(info.st_gid)) group = owner->gr_name;
  return ". Add your user to the " + group + " group: sudo usermod -aG " + group + " $USER, then log out and in";
}

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

}  // namespace

struct ModbusRtuLine::Impl {
  struct Heard {
    Clock::time_point at;
    Frame bytes;
  };
  // One try of a request: what was heard in answer.
  struct Answer {
    Outcome outcome = Outcome::NoReply;
    Frame reply;
    bool doubtful = false;    // the reply may be a copy: ask again
    std::vector<Frame> ours;  // every frame of the reply's shape heard
  };
  enum class Echoing { Unknown, Yes, No };

  mutable std::mutex mutex;
  modbus_t* ctx = nullptr;
  int fd = -1;
  std::string device;
  struct stat node {};
  PortHold hold;
  LineTiming timing;
  bool heardLate = false;  // see HeardLateReply
  bool portLost = false;
  LineCounts counts;
  std::deque<Heard> heard;             // frames heard within the duplicate horizon, oldest first
  Clock::time_point lastByte{};        // when the line last carried a byte we heard
  Clock::time_point sentEnd{};         // when our last request left the wire, at the latest
  Clock::time_point quietUntil{};      // handed over by another process: heard out until then
  Clock::time_point repeatingUntil{};  // a copy was heard lately: see Repeating
  Echoing echoing = Echoing::Unknown;

  // A line that repeats frames may hold several copies of one frame at once: there a reply
  // like a frame heard shortly before is taken only once no twin of it has come for a horizon,
  // never because it came again. Elsewhere the same reply again is the unit saying it again.
  bool Repeating() const { return Clock::now() < repeatingUntil; }
  void CopyHeard() {
    ++counts.copies;
    repeatingUntil = Clock::now() + kRepeatingMemory;
  }

  void CloseLocked() {
    if (!ctx) return;
    // Only what this process took goes: another program's exclusive hold stays.
    ReleasePortHold(fd, hold);
    NoteOwner(node, false);
    modbus_close(ctx);
    modbus_free(ctx);
    ctx = nullptr;
    fd = -1;
  }

  void Record(Clock::time_point at, const Frame& frame) {
    while (!heard.empty() && heard.front().at < at - timing.duplicateHorizon) heard.pop_front();
    heard.push_back({at, frame});
  }
  bool HeardBefore(const Frame& frame) const {
    const auto since = Clock::now() - timing.duplicateHorizon;
    return std::any_of(heard.begin(), heard.end(), [&](const Heard& h) { return h.at >= since && h.bytes == frame; });
  }

  // Reads what came; false (and the port lost) when the port failed.
  bool Take(FrameCutter& cutter) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWaiting(fd, bytes)) {
      portLost = true;
      return false;
    }
    if (!bytes.empty()) lastByte = Clock::now();
    cutter.Add(bytes);
    return true;
  }
  // Keeps the sound frames the cutter holds, all but the request's echo. Heard again with no
  // request to answer, a frame is a copy.
  void KeepFrames(FrameCutter& cutter, const Frame& request, bool lastCall) {
    while (auto frame = cutter.Next(lastCall)) {
      if (Judge(request, *frame, echoing == Echoing::Yes).role == FrameRole::Echo) continue;
      if (HeardBefore(*frame)) CopyHeard();
      Record(lastByte, *frame);
    }
  }

  // Hears the line out until it has been quiet for longer than a reply window and, when
  // given, the horizon has passed, so that no late byte is read as the next reply. The frames
  // heard are kept: a copy of one is known for what it is. True when something came.
  bool DrainUntilQuiet(const Frame& request, Clock::time_point horizon = {}) {
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

  // Before a request: what came since the last exchange is heard and kept, and the line
  // keeps 3.5 characters of silence after the last byte. Something unfinished on the line
  // would run into the reply: it is heard out first. False when the port failed.
  bool ClearTheLine(const Frame& request) {
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

  bool Send(const Frame& request) {
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

  // Listens for the reply to request, sent at `sent`. before: the frames of the reply's shape
  // heard in the tries before this one; one of them heard again is the unit saying it again.
  Answer Listen(const Frame& request, Clock::time_point sent, const std::vector<Frame>& before) {
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
    if (cutter.Skipped() > 0)
      answer.outcome = Outcome::BadCrc;  // noise, and no sound reply in it
    else if (cutter.Pending())
      answer.outcome = Outcome::Incomplete;
    else if (stray)
      answer.outcome = *stray;
    return answer;
  }

  // On a line that repeats frames, after a doubtful reply: hears the line out until no frame of
  // the reply's shape heard before has come for a horizon, so that the reply to the request sent
  // again is one not heard before. A reply not heard before that comes meanwhile answers the
  // request already.
  Answer WaitOutTwins(const Frame& request) {
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

  // One request (address first, no CRC) and its reply, checked against the request.
  Outcome Exchange(const std::uint8_t* bytes, int length, Frame& reply) {
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
};

ModbusRtuLine::ModbusRtuLine(LineTiming timing) : impl_(std::make_unique<Impl>()) { impl_->timing = timing; }

ModbusRtuLine::~ModbusRtuLine() { Close(); }

OpenResult ModbusRtuLine::Open(const std::string& devicePath) {
  std::lock_guard lock(impl_->mutex);
  impl_->CloseLocked();
  impl_->device = devicePath;

  struct stat info {};
  if (stat(devicePath.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR)
      return {OpenOutcome::NotInstalled, "Serial port " + devicePath + " not installed"};
    return {OpenOutcome::CannotOpen, "Serial port " + devicePath + " cannot be opened: " + std::strerror(errno)};
  }
  if (!S_ISCHR(info.st_mode))
    return {OpenOutcome::CannotOpen, "Serial port " + devicePath + " cannot be opened: not a serial device"};

  modbus_t* ctx = modbus_new_rtu(devicePath.c_str(), kBaud, 'N', 8, 1);
  if (!ctx)
    return {OpenOutcome::CannotOpen, "Serial port " + devicePath + " cannot be opened: " + modbus_strerror(errno)};
  // libmodbus puts the port in raw mode (no CR/LF translation, no echo) as it connects.
  if (modbus_connect(ctx) == -1) {
    const int failure = errno;
    modbus_free(ctx);
    // The exclusive mode refuses a user without the right to break it.
    if (failure == EBUSY)
      return {OpenOutcome::CannotOpen, "Serial port " + devicePath + " is in use by " + PortHolder(info)};
    std::string reason = failure == ENOTTY ? "not a serial device" : modbus_strerror(failure);
    if (failure == EACCES) reason += AccessHint(info);
    return {OpenOutcome::CannotOpen, "Serial port " + devicePath + " cannot be opened: " + reason};
  }
  const int fd = modbus_get_socket(ctx);
  struct stat node {};
  fstat(fd, &node);
  PortHold hold;
  if (auto holder = TakePortHold(fd, node, hold)) {
    modbus_close(ctx);
    modbus_free(ctx);
    return {OpenOutcome::CannotOpen, "Serial port " + devicePath + " is in use by " + *holder};
  }
  Impl& line = *impl_;
  line.ctx = ctx;
  line.fd = fd;
  line.node = node;
  line.hold = hold;
  line.portLost = false;
  line.heard.clear();
  line.lastByte = {};
  line.echoing = Impl::Echoing::Unknown;
  // Copies of frames the last owner caused may still come: hear them out before trusting a reply.
  line.quietUntil = HandedOverUntil(node, line.timing.duplicateHorizon).value_or(Clock::time_point{});
  NoteOwner(node, true);
  return {OpenOutcome::Ok, {}};
}

void ModbusRtuLine::Close() {
  std::lock_guard lock(impl_->mutex);
  impl_->CloseLocked();
}

bool ModbusRtuLine::IsOpen() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->ctx != nullptr;
}

std::string ModbusRtuLine::DevicePath() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->device;
}

void ModbusRtuLine::SetTiming(LineTiming timing) {
  std::lock_guard lock(impl_->mutex);
  impl_->timing = timing;
}

LineTiming ModbusRtuLine::Timing() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->timing;
}

bool ModbusRtuLine::HeardLateReply() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->heardLate;
}

bool ModbusRtuLine::PortLost() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->portLost;
}

LineCounts ModbusRtuLine::Counts() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->counts;
}

Reply<RegisterPair> ModbusRtuLine::ReadRegisterPair(std::uint8_t address, std::uint16_t reg) {
  auto block = ReadRegisterBlock(address, reg, 2);
  if (!block.ok()) return {block.outcome, {}};
  return {Outcome::Ok, {block.value[0], block.value[1]}};
}

Reply<std::vector<std::uint16_t>> ModbusRtuLine::ReadRegisterBlock(std::uint8_t address, std::uint16_t reg, int count) {
  if (count < 1 || count > kMaxReadRegisters) return {Outcome::NotSent, {}};
  const std::array<std::uint8_t, 6> request{address,
                                            0x03,
                                            static_cast<std::uint8_t>(reg >> 8),
                                            static_cast<std::uint8_t>(reg & 0xFF),
                                            0x00,
                                            static_cast<std::uint8_t>(count)};
  Frame reply;
  Outcome outcome = impl_->Exchange(request.data(), static_cast<int>(request.size()), reply);
  if (outcome != Outcome::Ok) return {outcome, {}};
  std::vector<std::uint16_t> values(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = static_cast<std::uint16_t>(reply[3 + 2 * i] << 8 | reply[4 + 2 * i]);
  return {Outcome::Ok, std::move(values)};
}

Outcome ModbusRtuLine::WriteRegisters(std::uint8_t address, std::uint16_t reg, std::uint16_t value,
                                      std::uint16_t next) {
  const std::array<std::uint8_t, 11> request{address,
                                             0x10,
                                             static_cast<std::uint8_t>(reg >> 8),
                                             static_cast<std::uint8_t>(reg & 0xFF),
                                             0x00,
                                             0x02,
                                             0x04,
                                             static_cast<std::uint8_t>(value >> 8),
                                             static_cast<std::uint8_t>(value & 0xFF),
                                             static_cast<std::uint8_t>(next >> 8),
                                             static_cast<std::uint8_t>(next & 0xFF)};
  Frame reply;
  return impl_->Exchange(request.data(), static_cast<int>(request.size()), reply);
}

Outcome ModbusRtuLine::WriteCoil(std::uint8_t address, std::uint16_t coil, bool on) {
  const std::array<std::uint8_t, 6> request{address,
                                            0x05,
                                            static_cast<std::uint8_t>(coil >> 8),
                                            static_cast<std::uint8_t>(coil & 0xFF),
                                            static_cast<std::uint8_t>(on ? 0xFF : 0x00),
                                            0x00};
  Frame reply;
  return impl_->Exchange(request.data(), static_cast<int>(request.size()), reply);
}

}  // namespace tarvel::link
