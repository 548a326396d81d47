#include "link/port_hold.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace tarvel::link {
namespace {

using SteadyClock = std::chrono::steady_clock;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whether a descriptor of another process can write: one that can only read (the simulator
// keeping its pseudo-terminal alive, a program listening in) uses no line.
bool OpenForWriting(const std::string& fdinfo) {
  std::istringstream info(ReadAll(fdinfo));
  for (std::string key; info >> key;) {
    unsigned long flags = 0;
    if (key == "flags:" && info >> std::oct >> flags) return (flags & O_ACCMODE) != O_RDONLY;
  }
  return true;  // cannot tell: counted
}

bool SameDevice(const struct stat& a, const struct stat& b) {
  return S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode) && a.st_rdev == b.st_rdev;
}

// A process other than this one that has the device open for writing.
std::optional<int> OtherOpener(const struct stat& device) {
  DIR* proc = opendir("/proc");
  if (!proc) return std::nullopt;
  std::optional<int> found;
  const int self = getpid();
  while (dirent* entry = readdir(proc)) {
    const int pid = std::atoi(entry->d_name);
    if (pid <= 0 || pid == self) continue;
    const std::string fds = std::string("/proc/") + entry->d_name + "/fd";
    DIR* dir = opendir(fds.c_str());
    if (!dir) continue;  // gone, or another user's
    while (dirent* fd = readdir(dir)) {
      struct stat target {};
      if (fd->d_name[0] == '.' || stat((fds + "/" + fd->d_name).c_str(), &target) != 0) continue;
      if (SameDevice(target, device) &&
          OpenForWriting(std::string("/proc/") + entry->d_name + "/fdinfo/" + fd->d_name)) {
        found = pid;
        break;
      }
    }
    closedir(dir);
    if (found) break;
  }
  closedir(proc);
  return found;
}

// The process holding a flock on the device node, from /proc/locks ("1: FLOCK ADVISORY WRITE
// 1234 00:19:5 0 EOF": pid, then the node's filesystem device in hex and its inode).
std::optional<int> FlockHolder(const struct stat& device) {
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string id, kind, mode, access, node;
    int pid = 0;
    fields >> id >> kind;
    if (kind == "->") continue;  // a process waiting for the lock
    if (kind != "FLOCK" || !(fields >> mode >> access >> pid >> node)) continue;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(node.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
    if (major == ::major(device.st_dev) && minor == ::minor(device.st_dev) && inode == device.st_ino) return pid;
  }
  return std::nullopt;
}

std::filesystem::path NotePath(const struct stat& device) {
  std::error_code ec;
  const std::filesystem::path folder =
      std::filesystem::is_directory("/run/lock", ec) && access("/run/lock", W_OK) == 0 ? "/run/lock" : "/tmp";
  return folder /
         ("tarvel-line-" + std::to_string(::major(device.st_rdev)) + "-" + std::to_string(::minor(device.st_rdev)));
}

// The note names the device node by when it was made: a port unplugged and plugged in again, or
// a new pseudo-terminal with a number used before, is another line.
std::string NodeStamp(const struct stat& device) {
  return std::to_string(device.st_ctim.tv_sec) + "." + std::to_string(device.st_ctim.tv_nsec);
}

}  // namespace

std::string ProcessName(int pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  const std::string cmdline = ReadAll(proc + "/cmdline");
  std::vector<std::string> args;
  for (std::size_t begin = 0; begin < cmdline.size();) {
    std::size_t end = cmdline.find('\0', begin);
    if (end == std::string::npos) end = cmdline.size();
    args.push_back(cmdline.substr(begin, end - begin));
    begin = end + 1;
  }
  std::string name;
  if (!args.empty()) name = std::filesystem::path(args[0]).filename().string();
  if (name.empty()) {
    name = ReadAll(proc + "/comm");
    if (!name.empty() && name.back() == '\n') name.pop_back();
  }
  if (name.empty()) return "pid " + std::to_string(pid);
  // Ours say what they are doing: the verb is the first word that is no option or option value.
  if (name.starts_with("tarvel"))
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--home" || args[i] == "--port") {
        ++i;
      } else if (!args[i].starts_with("-")) {
        name += " " + args[i];
        break;
      }
    }
  return name + " (pid " + std::to_string(pid) + ")";
}

std::string PortHolder(const struct stat& device) {
  if (auto pid = FlockHolder(device)) return ProcessName(*pid);
  if (auto pid = OtherOpener(device)) return ProcessName(*pid);
  return "another program";
}

std::optional<std::string> TakePortHold(int fd, const struct stat& device, PortHold& hold) {
  hold = {};
  // Where flock is not supported the exclusive mode still keeps others off.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return PortHolder(device);
  int exclusive = 0;
  if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    // Someone set it: a program that holds the port, or one of ours that was killed with it
    // while the device stayed open elsewhere (the simulator keeps its pseudo-terminal open,
    // read only): only the first is busy.
    if (auto pid = OtherOpener(device)) {
      flock(fd, LOCK_UN);
      return ProcessName(*pid);
    }
  }
  hold.tookExclusive = ioctl(fd, TIOCEXCL) == 0;
  return std::nullopt;
}

void ReleasePortHold(int fd, const PortHold& hold) {
  if (hold.tookExclusive) ioctl(fd, TIOCNXCL);
  flock(fd, LOCK_UN);
}

std::optional<SteadyClock::time_point> HandedOverUntil(const struct stat& device, std::chrono::milliseconds horizon) {
  std::istringstream note(ReadAll(NotePath(device)));
  std::string stamp, state;
  if (!(note >> stamp >> state) || stamp != NodeStamp(device)) return std::nullopt;
  const auto now = SteadyClock::now();
  // An owner that never let go was killed with the line: when, nobody knows.
  if (state == "open") return now + horizon;
  long long closedAt = 0;
  if (std::sscanf(state.c_str(), "%lld", &closedAt) != 1) return std::nullopt;
  const auto until = SteadyClock::time_point(SteadyClock::duration(closedAt)) + horizon;
  if (until <= now) return std::nullopt;
  return until;
}

void NoteOwner(const struct stat& device, bool open) {
  const std::string text =
      NodeStamp(device) + " " +
      (open ? std::string("open") : std::to_string(SteadyClock::now().time_since_epoch().count())) + "\n";
  const std::filesystem::path path = NotePath(device);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return;  // another user's note: the line goes without
  fchmod(fd, 0666);    // any user's Tarvel may own the line next
  [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
  ::close(fd);
}

}  // namespace tarvel::link
