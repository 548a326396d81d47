// What each command puts on the wire, as the simulator received it, and what it makes of
// the replies: libmodbus on one side, the simulator's own codec on the other.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "link/sim_fixture.h"
#include "sim/controller.h"
#include "sim/rtu_codec.h"

namespace tarvel {
namespace {

using link::CommandSet;
using link::Outcome;
using testing::Bytes;

class Wire : public testing::SimLineTest {
 protected:
  void SetUp() override {
    StartLine(testing::QuickLine({1, 7, 65}));
    HearNoCopies();
  }
};

// "01 03 00 00": one frame, bytes in hex; "|" separates the frames of one command.
std::vector<Bytes> Frames(const std::string& hex) {
  std::vector<Bytes> frames(1);
  std::istringstream in(hex);
  for (std::string byte; in >> byte;) {
    if (byte == "|")
      frames.emplace_back();
    else
      frames.back().push_back(static_cast<std::uint8_t>(std::stoi(byte, nullptr, 16)));
  }
  return frames;
}

template <auto Member>
Outcome Read(CommandSet& c) {
  return (c.*Member)(1).outcome;
}

TEST_F(Wire, EachCommandSendsExactlyItsFrames) {
  const std::vector<std::pair<std::function<Outcome(CommandSet&)>, const char*>> table = {
      {Read<&CommandSet::ReadSetValue>, "01 03 00 00 00 02 C4 0B"},
      {Read<&CommandSet::ReadSingleSetPoint>, "01 03 00 00 00 02 C4 0B"},
      {Read<&CommandSet::ReadProcessValue>, "01 03 01 64 00 02 84 28"},
      {Read<&CommandSet::ReadProfileSetPoint>, "01 03 01 68 00 02 44 2B"},
      {Read<&CommandSet::ReadCurrentStep>, "01 03 01 8F 00 02 F4 1C"},
      {Read<&CommandSet::ReadStepTime>, "01 03 01 91 00 02 94 1A"},
      {Read<&CommandSet::ReadRelayStates>, "01 03 01 D8 00 02 45 CC"},
      {Read<&CommandSet::ReadAlarm1Type>, "01 03 10 00 00 02 C0 CB"},
      {Read<&CommandSet::ReadAlarm2Type>, "01 03 10 02 00 02 61 0B"},
      {Read<&CommandSet::ReadInputType>, "01 03 20 00 00 02 CF CB"},
      {Read<&CommandSet::ReadRunMode>, "01 03 20 0D 00 02 5E 08"},
      {Read<&CommandSet::ReadProgramLowStep>, "01 03 20 0E 00 02 AE 08"},
      {Read<&CommandSet::ReadProgramHighStep>, "01 03 20 0F 00 02 FF C8"},
      // Both limits, neighbours, in the low step's read.
      {[](CommandSet& c) { return c.ReadProgramLimits(1).second.outcome; }, "01 03 20 0E 00 02 AE 08"},
      {Read<&CommandSet::ReadTemperatureScale>, "01 03 20 10 00 02 CE 0E"},
      {[](CommandSet& c) { return c.ReadProgramStepWord(7, 64, 3).outcome; }, "07 03 40 BF 00 02 E0 49"},
      // The set value is read first (70), then written; written again, it is only read.
      {[](CommandSet& c) { return c.WriteSetValue(1, -1); },
       "01 03 00 00 00 02 C4 0B | 01 10 00 00 00 02 04 FF FF 00 00 F3 8B"},
      {[](CommandSet& c) { return c.WriteSetValue(1, -1); }, "01 03 00 00 00 02 C4 0B"},
      // Limits whose next values are given: the low step carries the high step, the high step the scale.
      {[](CommandSet& c) { return c.WriteProgramLimits(1, 3, 9, 1); },
       "01 10 20 0E 00 02 04 00 03 00 09 DB E4 | 01 10 20 0F 00 02 04 00 09 00 01 3B EC"},
      // The scale carries the unit's own address.
      {[](CommandSet& c) { return c.WriteTemperatureScale(1, 0); }, "01 10 20 10 00 02 04 00 00 00 01 AA A2"},
      {[](CommandSet& c) { return c.AutoTuneOn(1); }, "01 05 00 01 FF 00 DD FA"},
      {[](CommandSet& c) { return c.AutoTuneOff(1); }, "01 05 00 01 00 00 9C 0A"},
  };
  for (const auto& [call, frames] : table) {
    TakeRequests();
    EXPECT_EQ(call(commands_), Outcome::Ok) << frames;
    EXPECT_EQ(TakeRequests(), Frames(frames)) << frames;
  }
}

Bytes Read(std::uint8_t address, std::uint16_t reg) { return sim::EncodeReadRequest(address, reg, 2); }
Bytes Write(std::uint8_t address, std::uint16_t reg, std::uint16_t value, std::uint16_t next) {
  const std::uint16_t values[] = {value, next};
  return sim::EncodeWriteRequest(address, reg, values);
}

// The second register of every write is what the register after it must keep: given by the
// caller, the unit's own address, or read just before the write. A controller that stores
// both registers then changes only what the command meant to change.
TEST_F(Wire, EveryWriteCarriesTheValueItsNeighbourMustKeep) {
  Sim().EditUnit(1, [](sim::UnitState& u) {
    u.spareWords = {{0x0001, 0x1111}, {0x1001, 0x2222}, {0x1003, 0x3333}, {0x2012, 0x4444}, {0x40C0, 0x5555}};
    u.programLowStep = 3;
    u.programHighStep = 9;
    u.steps[1] = {4, 5, 6};
    u.steps[2] = {7, 8, 9};
  });
  using Call = std::function<Outcome(CommandSet&)>;
  const std::vector<std::tuple<Call, std::vector<Bytes>, std::vector<std::uint16_t>>> table = {
      {[](CommandSet& c) { return c.WriteSetValue(1, 150); },
       {Read(1, 0x0000), Write(1, 0x0000, 150, 0x1111)},
       {0x0000}},
      {[](CommandSet& c) { return c.WriteAlarmType(1, 1, 5); },
       {Read(1, 0x1000), Write(1, 0x1000, 5, 0x2222)},
       {0x1000}},
      {[](CommandSet& c) { return c.WriteAlarmType(1, 2, 7); },
       {Read(1, 0x1002), Write(1, 0x1002, 7, 0x3333)},
       {0x1002}},
      {[](CommandSet& c) { return c.WriteRunMode(1, 2); }, {Read(1, 0x200D), Write(1, 0x200D, 2, 3)}, {0x200D}},
      {[](CommandSet& c) { return c.WriteRunMode(1, 0, 3); }, {Write(1, 0x200D, 0, 3)}, {0x200D}},
      {[](CommandSet& c) { return c.WriteProgramLimits(1, 2, 8); },
       {Read(1, 0x200F), Write(1, 0x200E, 2, 8), Write(1, 0x200F, 8, 1)},
       {0x200E, 0x200F}},
      {[](CommandSet& c) { return c.WriteTemperatureScale(1, 0); }, {Write(1, 0x2010, 0, 1)}, {0x2010}},
      // Word 3 of step 2 carries word 1 of step 3 as read just before; word 3 of step 64 the
      // word after the program memory.
      {[](CommandSet& c) { return c.WriteProgramStepWord(1, 2, 3, -64); },
       {Read(1, 0x4005), Write(1, 0x4005, 0xFFC0, 7)},
       {0x4005}},
      {[](CommandSet& c) { return c.WriteProgramStepWord(1, 64, 3, 300); },
       {Read(1, 0x40BF), Write(1, 0x40BF, 300, 0x5555)},
       {0x40BF}},
      {[](CommandSet& c) { return c.WriteProgramStepWord(1, 2, 1, 11, 5); }, {Write(1, 0x4003, 11, 5)}, {0x4003}},
      {[](CommandSet& c) { return c.WriteUnitAddress(1, 9); }, {Read(1, 0x2011), Write(1, 0x2011, 9, 0x4444)}, {}},
  };
  for (const auto& [call, frames, changed] : table) {
    TakeRequests();
    const auto before = Sim().Registers(1);
    EXPECT_EQ(call(commands_), Outcome::Ok) << ::testing::PrintToString(frames);
    EXPECT_EQ(TakeRequests(), frames);
    if (Sim().HasUnit(1)) {
      EXPECT_EQ(sim::ChangedRegisters(before, Sim().Registers(1)), changed);
    }
  }
  // The address change took effect after its reply: the unit answers at 9 now, not at 1,
  // and keeps the word beside its address.
  EXPECT_TRUE(commands_.ReadRunMode(9).ok());
  EXPECT_FALSE(Sim().HasUnit(1));
  EXPECT_EQ(Sim().Unit(9).spareWords.at(0x2012), 0x4444);

  // A failed read writes nothing: the neighbour would be a guess.
  TakeRequests();
  Sim().InjectFault(sim::Fault::Exception);
  EXPECT_EQ(commands_.WriteSetValue(9, 5), Outcome::Exception);
  EXPECT_EQ(TakeRequests().size(), 1u);
  EXPECT_EQ(Sim().Unit(9).setValue, 150);
}

// Signed words at the edges, and line-end and flow-control bytes that a terminal left in
// cooked mode would change (0A into 0D 0A, 0D into 0A) or swallow (11, 13).
TEST_F(Wire, WordsReachTheControllerAndComeBackUnchanged) {
  for (std::int16_t value : {-32768, -32767, -64, -1, 0, 1, 255, 256, 32767, 0x0A0D, 0x0D0A, 0x0A0A, 0x1311}) {
    ASSERT_EQ(commands_.WriteProgramStepWord(1, 64, 3, value), Outcome::Ok) << value;
    EXPECT_EQ(Sim().Unit(1).steps[63].temperature, value);
    EXPECT_EQ(commands_.ReadProgramStepWord(1, 64, 3).value, value);
    Sim().EditUnit(1, [value](sim::UnitState& u) { u.steps[3].duration = value; });
    EXPECT_EQ(commands_.ReadProgramStepWord(1, 4, 2).value, value) << "set by the controller, read by us";
  }
}

TEST_F(Wire, ByteRegistersUseTheLowByteAndStepTimeAboveTheSignedRangeReadsZero) {
  for (auto [scale, letter] : {std::pair{0, 'C'}, {1, 'F'}, {2, 'C'}, {255, 'C'}}) {
    Sim().EditUnit(1, [scale](sim::UnitState& u) { u.temperatureScale = static_cast<std::uint8_t>(scale); });
    EXPECT_EQ(commands_.ReadTemperatureScale(1).value, letter) << scale;
  }
  ASSERT_EQ(commands_.WriteTemperatureScale(1, 1), Outcome::Ok);
  EXPECT_EQ(Sim().Unit(1).temperatureScale, 1);
  for (auto [held, read] : {std::pair{32767, 32767}, {40000, 0}}) {
    Sim().EditUnit(1, [held](sim::UnitState& u) { u.stepElapsed = held; });
    auto stepTime = commands_.ReadStepTime(1);
    EXPECT_TRUE(stepTime.ok());
    EXPECT_EQ(stepTime.value, read);
  }
}

TEST_F(Wire, ProcessValueTableHoldsAddressesOneToSixtyFourOnly) {
  Sim().EditUnit(1, [](sim::UnitState& u) { u.processTemperature = 123; });
  Sim().EditUnit(65, [](sim::UnitState& u) { u.processTemperature = 456; });
  EXPECT_EQ(commands_.ProcessValue(1), std::nullopt);
  EXPECT_EQ(commands_.ReadProcessValue(1).value, 123);
  EXPECT_EQ(commands_.ProcessValue(1), 123);
  EXPECT_EQ(commands_.ReadProcessValue(65).value, 456);
  EXPECT_EQ(commands_.ProcessValue(65), std::nullopt);
  // A failed reading leaves the last good value in place.
  Sim().InjectFault(sim::Fault::BadCrc);
  EXPECT_EQ(commands_.ReadProcessValue(1).outcome, Outcome::BadCrc);
  EXPECT_EQ(commands_.ProcessValue(1), 123);
}

TEST_F(Wire, RefusedRequestsSendNothing) {
  TakeRequests();
  const std::vector<std::function<Outcome()>> refused = {
      [&] { return commands_.ReadProcessValue(0).outcome; },
      [&] { return commands_.WriteSetValue(0, 5); },
      [&] { return commands_.AutoTuneOn(0); },
      [&] { return line_.WriteRegisters(0, 0x0000, 5, 0); },  // the line guards on its own too
      [&] { return line_.ReadRegisters(248, 0x0000).outcome; },
      [&] { return commands_.WriteAlarmType(1, 3, 5); },
      [&] { return commands_.WriteProgramStepWord(1, 65, 1, 5); },
      [&] { return commands_.WriteProgramStepWord(1, 1, 4, 5); },
      [&] { return commands_.WriteProgramStepWord(1, 1, 1, 32768); },
      [&] { return commands_.WriteProgramStepWord(1, 1, 1, -32769); },
      [&] { return commands_.ReadProgramStepWord(1, 0, 1).outcome; },
      [&] { return commands_.WriteUnitAddress(1, 0); },
  };
  for (std::size_t i = 0; i < refused.size(); ++i) EXPECT_EQ(refused[i](), Outcome::NotSent) << "case " << i;
  // A request sent afterwards is the only frame the simulator saw.
  ASSERT_TRUE(commands_.ReadRunMode(1).ok());
  EXPECT_EQ(TakeRequests(), Frames("01 03 20 0D 00 02 5E 08"));
}

}  // namespace
}  // namespace tarvel
