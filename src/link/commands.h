#pragma once
// link: the controller command set over the Set64RS / XMT63 register map. Each operation
// returns its outcome; nothing retries or shows a message. Address 0 (broadcast) and
// addresses above 247 are refused with Outcome::NotSent before anything is sent.
//
// Every write keeps its neighbour: a function 16 write carries two registers and the
// controller stores both, so the second carries the value register R + 1 must keep -- one the
// caller gives (the next word of an image, the next value of the same sequence), the unit's
// own address (beside the scale), or one read from the controller just before the write (one
// more exchange). When that read fails, nothing is written and the read's outcome is returned.

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "link/line.h"
#include "link/outcome.h"

namespace tarvel::link {

// Register map. Reads always ask for two registers and use the first.
namespace reg {
inline constexpr std::uint16_t kSetValue = 0x0000;          // signed: single set point (SV)
inline constexpr std::uint16_t kProcessValue = 0x0164;      // signed: measured temperature
inline constexpr std::uint16_t kProfileSetPoint = 0x0168;   // signed: set point the program produces now
inline constexpr std::uint16_t kCurrentStep = 0x018F;       // byte: step now executing
inline constexpr std::uint16_t kStepTime = 0x0191;          // word: time elapsed in that step
inline constexpr std::uint16_t kRelayStates = 0x01D8;       // high byte relay 1, low byte relay 2
inline constexpr std::uint16_t kAlarm1Type = 0x1000;        // byte
inline constexpr std::uint16_t kAlarm2Type = 0x1002;        // byte
inline constexpr std::uint16_t kInputType = 0x2000;         // byte: sensor menu Index
inline constexpr std::uint16_t kRunMode = 0x200D;           // byte: 0 SV, 1..4 ramp/soak
inline constexpr std::uint16_t kProgramLowStep = 0x200E;    // byte: first step of the program range
inline constexpr std::uint16_t kProgramHighStep = 0x200F;   // byte: last step of that range
inline constexpr std::uint16_t kTemperatureScale = 0x2010;  // byte: 1 Fahrenheit, else Celsius
inline constexpr std::uint16_t kUnitAddress = 0x2011;       // byte: the unit's own Modbus address
inline constexpr std::uint16_t kProgramSteps = 0x4000;      // 64 steps x 3 signed words
inline constexpr std::uint16_t kAutoTuneCoil = 0x0001;
}  // namespace reg

inline constexpr int kStepCount = 64;
inline constexpr int kProcessValueTableSize = 64;  // ProcessValueTable covers addresses 1..64

// Two's complement as the controller keeps it: -1 <-> FF FF, -64 <-> FF C0, 80 00 <-> -32768.
std::uint16_t EncodeSigned(std::int16_t value);
std::int16_t DecodeSigned(std::uint16_t raw);
// Register of step 1..64, word 1..3 (1 PIDSet, 2 Duration, 3 Temperature): 0x4000 + 3(step-1) + word-1.
std::uint16_t ProgramStepRegister(int step, int word);

struct RelayStates {
  std::uint8_t relay1 = 0;  // high byte; 1 = on
  std::uint8_t relay2 = 0;  // low byte; 1 = on
};

// What a register read means, for readers that take several registers in one exchange.
inline std::uint8_t ByteOf(std::uint16_t raw) { return static_cast<std::uint8_t>(raw & 0xFF); }
inline std::uint16_t StepTimeOf(std::uint16_t raw) { return raw > 0x7FFF ? std::uint16_t{0} : raw; }  // 0..32767
inline RelayStates RelaysOf(std::uint16_t raw) {
  return {static_cast<std::uint8_t>(raw >> 8), static_cast<std::uint8_t>(raw & 0xFF)};
}

class CommandSet {
 public:
  explicit CommandSet(Line& line) : line_(line) {}

  // reg and reg + 1, one exchange: wherever the next register is wanted.
  Reply<RegisterPair> ReadPair(std::uint8_t address, std::uint16_t reg);
  // count registers from reg on, one exchange; a count of two is a pair read.
  Reply<std::vector<std::uint16_t>> ReadBlock(std::uint8_t address, std::uint16_t reg, int count);

