#include "link/modbus_rtu_line.h"

#include <grp.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "link/capabilities.h"

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

// Serial devices belong to a group whose members may use them (dialout on Debian). Name the
// device's own group when membership would give read and write, else the usual one.
std::string AccessHint(const struct stat& info) {
  std::string group = "dialout";
  if (info.st_gid != 0 && (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
    if (const struct group* owner = getgrgid(info.st_gid)) group = owner->gr_name;
  return ". Add your user to the " + group + " group: sudo usermod -aG " + group +
         " $USER, then log out and in";
}

bool Addressable(std::uint8_t address) { return address >= 1 && address <= 247; }

std::uint16_t Crc16(const std::uint8_t* bytes, std::size_t count) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < count; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

// Length of the frame libmodbus has taken for a reply, reckoned from its function code the
// way libmodbus reckons it (it returns no length for a frame from another address).
int FrameLength(const std::uint8_t* frame) {
  const std::uint8_t function = frame[1];
  int meta = 1;
  if (function == 0x05 || function == 0x06 || function == 0x0F || function == 0x10) meta = 4;
  if (function == 0x16) meta = 6;
  int data = (function <= 0x04 || function == 0x11 || function == 0x17) ? frame[2] : 0;
  return 2 + meta + data + 2;
}

Outcome OutcomeOfErrno(int error) {
  switch (error) {
    case ETIMEDOUT: return Outcome::Incomplete;  // the first byte was in, so the rest was late
    case EMBBADCRC: return Outcome::BadCrc;
    case EMBBADSLAVE: return Outcome::WrongAddress;
    case EMBBADDATA:
    case EMBMDATA: return Outcome::BadLength;
    case EMBBADEXC:
    case EMBUNKEXC: return Outcome::Exception;
    default:
      if (error >= EMBXILFUN && error <= EMBXGTAR) return Outcome::Exception;
      return Outcome::PortError;
  }
}

// Waits until fd has input or `wait` has passed; false on timeout. Errors count as input
// so that the caller's read reports them.
bool WaitReadable(int fd, microseconds wait) {
  const auto deadline = Clock::now() + wait;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    if (left.count() < 0) left = {};
    timespec timeout{static_cast<time_t>(left.count() / 1'000'000'000), static_cast<long>(left.count() % 1'000'000'000)};
    pollfd pfd{fd, POLLIN, 0};
    int ready = ppoll(&pfd, 1, &timeout, nullptr);
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return true;
  }
}

}  // namespace

struct ModbusRtuLine::Impl {
  mutable std::mutex mutex;
  modbus_t* ctx = nullptr;
  std::string device;
  LineTiming timing;
  bool heardLate = false;  // see HeardLateReply

  void CloseLocked() {
    if (!ctx) return;
    // The exclusive hold goes with us: a later program, or a later run of ours as a user
    // without the right to break it, can open the port again.
    ioctl(modbus_get_socket(ctx), TIOCNXCL);
    modbus_close(ctx);
    modbus_free(ctx);
    ctx = nullptr;
  }

