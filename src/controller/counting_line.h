#pragma once
// controller: a Line that counts the exchanges of a multi-step command, so the window's
// progress bar moves with every exchange without each workflow counting by hand, and that
// stops a command the user cancelled between two exchanges.

#include <atomic>
#include <functional>

#include "link/line.h"

namespace tarvel::controller {

class CountingLine final : public link::Line {
 public:
  explicit CountingLine(link::Line& line) : line_(line) {}

  // Each exchange calls onExchange(done, expected) after it ended.
  void Begin(int expected, std::function<void(int, int)> onExchange);
  void End();
  // Set from any thread; every later exchange returns Outcome::Cancelled without sending,
  // until the next Begin of an outermost command.
  void Cancel() { cancelled_ = true; }
  bool Cancelled() const { return cancelled_; }

  link::Reply<link::RegisterPair> ReadRegisterPair(std::uint8_t address, std::uint16_t reg) override;
  link::Outcome WriteRegisters(std::uint8_t address, std::uint16_t reg, std::uint16_t value,
                               std::uint16_t next) override;
  link::Outcome WriteCoil(std::uint8_t address, std::uint16_t coil, bool on) override;
  link::Reply<std::vector<std::uint16_t>> ReadRegisterBlock(std::uint8_t address, std::uint16_t reg,
                                                            int count) override;

 private:
  void Tick();

  link::Line& line_;
  int expected_ = 0;
  int done_ = 0;
  std::function<void(int, int)> onExchange_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace tarvel::controller
