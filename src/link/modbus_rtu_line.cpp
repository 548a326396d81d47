#include "link/modbus_rtu_line.h"

#include <grp.h>
#include <modbus/modbus.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "link/capabilities.h"
#include "link/modbus_rtu_line_impl.h"

namespace tarvel::link {

namespace {

using Clock = std::chrono::steady_clock;

// Serial devices belong to a group whose members may use them (dialout on Debian). Name the
// device's own group when membership would give read and write, else the usual one.
std::string AccessHint(const struct stat& info) {
  std::string group = "dialout";
  if (info.st_gid != 0 && (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
    if (const struct group* owner = getgrgid(info.st_gid)) group = owner->gr_name;
  return ". Add your user to the " + group + " group: sudo usermod -aG " + group + " $USER, then log out and in";
}

}  // namespace

void ModbusRtuLine::Impl::CloseLocked() {
  if (!ctx) return;
  // Only what this process took goes: another program's exclusive hold stays.
  ReleasePortHold(fd, hold);
  NoteOwner(node, false);
  modbus_close(ctx);
  modbus_free(ctx);
  ctx = nullptr;
  fd = -1;
}

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