  // Discards what comes until the line has been quiet for longer than a reply window and,
  // when given, the horizon has passed, so that no late byte is read as the next reply.
  // True when something was discarded.
  bool DrainUntilQuiet(Clock::time_point horizon = {}) {
    const int fd = modbus_get_socket(ctx);
    const auto quiet = std::chrono::duration_cast<microseconds>(timing.firstByte) + kInterFrameSilence;
    const auto giveUp = std::max(Clock::now(), horizon) + kLongestDrain;
    std::array<std::uint8_t, 256> junk{};
    bool heard = false;
    for (;;) {
      const auto now = Clock::now();
      if (now >= giveUp) break;
      const auto wait = std::max(quiet, std::chrono::duration_cast<microseconds>(horizon - now));
      if (!WaitReadable(fd, wait)) break;
      ssize_t got = read(fd, junk.data(), junk.size());
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) break;  // hung up
      heard = heard || got > 0;
    }
    modbus_flush(ctx);
    return heard;
  }

  // One request (address first, no CRC) and its reply, checked against the request.
  Outcome Exchange(const std::uint8_t* request, int length, std::array<std::uint8_t, MODBUS_RTU_MAX_ADU_LENGTH>& reply) {
    std::lock_guard lock(mutex);
    if (!Addressable(request[0])) return Outcome::NotSent;
    if (!ctx) return Outcome::PortClosed;

    // Something still talking on the line would be taken for the reply: hear it out first.
    if (WaitReadable(modbus_get_socket(ctx), microseconds{0})) DrainUntilQuiet();
    modbus_flush(ctx);
    modbus_set_slave(ctx, request[0]);
    const Clock::time_point sent = Clock::now();
    Outcome outcome = SendAndReceive(request, length, reply, sent);
    // The silence the line keeps after a reply is spent listening: a frame in it means the
    // reply may not have been ours.
    if (outcome == Outcome::Ok && WaitReadable(modbus_get_socket(ctx), kInterFrameSilence))
      outcome = Outcome::ExtraFrame;
    heardLate = false;
    if (outcome != Outcome::Ok && ctx) heardLate = DrainUntilQuiet(sent + timing.lateReply) && outcome == Outcome::NoReply;
    return outcome;
  }

  Outcome SendAndReceive(const std::uint8_t* request, int length,
                         std::array<std::uint8_t, MODBUS_RTU_MAX_ADU_LENGTH>& reply, Clock::time_point sent) {
    const int fd = modbus_get_socket(ctx);
    if (modbus_send_raw_request(ctx, request, length) != length + 2) return Outcome::PortError;
    // The first-byte window starts once the request has left, not when it was queued.
    tcdrain(fd);
    // No unit can answer a request still on the wire: what comes before it has left (at the
    // baud rate, whatever the port reports) belongs to something else.
    const Clock::time_point onWire = sent + kCharTime * (length + 2);
    if (WaitReadable(fd, microseconds{0}) && Clock::now() < onWire + kCharTime) return Outcome::EarlyFrame;

    // Waiting for the first byte here, not in libmodbus, tells "nothing came" from "a reply
    // started and stalled", which libmodbus reports alike.
    if (!WaitReadable(fd, std::chrono::duration_cast<microseconds>(timing.firstByte))) return Outcome::NoReply;
    if (Clock::now() < onWire) return Outcome::EarlyFrame;

    // With the byte timeout off, libmodbus's response timeout bounds the whole rest of the reply;
    // a reply longer than a pair read's nine bytes gets the time its extra bytes take.
    const int replyBytes = request[1] == 0x03 ? 5 + 2 * (request[4] << 8 | request[5]) : 8;
    const auto rest = std::max<microseconds>(
        std::chrono::duration_cast<microseconds>(timing.rest + kCharTime * std::max(0, replyBytes - 9)), microseconds{1});
    modbus_set_response_timeout(ctx, static_cast<std::uint32_t>(rest.count() / 1'000'000),
                                static_cast<std::uint32_t>(rest.count() % 1'000'000));
    modbus_set_byte_timeout(ctx, 0, 0);
    errno = 0;
    int received = modbus_receive_confirmation(ctx, reply.data());
    if (received < 0) return OutcomeOfErrno(errno);

    if (received > 0 && reply[0] != request[0]) return Outcome::WrongAddress;  // broadcast, CRC checked
    if (received == 0) {
      // libmodbus skips the CRC of a frame from another address; a garbled frame (a stray
      // byte before the reply, say) is a bad CRC, only a sound frame is another unit's.
      int frameLength = FrameLength(reply.data());
      if (frameLength > static_cast<int>(reply.size())) return Outcome::BadLength;  // a count no frame can hold
      std::uint16_t crc = Crc16(reply.data(), static_cast<std::size_t>(frameLength - 2));
      bool sound = reply[frameLength - 2] == (crc & 0xFF) && reply[frameLength - 1] == (crc >> 8);
      return sound ? Outcome::WrongAddress : Outcome::BadCrc;
    }

    const std::uint8_t function = request[1];
    if (reply[1] == (function | 0x80)) return Outcome::Exception;
    if (reply[1] != function) return Outcome::WrongFunction;
    if (function == 0x03) {
      const int bytes = 2 * (request[4] << 8 | request[5]);
      return (received == 5 + bytes && reply[2] == bytes) ? Outcome::Ok : Outcome::BadLength;
    }
    // Writes (5 and 16) echo the register or coil and the value or quantity.
    if (received != 8) return Outcome::BadLength;
    return std::equal(request + 2, request + 6, reply.begin() + 2) ? Outcome::Ok : Outcome::BadEcho;
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
    std::string reason = failure == ENOTTY ? "not a serial device" : modbus_strerror(failure);
    if (failure == EACCES) reason += AccessHint(info);
    modbus_free(ctx);
    return {OpenOutcome::CannotOpen, "Serial port " + devicePath + " cannot be opened: " + reason};
  }
  // Keep a second program off the line while we own it (ignored where unsupported).
  ioctl(modbus_get_socket(ctx), TIOCEXCL);
  modbus_flush(ctx);
  impl_->ctx = ctx;
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
  std::array<std::uint8_t, MODBUS_RTU_MAX_ADU_LENGTH> reply{};
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
  std::array<std::uint8_t, MODBUS_RTU_MAX_ADU_LENGTH> reply{};
  return impl_->Exchange(request.data(), static_cast<int>(request.size()), reply);
}

Outcome ModbusRtuLine::WriteCoil(std::uint8_t address, std::uint16_t coil, bool on) {
  const std::array<std::uint8_t, 6> request{address,
                                            0x05,
                                            static_cast<std::uint8_t>(coil >> 8),
                                            static_cast<std::uint8_t>(coil & 0xFF),
                                            static_cast<std::uint8_t>(on ? 0xFF : 0x00),
                                            0x00};
  std::array<std::uint8_t, MODBUS_RTU_MAX_ADU_LENGTH> reply{};
  return impl_->Exchange(request.data(), static_cast<int>(request.size()), reply);
}

}  // namespace tarvel::link
