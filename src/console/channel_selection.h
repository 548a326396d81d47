#pragma once
// console: the three linked channel selectors (channel, address, nickname) and the lookup of
// the current channel's Modbus address. Depends on the console context only.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "console/context.h"

namespace tarvel::console {

enum class Selector { Channel, Address, NickName };

class ChannelSelection {
 public:
  // loadChannel runs when the user picks another channel after start-up: it loads the grids
  // and the run state of the channel now shown; afterChoice runs once the choice is told.
  ChannelSelection(Context& context, std::function<void()> loadChannel, std::function<void()> afterChoice = {})
      : context_(context), loadChannel_(std::move(loadChannel)), afterChoice_(std::move(afterChoice)) {}

  void LoadChannelLists();
  void SelectIndex(int index);  // aligns the three selectors on one row, loads nothing
  // The user picked entry index of a selector.
  void ChooseChannel(int index);
  void ChooseAddress(int index);
  void ChooseNickName(int index);
  int GetItemIndex(Selector selector, const std::string& item) const;
  // The Modbus address of the channel shown by the channel selector; shows the lookup
  // error and gives nullopt when it does not resolve to an address 1..247.
  std::optional<std::uint8_t> CurrentAddress();
  std::optional<std::uint8_t> GetModbusAddressOfChannel(const std::string& channelText);
  std::string CurrentChannelText() const;
  const Selectors& Current() const { return selectors_; }

  void SetStartupComplete(bool complete) { startupComplete_ = complete; }
  bool StartupComplete() const { return startupComplete_; }

 private:
  Context& context_;
  std::function<void()> loadChannel_;
  std::function<void()> afterChoice_;
  Selectors selectors_;
  bool startupComplete_ = false;
};

}  // namespace tarvel::console
