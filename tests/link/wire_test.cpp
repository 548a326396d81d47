// What each command puts on the wire, as the simulator received it, and what it makes of
// the replies: libmodbus on one side, the simulator's own codec on the other.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "link/sim_fixture.h"

namespace tarvel {
namespace {

using link::Outcome;
using ::testing::ElementsAre;
using testing::Bytes;

class Wire : public testing::SimLineTest {
 protected:
  void SetUp() override { StartLine(testing::QuickLine({1, 7, 65})); }
};

struct Expected {
  std::string command;
  std::function<Outcome(link::CommandSet&)> call;
  std::vector<Bytes> frames;
};

TEST_F(Wire, EachCommandSendsExactlyItsFrames) {
  Sim().EditUnit(1, [](sim::UnitState& u) { u.setValue = 70; });
  auto read = [](auto member) {
    return [member](link::CommandSet& c) { return (c.*member)(1).outcome; };
  };
  const std::vector<Expected> table = {
      {"ReadSetValue", read(&link::CommandSet::ReadSetValue), {{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B}}},
      {"ReadSingleSetPoint", read(&link::CommandSet::ReadSingleSetPoint),
       {{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B}}},
      {"ReadProcessValue", read(&link::CommandSet::ReadProcessValue),
       {{0x01, 0x03, 0x01, 0x64, 0x00, 0x02, 0x84, 0x28}}},
      {"ReadProfileSetPoint", read(&link::CommandSet::ReadProfileSetPoint),
       {{0x01, 0x03, 0x01, 0x68, 0x00, 0x02, 0x44, 0x2B}}},
      {"ReadCurrentStep", read(&link::CommandSet::ReadCurrentStep), {{0x01, 0x03, 0x01, 0x8F, 0x00, 0x02, 0xF4, 0x1C}}},
      {"ReadStepTime", read(&link::CommandSet::ReadStepTime), {{0x01, 0x03, 0x01, 0x91, 0x00, 0x02, 0x94, 0x1A}}},
      {"ReadRelayStates", read(&link::CommandSet::ReadRelayStates), {{0x01, 0x03, 0x01, 0xD8, 0x00, 0x02, 0x45, 0xCC}}},
      {"ReadAlarm1Type", read(&link::CommandSet::ReadAlarm1Type), {{0x01, 0x03, 0x10, 0x00, 0x00, 0x02, 0xC0, 0xCB}}},
      {"ReadAlarm2Type", read(&link::CommandSet::ReadAlarm2Type), {{0x01, 0x03, 0x10, 0x02, 0x00, 0x02, 0x61, 0x0B}}},
      {"ReadInputType", read(&link::CommandSet::ReadInputType), {{0x01, 0x03, 0x20, 0x00, 0x00, 0x02, 0xCF, 0xCB}}},
      {"ReadRunMode", read(&link::CommandSet::ReadRunMode), {{0x01, 0x03, 0x20, 0x0D, 0x00, 0x02, 0x5E, 0x08}}},
      {"ReadProgramLowStep", read(&link::CommandSet::ReadProgramLowStep),
       {{0x01, 0x03, 0x20, 0x0E, 0x00, 0x02, 0xAE, 0x08}}},
      {"ReadProgramHighStep", read(&link::CommandSet::ReadProgramHighStep),
       {{0x01, 0x03, 0x20, 0x0F, 0x00, 0x02, 0xFF, 0xC8}}},
      {"ReadTemperatureScale", read(&link::CommandSet::ReadTemperatureScale),
       {{0x01, 0x03, 0x20, 0x10, 0x00, 0x02, 0xCE, 0x0E}}},
      {"ReadProgramStepWord step 1 word 1",
       [](link::CommandSet& c) { return c.ReadProgramStepWord(1, 1, 1).outcome; },
       {{0x01, 0x03, 0x40, 0x00, 0x00, 0x02, 0xD1, 0xCB}}},
      {"ReadProgramStepWord step 64 word 3 at address 7",
       [](link::CommandSet& c) { return c.ReadProgramStepWord(7, 64, 3).outcome; },
       {{0x07, 0x03, 0x40, 0xBF, 0x00, 0x02, 0xE0, 0x49}}},
      {"WriteSetValue -1 reads first, then writes FF FF",
       [](link::CommandSet& c) { return c.WriteSetValue(1, -1); },
       {{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B},
        {0x01, 0x10, 0x00, 0x00, 0x00, 0x02, 0x04, 0xFF, 0xFF, 0x00, 0x00, 0xF3, 0x8B}}},
      {"WriteSetValue of the value held reads only",
       [](link::CommandSet& c) { return c.WriteSetValue(1, -1); },
       {{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B}}},
      {"WriteAlarmType 1", [](link::CommandSet& c) { return c.WriteAlarmType(1, 1, 5); },
       {{0x01, 0x10, 0x10, 0x00, 0x00, 0x02, 0x04, 0x00, 0x05, 0x00, 0x00, 0x2E, 0x6E}}},
      {"WriteAlarmType 2", [](link::CommandSet& c) { return c.WriteAlarmType(1, 2, 7); },
       {{0x01, 0x10, 0x10, 0x02, 0x00, 0x02, 0x04, 0x00, 0x07, 0x00, 0x00, 0x0E, 0x77}}},
      {"WriteRunMode", [](link::CommandSet& c) { return c.WriteRunMode(1, 2); },
       {{0x01, 0x10, 0x20, 0x0D, 0x00, 0x02, 0x04, 0x00, 0x02, 0x00, 0x00, 0x0A, 0x37}}},
      {"WriteProgramLimits low before high", [](link::CommandSet& c) { return c.WriteProgramLimits(1, 3, 9); },
       {{0x01, 0x10, 0x20, 0x0E, 0x00, 0x02, 0x04, 0x00, 0x03, 0x00, 0x00, 0x1B, 0xE2},
        {0x01, 0x10, 0x20, 0x0F, 0x00, 0x02, 0x04, 0x00, 0x09, 0x00, 0x00, 0xFA, 0x2C}}},
      {"WriteTemperatureScale", [](link::CommandSet& c) { return c.WriteTemperatureScale(1, 0); },
       {{0x01, 0x10, 0x20, 0x10, 0x00, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00, 0x6B, 0x62}}},
      {"WriteProgramStepWord step 1 word 1", [](link::CommandSet& c) { return c.WriteProgramStepWord(1, 1, 1, 300); },
       {{0x01, 0x10, 0x40, 0x00, 0x00, 0x02, 0x04, 0x01, 0x2C, 0x00, 0x00, 0x02, 0x59}}},
      {"WriteProgramStepWord step 64 word 3, -64",
       [](link::CommandSet& c) { return c.WriteProgramStepWord(1, 64, 3, -64); },
       {{0x01, 0x10, 0x40, 0xBF, 0x00, 0x02, 0x04, 0xFF, 0xC0, 0x00, 0x00, 0xB9, 0x70}}},
      {"WriteProgramStepWord -32768", [](link::CommandSet& c) { return c.WriteProgramStepWord(1, 2, 2, -32768); },
       {{0x01, 0x10, 0x40, 0x04, 0x00, 0x02, 0x04, 0x80, 0x00, 0x00, 0x00, 0xEA, 0x5F}}},
      {"AutoTuneOn", [](link::CommandSet& c) { return c.AutoTuneOn(1); },
       {{0x01, 0x05, 0x00, 0x01, 0xFF, 0x00, 0xDD, 0xFA}}},
      {"AutoTuneOff", [](link::CommandSet& c) { return c.AutoTuneOff(1); },
       {{0x01, 0x05, 0x00, 0x01, 0x00, 0x00, 0x9C, 0x0A}}},
      {"WriteUnitAddress", [](link::CommandSet& c) { return c.WriteUnitAddress(1, 9); },
       {{0x01, 0x10, 0x20, 0x11, 0x00, 0x02, 0x04, 0x00, 0x09, 0x00, 0x00, 0x7A, 0xAC}}},
  };
  for (const auto& expected : table) {
    TakeRequests();
    EXPECT_EQ(expected.call(commands_), Outcome::Ok) << expected.command;
    EXPECT_EQ(TakeRequests(), expected.frames) << expected.command;
  }
  // The address change took effect after its reply: the unit answers at 9 now, not at 1.
  EXPECT_TRUE(commands_.ReadRunMode(9).ok());
  EXPECT_FALSE(Sim().HasUnit(1));
}

TEST_F(Wire, SignedValuesSurviveTheRoundTripAtTheEdges) {
  for (std::int32_t value : {-32768, -32767, -64, -1, 0, 1, 255, 256, 32767}) {
    std::int32_t caller = value;
    ASSERT_EQ(commands_.WriteProgramStepWord(1, 64, 3, caller), Outcome::Ok) << value;
    EXPECT_EQ(caller, value);
    EXPECT_EQ(Sim().Unit(1).steps[63].temperature, value);
    auto back = commands_.ReadProgramStepWord(1, 64, 3);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value, value);
  }
  // Set by the controller, read by us: 80 00 is -32768, 7F FF is 32767, FF C0 is -64.
  for (std::int16_t held : {std::int16_t{-32768}, std::int16_t{32767}, std::int16_t{-64}}) {
    Sim().EditUnit(1, [held](sim::UnitState& u) { u.steps[0].pidSet = held; });
    EXPECT_EQ(commands_.ReadProgramStepWord(1, 1, 1).value, held);
  }
}

TEST_F(Wire, LineEndBytesPassUnchangedBothWays) {
  // A terminal left in cooked mode turns 0A into 0D 0A or 0D into 0A; the port must be raw.
  for (std::int16_t value : {std::int16_t{0x0A0D}, std::int16_t{0x0D0A}, std::int16_t{0x0A0A}, std::int16_t{0x1311}}) {
    TakeRequests();
    ASSERT_EQ(commands_.WriteProgramStepWord(1, 4, 2, value), Outcome::Ok);
    auto sent = TakeRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), 13u);
    EXPECT_EQ(sent[0][7], static_cast<std::uint8_t>(value >> 8));
    EXPECT_EQ(sent[0][8], static_cast<std::uint8_t>(value & 0xFF));
    EXPECT_EQ(Sim().Unit(1).steps[3].duration, value);
    EXPECT_EQ(commands_.ReadProgramStepWord(1, 4, 2).value, value);
  }
}

