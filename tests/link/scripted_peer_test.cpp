// Replies the simulator never gives (a wrong echo, another function, a short byte count, a
// reply that stalls halfway) from a scripted peer on a pseudo-terminal of our own.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "link/modbus_rtu_line.h"

namespace tarvel {
namespace {

using link::Outcome;
using Bytes = std::vector<std::uint8_t>;

Bytes WithCrc(Bytes frame) {
  std::uint16_t crc = 0xFFFF;
  for (auto byte : frame) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

// Answers each request it reads with the next scripted reply, as it stands.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::vector<Bytes> replies) : replies_(std::move(replies)) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master_);
    unlockpt(master_);
    termios raw{};
    tcgetattr(master_, &raw);
    cfmakeraw(&raw);
    tcsetattr(master_, TCSANOW, &raw);
    device_ = ptsname(master_);
    // Held open so the master never sees a hang-up between the line's opens.
    slave_ = open(device_.c_str(), O_RDWR | O_NOCTTY);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedPeer() {
    thread_.join();
    close(slave_);
    close(master_);
  }
  const std::string& Device() const { return device_; }

 private:
  void Serve() {
    for (const auto& reply : replies_) {
      Bytes request;
      std::size_t expected = 8;
      while (request.size() < expected) {
        pollfd pfd{master_, POLLIN, 0};
        if (poll(&pfd, 1, 5000) <= 0) return;
        std::uint8_t buffer[64];
        ssize_t got = read(master_, buffer, sizeof buffer);
        if (got <= 0) return;
        request.insert(request.end(), buffer, buffer + got);
        if (request.size() >= 2 && request[1] == 0x10) expected = 13;
      }
      if (write(master_, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) return;
    }
  }

  std::vector<Bytes> replies_;
  int master_ = -1;
  int slave_ = -1;
  std::string device_;
  std::thread thread_;
};

TEST(ScriptedPeer, RepliesThatDoNotAnswerTheRequestAreRefused) {
  ScriptedPeer peer({
      WithCrc({0x01, 0x10, 0x40, 0x01, 0x00, 0x02}),  // echo names another register
      WithCrc({0x01, 0x05, 0x00, 0x01, 0x00, 0x00}),  // echo of "off" to an "on"
      WithCrc({0x01, 0x04, 0x04, 0x00, 0x07, 0x00, 0x00}),  // another function
      WithCrc({0x01, 0x03, 0x02, 0x00, 0x07}),              // one register instead of two
      {0x01, 0x03, 0x04},                                   // stalls after three bytes
      WithCrc({0x01, 0x03, 0x04, 0x12, 0x34, 0x00, 0x00}),  // and a sound one at last
  });
  link::ModbusRtuLine line({std::chrono::milliseconds(150), std::chrono::milliseconds(150)});
  ASSERT_TRUE(line.Open(peer.Device()).ok());

  EXPECT_EQ(line.WriteRegisters(1, 0x4000, 5), Outcome::BadEcho);
  EXPECT_EQ(line.WriteCoil(1, 1, true), Outcome::BadEcho);
  EXPECT_EQ(line.ReadRegisters(1, 0x0000).outcome, Outcome::WrongFunction);
  EXPECT_EQ(line.ReadRegisters(1, 0x0000).outcome, Outcome::BadLength);
  EXPECT_EQ(line.ReadRegisters(1, 0x0000).outcome, Outcome::Incomplete);
  auto sound = line.ReadRegisters(1, 0x0000);
  EXPECT_EQ(sound.outcome, Outcome::Ok);
  EXPECT_EQ(sound.value, 0x1234);
}

}  // namespace
}  // namespace tarvel
