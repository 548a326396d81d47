#include "controller/counting_line.h"

#include <algorithm>

namespace tarvel::controller {

void CountingLine::Begin(int expected, std::function<void(int, int)> onExchange) {
  expected_ = expected;
  done_ = 0;
  cancelled_ = false;
  onExchange_ = std::move(onExchange);
}

void CountingLine::End() { onExchange_ = nullptr; }

void CountingLine::Tick() {
  ++done_;
  // A workflow may make more exchanges than it announced (a retry, an extra read): never overrun.
  if (onExchange_) onExchange_(std::min(done_, expected_), expected_);
}

link::Reply<link::RegisterPair> CountingLine::ReadRegisterPair(std::uint8_t address, std::uint16_t reg) {
  if (cancelled_) return {link::Outcome::Cancelled, {}};
  auto reply = line_.ReadRegisterPair(address, reg);
  Tick();
  return reply;
}

link::Outcome CountingLine::WriteRegisters(std::uint8_t address, std::uint16_t reg, std::uint16_t value,
                                           std::uint16_t next) {
  if (cancelled_) return link::Outcome::Cancelled;
  auto outcome = line_.WriteRegisters(address, reg, value, next);
  Tick();
  return outcome;
}

link::Outcome CountingLine::WriteCoil(std::uint8_t address, std::uint16_t coil, bool on) {
  if (cancelled_) return link::Outcome::Cancelled;
  auto outcome = line_.WriteCoil(address, coil, on);
  Tick();
  return outcome;
}

link::Reply<std::vector<std::uint16_t>> CountingLine::ReadRegisterBlock(std::uint8_t address, std::uint16_t reg,
                                                                        int count) {
  if (cancelled_) return {link::Outcome::Cancelled, {}};
  auto reply = line_.ReadRegisterBlock(address, reg, count);
  Tick();
  return reply;
}

}  // namespace tarvel::controller
