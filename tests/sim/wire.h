#pragma once
// The master's end of a simulated line, driven byte by byte: raw reads and writes on the
// device path, as any serial program would do.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/rtu_codec.h"

namespace tarvel::sim::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes WithCrc(Bytes frame) {
  AppendCrc(frame);
  return frame;
}
// Frames as they follow one another on the wire.
inline Bytes Joined(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

class Wire {
 public:
  explicit Wire(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    termios settings{};
    if (tcgetattr(fd_, &settings) == 0) {
      cfmakeraw(&settings);
      tcsetattr(fd_, TCSANOW, &settings);
    }
  }
  ~Wire() { ::close(fd_); }
  Wire(const Wire&) = delete;
  Wire& operator=(const Wire&) = delete;

  void Send(const Bytes& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

  // Up to count bytes; fewer when the line stays quiet for 2 s.
  Bytes Receive(std::size_t count) {
    Bytes bytes;
    std::uint8_t buffer[256];
    for (pollfd pfd{fd_, POLLIN, 0}; bytes.size() < count && poll(&pfd, 1, 2000) > 0;) {
      const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
      if (n <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }

 private:
  int fd_;
};

}  // namespace tarvel::sim::testing