TEST_F(Wire, ByteRegistersUseTheLowByte) {
  for (auto [scale, letter] : {std::pair{0, 'C'}, std::pair{1, 'F'}, std::pair{2, 'C'}, std::pair{255, 'C'}}) {
    Sim().EditUnit(1, [scale](sim::UnitState& u) { u.temperatureScale = static_cast<std::uint8_t>(scale); });
    auto read = commands_.ReadTemperatureScale(1);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value, letter) << scale;
  }
  TakeRequests();
  ASSERT_EQ(commands_.WriteTemperatureScale(1, 1), Outcome::Ok);
  auto sent = TakeRequests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][7], 0x00);  // high byte of a byte write
  EXPECT_EQ(sent[0][8], 0x01);
  EXPECT_EQ(commands_.ReadTemperatureScale(1).value, 'F');
}

TEST_F(Wire, StepTimeAboveTheSignedRangeReadsZero) {
  Sim().EditUnit(1, [](sim::UnitState& u) { u.stepElapsed = 32767; });
  EXPECT_EQ(commands_.ReadStepTime(1).value, 32767);
  Sim().EditUnit(1, [](sim::UnitState& u) { u.stepElapsed = 40000; });
  auto large = commands_.ReadStepTime(1);
  EXPECT_TRUE(large.ok());
  EXPECT_EQ(large.value, 0);
}

