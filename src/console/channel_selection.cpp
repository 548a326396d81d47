#include "console/channel_selection.h"

#include "util/text.h"

namespace tarvel::console {

void ChannelSelection::LoadChannelLists() {
  selectors_ = Selectors{};
  for (const auto& row : context_.store.Channels().value_or({})) {
    selectors_.channels.push_back(Text(row.softwareChannel));
    selectors_.addresses.push_back(Text(row.modbusAddress));
    selectors_.nickNames.push_back(row.nickName);
  }
  context_.view.SetSelectors(selectors_);
}

void ChannelSelection::SelectIndex(int index) {
  if (index >= static_cast<int>(selectors_.channels.size())) index = -1;
  selectors_.channelIndex = selectors_.addressIndex = selectors_.nickNameIndex = index;
  context_.view.SetSelectors(selectors_);
}

std::string ChannelSelection::CurrentChannelText() const {
  int i = selectors_.channelIndex;
  return i >= 0 && i < static_cast<int>(selectors_.channels.size()) ? selectors_.channels[i] : std::string();
}

int ChannelSelection::GetItemIndex(Selector selector, const std::string& item) const {
  const auto& [list, index] = selector == Selector::Channel ? std::pair{&selectors_.channels, selectors_.channelIndex}
                              : selector == Selector::Address
                                  ? std::pair{&selectors_.addresses, selectors_.addressIndex}
                                  : std::pair{&selectors_.nickNames, selectors_.nickNameIndex};
  if (index < 0 || index >= static_cast<int>(list->size()) || (*list)[index].empty()) return -1;
  for (std::size_t i = 0; i < list->size(); ++i)
    if ((*list)[i] == item) return static_cast<int>(i);
  return 0;
}

std::optional<std::uint8_t> ChannelSelection::GetModbusAddressOfChannel(const std::string& channelText) {
  if (auto channel = ToInt16(channelText)) {
    auto row = context_.store.ChannelByNumber(*channel);
    // Address 0 is broadcast and above 247 is no slave: such a row resolves to nothing.
    if (row.ok() && row->has_value() && (*row)->modbusAddress >= 1 && (*row)->modbusAddress <= 247)
      return static_cast<std::uint8_t>((*row)->modbusAddress);
  }
  context_.Display(kAddressLookupError);
  return std::nullopt;
}

std::optional<std::uint8_t> ChannelSelection::CurrentAddress() {
  return GetModbusAddressOfChannel(CurrentChannelText());
}

void ChannelSelection::ChooseChannel(int index) {
  SelectIndex(index);
  if (!startupComplete_) return;
  loadChannel_();
  const std::string channel = CurrentChannelText();
  Status saved = Status::Ok();
  if (auto number = ToInt16(channel)) saved = context_.store.SaveCurrentChannel(*number);
  context_.ClearDisplay();
  context_.Display("Software channel set = " + channel);
  if (!saved) context_.Display("ERROR: The current channel could not be stored: " + saved.message());
  if (afterChoice_) afterChoice_();
}

void ChannelSelection::ChooseAddress(int index) {
  if (index < 0 || index >= static_cast<int>(selectors_.addresses.size())) return;
  selectors_.addressIndex = index;
  auto address = ToInt16(selectors_.addresses[index]);
  auto row =
      address ? context_.store.ChannelByAddress(*address) : Result<std::optional<store::ChannelRow>>(std::nullopt);
  if (!row.ok() || !row->has_value()) return;
  context_.ShowField(Field::ControllerType, (*row)->controllerType);
  int i = GetItemIndex(Selector::Address, Text((*row)->modbusAddress));
  if (i != selectors_.channelIndex)
    ChooseChannel(i);
  else
    SelectIndex(i);
}

void ChannelSelection::ChooseNickName(int index) {
  if (index < 0 || index >= static_cast<int>(selectors_.nickNames.size())) return;
  selectors_.nickNameIndex = index;
  auto row = context_.store.ChannelByNickName(selectors_.nickNames[index]);
  if (!row.ok() || !row->has_value()) return;
  context_.ShowField(Field::ControllerType, (*row)->controllerType);
  int i = GetItemIndex(Selector::NickName, (*row)->nickName);
  if (i != selectors_.channelIndex)
    ChooseChannel(i);
  else
    SelectIndex(i);
}

}  // namespace tarvel::console