  Reply<std::int16_t> ReadSetValue(std::uint8_t address);
  Reply<std::int16_t> ReadSingleSetPoint(std::uint8_t address);  // same register as ReadSetValue
  // Reads the set value (and the word beside it) first and writes only when it differs.
  Outcome WriteSetValue(std::uint8_t address, std::int16_t value);
  // The word beside the set value keeps next (as a read just before found it).
  Outcome WriteSetValue(std::uint8_t address, std::int16_t value, std::uint16_t next);
  // Also stores the value in ProcessValueTable for addresses 1..64.
  Reply<std::int16_t> ReadProcessValue(std::uint8_t address);
  Reply<std::int16_t> ReadProfileSetPoint(std::uint8_t address);
  Reply<std::uint8_t> ReadCurrentStep(std::uint8_t address);
  Reply<std::uint16_t> ReadStepTime(std::uint8_t address);  // 0..32767; a larger word reads 0
  Reply<RelayStates> ReadRelayStates(std::uint8_t address);
  Reply<std::uint8_t> ReadAlarm1Type(std::uint8_t address);
  Reply<std::uint8_t> ReadAlarm2Type(std::uint8_t address);
  // Alarm 1 or 2, else NotSent; reads the type register and the word beside it first.
  Outcome WriteAlarmType(std::uint8_t address, int alarm, std::uint8_t type);
  Reply<std::uint8_t> ReadInputType(std::uint8_t address);
  Reply<std::uint8_t> ReadRunMode(std::uint8_t address);
  // The low step beside the run mode keeps lowStep.
  Outcome WriteRunMode(std::uint8_t address, std::uint8_t mode, std::uint8_t lowStep);
  // Reads the run mode and the low step beside it first.
  Outcome WriteRunMode(std::uint8_t address, std::uint8_t mode);
  Reply<std::uint8_t> ReadProgramLowStep(std::uint8_t address);
  Reply<std::uint8_t> ReadProgramHighStep(std::uint8_t address);
  // The low and the high step, neighbours, in one read; both carry its outcome.
  std::pair<Reply<std::uint8_t>, Reply<std::uint8_t>> ReadProgramLimits(std::uint8_t address);
  // Low step first (carrying the high step beside it), then high step (carrying the scale
  // word, scaleWord); the failure of either is the outcome. The high step is still written
  // after a failed low write, as the controller expects both.
  Outcome WriteProgramLimits(std::uint8_t address, std::uint8_t lowStep, std::uint8_t highStep,
                             std::uint16_t scaleWord);
  // Reads the scale word first.
  Outcome WriteProgramLimits(std::uint8_t address, std::uint8_t lowStep, std::uint8_t highStep);
  Reply<char> ReadTemperatureScale(std::uint8_t address);  // 'F' only for 1, else 'C' (also on failure)
  // 1 Fahrenheit, 0 Celsius; the unit address beside the scale keeps address.
  Outcome WriteTemperatureScale(std::uint8_t address, std::uint8_t code);
  // Reads the address register and the word beside it first.
  Outcome WriteUnitAddress(std::uint8_t address, std::uint8_t newAddress);
  Reply<std::int16_t> ReadProgramStepWord(std::uint8_t address, int step, int word);
  // value must lie in -32768..32767 (else NotSent); the caller's value is never changed.
  // next is what the register after the word holds afterwards (the next word of the step, word
  // 1 of the next step, or the word after step 64).
  Outcome WriteProgramStepWord(std::uint8_t address, int step, int word, std::int32_t value, std::uint16_t next);
  // Reads the word and the one after it first.
  Outcome WriteProgramStepWord(std::uint8_t address, int step, int word, std::int32_t value);
  Outcome AutoTuneOn(std::uint8_t address);
  Outcome AutoTuneOff(std::uint8_t address);

  // Last process value read from address 1..64; nullopt before the first good reading.
  std::optional<std::int16_t> ProcessValue(std::uint8_t address) const;
  // A process value read with other registers: ProcessValueTable keeps it as ReadProcessValue would.
  void KeepProcessValue(std::uint8_t address, std::int16_t value);

 private:
  // One read of reg and reg + 1, then the write of value with reg + 1 as it was.
  Outcome WriteKeepingNeighbour(std::uint8_t address, std::uint16_t reg, std::uint16_t value);

  Line& line_;
  std::array<std::optional<std::int16_t>, kProcessValueTableSize + 1> processValueTable_{};
};

}  // namespace tarvel::link