TEST_F(Wire, ProcessValueTableHoldsAddressesOneToSixtyFourOnly) {
  Sim().EditUnit(1, [](sim::UnitState& u) { u.processTemperature = 123; });
  Sim().EditUnit(65, [](sim::UnitState& u) { u.processTemperature = 456; });
  EXPECT_EQ(commands_.ProcessValue(1), std::nullopt);
  EXPECT_EQ(commands_.ReadProcessValue(1).value, 123);
  EXPECT_EQ(commands_.ProcessValue(1), 123);

  TakeRequests();
  auto far = commands_.ReadProcessValue(65);
  EXPECT_TRUE(far.ok());
  EXPECT_EQ(far.value, 456);
  EXPECT_EQ(TakeRequests().size(), 1u);  // the exchange happens, the table does not grow
  EXPECT_EQ(commands_.ProcessValue(65), std::nullopt);

  // A failed reading leaves the last good value in place.
  Sim().InjectFault(sim::Fault::BadCrc);
  EXPECT_EQ(commands_.ReadProcessValue(1).outcome, Outcome::BadCrc);
  EXPECT_EQ(commands_.ProcessValue(1), 123);
}

TEST_F(Wire, RefusedRequestsSendNothing) {
  TakeRequests();
  EXPECT_EQ(commands_.ReadProcessValue(0).outcome, Outcome::NotSent);
  EXPECT_EQ(commands_.WriteSetValue(0, 5), Outcome::NotSent);
  EXPECT_EQ(commands_.AutoTuneOn(0), Outcome::NotSent);
  EXPECT_EQ(line_.WriteRegisters(0, 0x0000, 5), Outcome::NotSent);  // the line guards on its own too
  EXPECT_EQ(line_.ReadRegisters(248, 0x0000).outcome, Outcome::NotSent);
  EXPECT_EQ(commands_.WriteAlarmType(1, 3, 5), Outcome::NotSent);
  EXPECT_EQ(commands_.WriteAlarmType(1, 0, 5), Outcome::NotSent);
  EXPECT_EQ(commands_.WriteProgramStepWord(1, 0, 1, 5), Outcome::NotSent);
  EXPECT_EQ(commands_.WriteProgramStepWord(1, 65, 1, 5), Outcome::NotSent);
  EXPECT_EQ(commands_.WriteProgramStepWord(1, 1, 4, 5), Outcome::NotSent);
  EXPECT_EQ(commands_.WriteProgramStepWord(1, 1, 1, 32768), Outcome::NotSent);
  EXPECT_EQ(commands_.WriteProgramStepWord(1, 1, 1, -32769), Outcome::NotSent);
  EXPECT_EQ(commands_.ReadProgramStepWord(1, 1, 0).outcome, Outcome::NotSent);
  EXPECT_EQ(commands_.WriteUnitAddress(1, 0), Outcome::NotSent);
  // A request that is sent afterwards is the only frame the simulator saw.
  ASSERT_TRUE(commands_.ReadRunMode(1).ok());
  EXPECT_THAT(TakeRequests(), ElementsAre(Bytes{0x01, 0x03, 0x20, 0x0D, 0x00, 0x02, 0x5E, 0x08}));
}

}  // namespace
}  // namespace tarvel
