#pragma once
// A Line in front of the real one that lets a test act between exchanges: inject a fault
// into exchange k, cancel after it, or change what a register reads (in any read that covers it).

#include <functional>

#include "link/line.h"

namespace tarvel::console {

class HookedLine final : public link::Line {
 public:
  explicit HookedLine(link::Line& line) : line_(line) {}

  std::function<void(int exchange)> before;  // called with 1 for the first exchange
  std::function<void(std::uint16_t reg, std::uint16_t& value)> onRead;
  int exchanges = 0;
  int writes = 0;  // function 16 and 5 requests passed on

  link::Reply<link::RegisterPair> ReadRegisterPair(std::uint8_t address, std::uint16_t reg) override {
    Before();
    auto reply = line_.ReadRegisterPair(address, reg);
    if (reply.ok() && onRead) {
      onRead(reg, reply.value.first);
      onRead(static_cast<std::uint16_t>(reg + 1), reply.value.second);
    }
    return reply;
  }
  link::Outcome WriteRegisters(std::uint8_t address, std::uint16_t reg, std::uint16_t value,
                               std::uint16_t next) override {
    Before();
    ++writes;
    return line_.WriteRegisters(address, reg, value, next);
  }
  link::Outcome WriteCoil(std::uint8_t address, std::uint16_t coil, bool on) override {
    Before();
    ++writes;
    return line_.WriteCoil(address, coil, on);
  }
  link::Reply<std::vector<std::uint16_t>> ReadRegisterBlock(std::uint8_t address, std::uint16_t reg,
                                                            int count) override {
    Before();
    auto reply = line_.ReadRegisterBlock(address, reg, count);
    if (reply.ok() && onRead)
      for (std::size_t i = 0; i < reply.value.size(); ++i) onRead(static_cast<std::uint16_t>(reg + i), reply.value[i]);
    return reply;
  }

 private:
  void Before() {
    ++exchanges;
    if (before) before(exchanges);
  }
  link::Line& line_;
};

}  // namespace tarvel::console
