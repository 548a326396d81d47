// Start-up, activation and channel selection.
#include <gmock/gmock.h>

#include "support/console_fixture.h"

namespace tarvel::console {
namespace {

using ::testing::HasSubstr;

class Startup : public ConsoleFixture {};

class StartupWithoutPort : public ConsoleFixture {
 protected:
  StartupWithoutPort() : ConsoleFixture({1, 2}, LineInfo{false, false}) {}
};

TEST_F(StartupWithoutPort, AnEmptyMapWarnsTwiceAndSelectsNothing) {
  Console& console = Started();

  ASSERT_EQ(view_.boxes.size(), 2u);
  EXPECT_EQ(view_.boxes[0].title, "WARNING: No comm port configured");
  EXPECT_EQ(
      view_.boxes[0].text,
      "You need to configure a serial comm port first\r\nUse Communications Port Setup before scanning for units");
  EXPECT_EQ(view_.boxes[1].title, "WARNING: No controller addresses configured");
  EXPECT_EQ(view_.boxes[1].text,
            "You need to configure controller addresses first\r\nUse Channel Map Setup to scan for units");

  EXPECT_TRUE(view_.selectors.channels.empty());
  EXPECT_EQ(view_.selectors.channelIndex, -1);
  EXPECT_EQ(console.Selection().GetItemIndex(Selector::Channel, "1"), -1);
  EXPECT_EQ(Sent(), 0u) << "nothing may be sent without a controller address";
  EXPECT_THAT(view_.messages, HasSubstr(kAddressLookupError));
  EXPECT_EQ(view_.progressionChoices, (std::vector<std::string>{"SV", "PV"}));
  EXPECT_TRUE(console.Selection().StartupComplete());
  EXPECT_EQ(store_.GetCurrentChannel(), -1) << "start-up stores no current channel";
}

TEST_F(Startup, RestoresTheStoredChannelAndLoadsItOnce) {
  Map(1, 1, "Kiln");
  Map(5, 2, "Oven");
  ASSERT_TRUE(store_.SaveCurrentChannel(5));
  Started();

  EXPECT_TRUE(view_.boxes.empty()) << "a given line and a filled map raise no warning";
  EXPECT_EQ(view_.selectors.channels, (std::vector<std::string>{"1", "5"}));
  EXPECT_EQ(std::tuple(view_.selectors.channelIndex, view_.selectors.addressIndex, view_.selectors.nickNameIndex),
            std::tuple(1, 1, 1));
  EXPECT_EQ(view_.fields[Field::ControllerType], "set64rs");
  EXPECT_EQ(view_.gridRows[Grid::ProgramMemory].size(), 64u);
  EXPECT_EQ(view_.gridRows[Grid::ProgramMemory][0][1], "2") << "the memory copy of address 2";
  for (const auto& frame : sim_.Requests()) EXPECT_EQ(frame[0], 2) << "only the selected controller is read";
  // One reading of the run state (9 exchanges) and one of the run mode: the channel is loaded once.
  EXPECT_EQ(Sent(), 10u);
  EXPECT_EQ(view_.LastLed(), Led::Idle);
}

TEST_F(Startup, AStoredChannelNoLongerMappedLeavesEntryZeroSelected) {
  Map(3, 1, "Kiln");
  Map(4, 2, "Oven");
  ASSERT_TRUE(store_.SaveCurrentChannel(9));
  Console& console = Started();
  EXPECT_EQ(view_.selectors.channelIndex, 0);
  EXPECT_EQ(console.Selection().CurrentChannelText(), "3");
  EXPECT_EQ(console.Selection().GetItemIndex(Selector::Channel, "9"), 0);
  EXPECT_EQ(store_.GetCurrentChannel(), 9) << "start-up itself stores nothing";
}

TEST_F(Startup, PickingANickNameSelectsItsRowLoadsItAndStoresItAndActivatingAgainAddsNoChoice) {
  Map(1, 1, "Kiln");
  Map(2, 2, "Oven");
  Console& console = Started();
  console.Activate();
  console.Activate();
  EXPECT_EQ(view_.progressionChoices, (std::vector<std::string>{"SV", "PV"})) << "activating again adds none";
  sim_.ClearRequests();

  console.Selection().ChooseNickName(1);
  EXPECT_EQ(std::tuple(view_.selectors.channelIndex, view_.selectors.addressIndex, view_.selectors.nickNameIndex),
            std::tuple(1, 1, 1));
  EXPECT_EQ(store_.GetCurrentChannel(), 2);
  EXPECT_EQ(view_.messages, "Software channel set = 2\r\n");
  ASSERT_FALSE(sim_.Requests().empty());
  for (const auto& frame : sim_.Requests()) EXPECT_EQ(frame[0], 2);

  console.Selection().ChooseAddress(0);
  EXPECT_EQ(view_.selectors.nickNameIndex, 0);
  EXPECT_EQ(store_.GetCurrentChannel(), 1);
}

TEST_F(Startup, AChannelWithoutAUsableAddressSendsNothing) {
  ASSERT_TRUE(store_.AddChannel({1, 0, "Broadcast", "set64rs"}));
  ASSERT_TRUE(store_.AddChannel({2, 250, "Beyond", "set64rs"}));
  Console& console = Started();
  console.RunMonitor().ReadRunState();
  console.ControllerSettings().ReadControllerSettings();
  console.ControllerSettings().WriteSingleSetPoint("100");
  console.Selection().ChooseChannel(1);
  console.ControllerSettings().AutoTune(true);
  EXPECT_EQ(Sent(), 0u);
  EXPECT_THAT(view_.messages, HasSubstr(kAddressLookupError));
}

// The rule of both message areas (the editor's PromptText appends by the same function).
TEST(MessageArea, EmptiesOnlyPastOneThousandCharacters) {
  RecordingView view;
  MessageArea area(view);
  area.ClearAndDisplay(std::string(998, 'x'));  // 998 + CR LF = 1000
  area.Display("next");
  EXPECT_EQ(area.Text().size(), 1000u + 6u) << "exactly 1000 is kept";
  area.Display("newest");
  EXPECT_EQ(area.Text(), "newest\r\n") << "past 1000 the area is emptied first";
  EXPECT_EQ(view.messages, "newest\r\n");
  area.ClearDisplay();
  EXPECT_EQ(view.messages, "");
}

}  // namespace
}  // namespace tarvel::console
