// Controller settings, single set point and auto-tune, as they reach the controller.
#include <gmock/gmock.h>

#include "support/console_fixture.h"

namespace tarvel::console {
namespace {

using ::testing::HasSubstr;

class Settings : public ConsoleFixture {
 protected:
  Settings() { Map(1, 1, "Kiln"); }
  Console& Started() {
    Console& console = ConsoleFixture::Started();
    sim_.ClearRequests();
    view_.leds.clear();
    return console;
  }
};

TEST_F(Settings, ReadShowsSensorCaptionAlarmsAndScale) {
  sim_.EditUnit(1, [](sim::UnitState& u) {
    u.inputType = 1;  // J in the standard sensor menu
    u.alarm1Type = 3;
    u.alarm2Type = 11;
    u.temperatureScale = 0;
  });
  Console& console = Started();
  console.ControllerSettings().ReadControllerSettings();
  EXPECT_EQ(view_.fields[Field::SensorType], "J");
  EXPECT_EQ(view_.fields[Field::Alarm1Type], "3");
  EXPECT_EQ(view_.fields[Field::Alarm2Type], "11");
  EXPECT_EQ(view_.fields[Field::TemperatureScale], "C");
  EXPECT_EQ(view_.leds, (std::vector<Led>{Led::Busy, Led::Idle}));

  sim_.EditUnit(1, [](sim::UnitState& u) { u.inputType = 42; });
  console.ControllerSettings().ReadControllerSettings();
  EXPECT_EQ(view_.fields[Field::SensorType], "42") << "an input type without a menu row shows as its number";
  EXPECT_EQ(console.ControllerSettings().GetSensorIndex("Pt100"), 8);
  EXPECT_EQ(console.ControllerSettings().GetSensorIndex("K    "), 0);
  EXPECT_EQ(console.ControllerSettings().GetSensorIndex("Q"), -1);
}

TEST_F(Settings, WriteSettingsRefusesAnAlarmTypeThatIsNoByteAndWritesAScaleOnlyForExactlyCOrF) {
  Console& console = Started();
  for (auto [alarm1, alarm2, which] : {std::tuple{"abc", "1", "1"}, std::tuple{"1", "256", "2"},
                                       std::tuple{"-1", "1", "1"}, std::tuple{"", "1", "1"}}) {
    console.ControllerSettings().WriteSettings({"C", alarm1, alarm2});
    EXPECT_EQ(view_.messages, std::string("ERROR: Alarm ") + which + " type must be a whole number from 0 to 255\r\n");
  }
  EXPECT_EQ(Sent(), 0u) << "not even the scale";

  console.ControllerSettings().WriteSettings({"f", "6", "8"});
  EXPECT_EQ(sim_.Unit(1).temperatureScale, 1) << "lower case writes no scale";
  EXPECT_EQ(sim_.Unit(1).alarm1Type, 6);
  EXPECT_EQ(sim_.Unit(1).alarm2Type, 8);
  console.ControllerSettings().WriteSettings({"C", "6", "8"});
  EXPECT_EQ(sim_.Unit(1).temperatureScale, 0);
  EXPECT_EQ(view_.LastLed(), Led::Idle);
}

TEST_F(Settings, SingleSetPointWritesOnlyWhatDiffers) {
  Console& console = Started();
  console.ControllerSettings().WriteSingleSetPoint("abc");
  EXPECT_EQ(view_.messages, "ERROR:Set point entered is not a number\r\n");
  console.ControllerSettings().WriteSingleSetPoint("99999");
  EXPECT_THAT(view_.messages, HasSubstr("out of range"));
  EXPECT_EQ(Sent(), 0u);

  console.ControllerSettings().WriteSingleSetPoint("250");
  EXPECT_EQ(sim_.Unit(1).setValue, 250);
  EXPECT_THAT(view_.messages, HasSubstr("Thermostat mode set. Single set point temperature entered\r\n"));
  sim_.ClearRequests();
  console.ControllerSettings().WriteSingleSetPoint(" 250 ");
  ASSERT_EQ(Sent(), 2u) << "the value is already there: no write, and it is read back";
  EXPECT_EQ(sim_.Requests()[0][1] + sim_.Requests()[1][1], 2 * 0x03);
  EXPECT_THAT(view_.messages, HasSubstr("Thermostat mode set."));
}

TEST_F(Settings, AutoTuneOnAsksNamingTheRunSwitchesTheCoilSaysSoAndFailuresUseEachCommandsOwnWording) {
  RunProgramOnUnit1();
  ASSERT_TRUE(store_.SaveRunSelection(1, "Three step.txt", 1, 3));
  Console& console = Started();
  view_.confirmAnswers = {false};
  console.ControllerSettings().AutoTune(true);
  ASSERT_FALSE(view_.boxes.empty());
  EXPECT_EQ(view_.boxes.back().title, "AutoTune On");
  EXPECT_THAT(view_.boxes.back().text,
              HasSubstr("\r\nUnit #1 is running its program Three step.txt (run mode 2).\r\n"));
  EXPECT_FALSE(sim_.Unit(1).autoTune) << "cancelled: nothing sent";
  console.ControllerSettings().AutoTune(true);
  EXPECT_TRUE(sim_.Unit(1).autoTune);
  EXPECT_EQ(view_.messages,
            "Turning Auto Tune on\r\nAuto Tune is on: the controller is tuning; AutoTune Off ends it\r\n");
  const std::size_t asked = view_.boxes.size();
  console.ControllerSettings().AutoTune(false);
  EXPECT_EQ(view_.boxes.size(), asked) << "switching it off asks nothing";
  EXPECT_FALSE(sim_.Unit(1).autoTune);
  EXPECT_EQ(view_.messages, "Turning Auto Tune off\r\nAuto Tune is off\r\n");
  EXPECT_EQ(view_.LastLed(), Led::Idle);

  line_.SetTiming({std::chrono::milliseconds(20), std::chrono::milliseconds(20)});
  sim_.InjectFault(sim::Fault::BadCrc, 2);  // the read, then the write made without it
  console.ControllerSettings().WriteSingleSetPoint("120");
  EXPECT_THAT(view_.messages, HasSubstr(kCommError));
  EXPECT_EQ(view_.LastLed(), Led::Error);
  sim_.InjectFault(sim::Fault::Exception, 1);
  console.ControllerSettings().ReadControllerSettings();
  EXPECT_THAT(view_.messages, HasSubstr(kCommsError));
}

}  // namespace
}  // namespace tarvel::console
