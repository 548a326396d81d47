#include "link/commands.h"

#include <limits>

namespace tarvel::link {

namespace {

// Broadcast (0) would make every unit act without answering; above 247 is reserved.
bool Addressable(std::uint8_t address) { return address >= 1 && address <= 247; }

bool ValidStep(int step, int word) { return step >= 1 && step <= kStepCount && word >= 1 && word <= 3; }

bool FitsWord(std::int32_t value) {
  return value >= std::numeric_limits<std::int16_t>::min() && value <= std::numeric_limits<std::int16_t>::max();
}

template <class T, class F>
Reply<T> Convert(Reply<std::uint16_t> raw, F convert) {
  Reply<T> reply;
  reply.outcome = raw.outcome;
  if (raw.ok()) reply.value = convert(raw.value);
  return reply;
}

}  // namespace

std::uint16_t EncodeSigned(std::int16_t value) { return static_cast<std::uint16_t>(value); }

std::int16_t DecodeSigned(std::uint16_t raw) {
  // Written out rather than cast so the meaning of the high bit is plain.
  return raw >= 0x8000 ? static_cast<std::int16_t>(static_cast<int>(raw) - 65536) : static_cast<std::int16_t>(raw);
}

std::uint16_t ProgramStepRegister(int step, int word) {
  return static_cast<std::uint16_t>(reg::kProgramSteps + 3 * (step - 1) + (word - 1));
}

Reply<RegisterPair> CommandSet::ReadPair(std::uint8_t address, std::uint16_t reg) {
  if (!Addressable(address)) return {Outcome::NotSent, {}};
  return line_.ReadRegisterPair(address, reg);
}

Reply<std::vector<std::uint16_t>> CommandSet::ReadBlock(std::uint8_t address, std::uint16_t reg, int count) {
  if (!Addressable(address)) return {Outcome::NotSent, {}};
  if (count != 2) return line_.ReadRegisterBlock(address, reg, count);
  // A read of two goes as a pair read: every line knows it.
  auto pair = line_.ReadRegisterPair(address, reg);
  if (!pair.ok()) return {pair.outcome, {}};
  return {Outcome::Ok, {pair.value.first, pair.value.second}};
}

Outcome CommandSet::WriteKeepingNeighbour(std::uint8_t address, std::uint16_t reg, std::uint16_t value) {
  auto present = ReadPair(address, reg);
  if (!present.ok()) return present.outcome;
  return line_.WriteRegisters(address, reg, value, present.value.second);
}

Reply<std::int16_t> CommandSet::ReadSetValue(std::uint8_t address) {
  if (!Addressable(address)) return {Outcome::NotSent, 0};
  return Convert<std::int16_t>(line_.ReadRegisters(address, reg::kSetValue), DecodeSigned);
}

Reply<std::int16_t> CommandSet::ReadSingleSetPoint(std::uint8_t address) { return ReadSetValue(address); }

Outcome CommandSet::WriteSetValue(std::uint8_t address, std::int16_t value) {
  if (!Addressable(address)) return Outcome::NotSent;
  // The read saves a write that changes nothing and gives the word beside the set value;
  // without it the write would have to guess that word, so nothing is written.
  auto present = ReadPair(address, reg::kSetValue);
  if (!present.ok()) return present.outcome;
  if (DecodeSigned(present.value.first) == value) return Outcome::Ok;
  return line_.WriteRegisters(address, reg::kSetValue, EncodeSigned(value), present.value.second);
}

Outcome CommandSet::WriteSetValue(std::uint8_t address, std::int16_t value, std::uint16_t next) {
  if (!Addressable(address)) return Outcome::NotSent;
  return line_.WriteRegisters(address, reg::kSetValue, EncodeSigned(value), next);
}

Reply<std::int16_t> CommandSet::ReadProcessValue(std::uint8_t address) {
  if (!Addressable(address)) return {Outcome::NotSent, 0};
  auto reply = Convert<std::int16_t>(line_.ReadRegisters(address, reg::kProcessValue), DecodeSigned);
  if (reply.ok()) KeepProcessValue(address, reply.value);
  return reply;
}

Reply<std::int16_t> CommandSet::ReadProfileSetPoint(std::uint8_t address) {
  if (!Addressable(address)) return {Outcome::NotSent, 0};
  return Convert<std::int16_t>(line_.ReadRegisters(address, reg::kProfileSetPoint), DecodeSigned);
}

Reply<std::uint8_t> CommandSet::ReadCurrentStep(std::uint8_t address) {
  if (!Addressable(address)) return {Outcome::NotSent, 0};
  return Convert<std::uint8_t>(line_.ReadRegisters(address, reg::kCurrentStep), ByteOf);
}

Reply<std::uint16_t> CommandSet::ReadStepTime(std::uint8_t address) {
  if (!Addressable(address)) return {Outcome::NotSent, 0};
  return Convert<std::uint16_t>(line_.ReadRegisters(address, reg::kStepTime), StepTimeOf);
}

Reply<RelayStates> CommandSet::ReadRelayStates(std::uint8_t address) {
  if (!Addressable(address)) return {Outcome::NotSent, {}};
  return Convert<RelayStates>(line_.ReadRegisters(address, reg::kRelayStates), RelaysOf);
}

Reply<std::uint8_t> CommandSet::ReadAlarm1Type(std::uint8_t address) {
  if (!Addressable(address)) return {Outcome::NotSent, 0};
  return Convert<std::uint8_t>(line_.ReadRegisters(address, reg::kAlarm1Type), ByteOf);
}

Reply<std::uint8_t> CommandSet::ReadAlarm2Type(std::uint8_t address) {
  if (!Addressable(address)) return {Outcome::NotSent, 0};
  return Convert<std::uint8_t>(line_.ReadRegisters(address, reg::kAlarm2Type), ByteOf);
}

Outcome CommandSet::WriteAlarmType(std::uint8_t address, int alarm, std::uint8_t type) {
  if (!Addressable(address) || (alarm != 1 && alarm != 2)) return Outcome::NotSent;
  return WriteKeepingNeighbour(address, alarm == 1 ? reg::kAlarm1Type : reg::kAlarm2Type, type);
}

Reply<std::uint8_t> CommandSet::ReadInputType(std::uint8_t address) {
  if (!Addressable(address)) return {Outcome::NotSent, 0};
  return Convert<std::uint8_t>(line_.ReadRegisters(address, reg::kInputType), ByteOf);
}

Reply<std::uint8_t> CommandSet::ReadRunMode(std::uint8_t address) {
  if (!Addressable(address)) return {Outcome::NotSent, 0};
  return Convert<std::uint8_t>(line_.ReadRegisters(address, reg::kRunMode), ByteOf);
}

Outcome CommandSet::WriteRunMode(std::uint8_t address, std::uint8_t mode, std::uint8_t lowStep) {
  if (!Addressable(address)) return Outcome::NotSent;
  return line_.WriteRegisters(address, reg::kRunMode, mode, lowStep);
}

Outcome CommandSet::WriteRunMode(std::uint8_t address, std::uint8_t mode) {
  if (!Addressable(address)) return Outcome::NotSent;
  return WriteKeepingNeighbour(address, reg::kRunMode, mode);
}

Reply<std::uint8_t> CommandSet::ReadProgramLowStep(std::uint8_t address) {
  if (!Addressable(address)) return {Outcome::NotSent, 0};
  return Convert<std::uint8_t>(line_.ReadRegisters(address, reg::kProgramLowStep), ByteOf);
}

Reply<std::uint8_t> CommandSet::ReadProgramHighStep(std::uint8_t address) {
  if (!Addressable(address)) return {Outcome::NotSent, 0};
  return Convert<std::uint8_t>(line_.ReadRegisters(address, reg::kProgramHighStep), ByteOf);
}

std::pair<Reply<std::uint8_t>, Reply<std::uint8_t>> CommandSet::ReadProgramLimits(std::uint8_t address) {
  if (!Addressable(address)) return {{Outcome::NotSent, 0}, {Outcome::NotSent, 0}};
  auto pair = ReadPair(address, reg::kProgramLowStep);
  if (!pair.ok()) return {{pair.outcome, 0}, {pair.outcome, 0}};
  return {{Outcome::Ok, ByteOf(pair.value.first)}, {Outcome::Ok, ByteOf(pair.value.second)}};
}

Outcome CommandSet::WriteProgramLimits(std::uint8_t address, std::uint8_t lowStep, std::uint8_t highStep,
                                       std::uint16_t scaleWord) {
  if (!Addressable(address)) return Outcome::NotSent;
  // A controller that keeps only the first register of a write needs both writes, so the
  // high step goes out even when the low write failed.
  Outcome low = line_.WriteRegisters(address, reg::kProgramLowStep, lowStep, highStep);
  Outcome high = line_.WriteRegisters(address, reg::kProgramHighStep, highStep, scaleWord);
  return Worst(low, high);
}

Outcome CommandSet::WriteProgramLimits(std::uint8_t address, std::uint8_t lowStep, std::uint8_t highStep) {
  if (!Addressable(address)) return Outcome::NotSent;
  auto scale = ReadPair(address, reg::kProgramHighStep);
  if (!scale.ok()) return scale.outcome;
  return WriteProgramLimits(address, lowStep, highStep, scale.value.second);
}

Reply<char> CommandSet::ReadTemperatureScale(std::uint8_t address) {
  if (!Addressable(address)) return {Outcome::NotSent, 'C'};
  auto raw = line_.ReadRegisters(address, reg::kTemperatureScale);
  return {raw.outcome, raw.ok() && ByteOf(raw.value) == 1 ? 'F' : 'C'};
}

Outcome CommandSet::WriteTemperatureScale(std::uint8_t address, std::uint8_t code) {
  if (!Addressable(address)) return Outcome::NotSent;
  return line_.WriteRegisters(address, reg::kTemperatureScale, code, address);
}

Outcome CommandSet::WriteUnitAddress(std::uint8_t address, std::uint8_t newAddress) {
  // A unit moved to 0 or above 247 could never be reached again.
  if (!Addressable(address) || !Addressable(newAddress)) return Outcome::NotSent;
  return WriteKeepingNeighbour(address, reg::kUnitAddress, newAddress);
}

Reply<std::int16_t> CommandSet::ReadProgramStepWord(std::uint8_t address, int step, int word) {
  if (!Addressable(address) || !ValidStep(step, word)) return {Outcome::NotSent, 0};
  return Convert<std::int16_t>(line_.ReadRegisters(address, ProgramStepRegister(step, word)), DecodeSigned);
}

Outcome CommandSet::WriteProgramStepWord(std::uint8_t address, int step, int word, std::int32_t value,
                                         std::uint16_t next) {
  if (!Addressable(address) || !ValidStep(step, word) || !FitsWord(value)) return Outcome::NotSent;
  return line_.WriteRegisters(address, ProgramStepRegister(step, word), EncodeSigned(static_cast<std::int16_t>(value)),
                              next);
}

Outcome CommandSet::WriteProgramStepWord(std::uint8_t address, int step, int word, std::int32_t value) {
  if (!Addressable(address) || !ValidStep(step, word) || !FitsWord(value)) return Outcome::NotSent;
  return WriteKeepingNeighbour(address, ProgramStepRegister(step, word),
                               EncodeSigned(static_cast<std::int16_t>(value)));
}

Outcome CommandSet::AutoTuneOn(std::uint8_t address) {
  if (!Addressable(address)) return Outcome::NotSent;
  return line_.WriteCoil(address, reg::kAutoTuneCoil, true);
}

Outcome CommandSet::AutoTuneOff(std::uint8_t address) {
  if (!Addressable(address)) return Outcome::NotSent;
  return line_.WriteCoil(address, reg::kAutoTuneCoil, false);
}

std::optional<std::int16_t> CommandSet::ProcessValue(std::uint8_t address) const {
  if (address < 1 || address > kProcessValueTableSize) return std::nullopt;
  return processValueTable_[address];
}

void CommandSet::KeepProcessValue(std::uint8_t address, std::int16_t value) {
  if (address >= 1 && address <= kProcessValueTableSize) processValueTable_[address] = value;
}

}  // namespace tarvel::link
