#include "sim/pty_line.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace tarvel::sim {
namespace {

Status SystemFailure(const std::string& what) { return Status::Failed(what + ": " + std::strerror(errno)); }

bool MakeRaw(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

Result<PseudoTerminal> PseudoTerminal::Open() {
  PseudoTerminal pty;
  pty.master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty.master_ < 0) return SystemFailure("cannot open a pseudo-terminal");
  if (grantpt(pty.master_) != 0 || unlockpt(pty.master_) != 0)
    return SystemFailure("cannot unlock the pseudo-terminal");
  char path[128] = {};
  if (ptsname_r(pty.master_, path, sizeof path) != 0) return SystemFailure("cannot name the pseudo-terminal");
  pty.slavePath_ = path;
  // Read only: a keeper that cannot write is no program using the line (see link/port_hold.h).
  pty.slaveKeeper_ = ::open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (pty.slaveKeeper_ < 0) return SystemFailure("cannot open " + pty.slavePath_);
  if (!MakeRaw(pty.slaveKeeper_) || !MakeRaw(pty.master_)) return SystemFailure("cannot set raw mode");
  const int flags = fcntl(pty.master_, F_GETFL);
  if (flags < 0 || fcntl(pty.master_, F_SETFL, flags | O_NONBLOCK) != 0)
    return SystemFailure("cannot set non-blocking");
  return pty;
}

PseudoTerminal::PseudoTerminal(PseudoTerminal&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      slaveKeeper_(std::exchange(other.slaveKeeper_, -1)),
      slavePath_(std::move(other.slavePath_)) {}

PseudoTerminal& PseudoTerminal::operator=(PseudoTerminal&& other) noexcept {
  if (this != &other) {
    Close();
    master_ = std::exchange(other.master_, -1);
    slaveKeeper_ = std::exchange(other.slaveKeeper_, -1);
    slavePath_ = std::move(other.slavePath_);
  }
  return *this;
}

PseudoTerminal::~PseudoTerminal() { Close(); }

void PseudoTerminal::Close() {
  if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
  if (master_ >= 0) ::close(master_);
  slaveKeeper_ = master_ = -1;
}

}  // namespace tarvel::sim
