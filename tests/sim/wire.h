#pragma once
// The master's end of a simulated line, driven byte by byte: raw reads and writes on the
// device path, as any serial program would do.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvel::sim::testing {

using Bytes = std::vector<std::uint8_t>;

class Wire {
 public:
  explicit Wire(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    termios settings{};
    if (fd_ >= 0 && tcgetattr(fd_, &settings) == 0) {
      cfmakeraw(&settings);
      tcsetattr(fd_, TCSANOW, &settings);
    }
  }
  ~Wire() {
    if (fd_ >= 0) ::close(fd_);
  }
  Wire(const Wire&) = delete;
  Wire& operator=(const Wire&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  void Send(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

  // Up to count bytes; fewer when the line stays quiet for `quiet`.
  Bytes Receive(std::size_t count, std::chrono::milliseconds quiet = std::chrono::milliseconds(2000)) {
    Bytes bytes;
    while (bytes.size() < count) {
      pollfd pfd{fd_, POLLIN, 0};
      if (poll(&pfd, 1, static_cast<int>(quiet.count())) <= 0) break;
      std::uint8_t buffer[256];
      const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
      if (n <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }

 private:
  int fd_ = -1;
};

}  // namespace tarvel::sim::testing
