#pragma once
// sim: one simulated Set64RS / XMT63-style controller: its register map, its program
// execution and its process. Works on a UnitState; the line serialises every call.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "sim/rtu_codec.h"
#include "sim/simulated_line.h"

namespace tarvel::sim {

// The register map as the controller keeps it. The master side has its own copy on purpose.
namespace reg {
inline constexpr std::uint16_t kSetValue = 0x0000;          // signed, read/write: single set point (SV)
inline constexpr std::uint16_t kProcessValue = 0x0164;      // signed, read: process temperature
inline constexpr std::uint16_t kProfileSetPoint = 0x0168;   // signed, read: set point the program produces
inline constexpr std::uint16_t kCurrentStep = 0x018F;       // byte, read: step executing
inline constexpr std::uint16_t kStepTime = 0x0191;          // word, read: whole time units spent in it
inline constexpr std::uint16_t kRelayStates = 0x01D8;       // read: relay 1 high byte, relay 2 low byte
inline constexpr std::uint16_t kAlarm1Type = 0x1000;        // byte, read/write
inline constexpr std::uint16_t kAlarm2Type = 0x1002;        // byte, read/write
inline constexpr std::uint16_t kInputType = 0x2000;         // byte, read: sensor type code
inline constexpr std::uint16_t kRunMode = 0x200D;           // byte, read/write: 0 SV, 1..4 ramp/soak
inline constexpr std::uint16_t kProgramLowStep = 0x200E;    // byte, read/write: 1..64
inline constexpr std::uint16_t kProgramHighStep = 0x200F;   // byte, read/write: 1..64
inline constexpr std::uint16_t kTemperatureScale = 0x2010;  // byte, read/write: 1 Fahrenheit, else Celsius
inline constexpr std::uint16_t kUnitAddress = 0x2011;       // byte, read/write: own address, 1..247
inline constexpr std::uint16_t kProgramFirst = 0x4000;      // signed, read/write: step n word w at
inline constexpr std::uint16_t kProgramLast = 0x40BF;       //   0x4000 + 3(n-1) + (w-1)
inline constexpr std::uint16_t kAutoTuneCoil = 0x0001;      // function 5: 0xFF00 on, 0x0000 off
}  // namespace reg

// Event codes kept in a step's duration word.
inline constexpr std::int16_t kRelay1On = -1011;
inline constexpr std::int16_t kRelay1Off = -1010;
inline constexpr std::int16_t kRelay2On = -1021;
inline constexpr std::int16_t kRelay2Off = -1020;

// How the simulated process behaves, in simulated seconds and degrees.
inline constexpr double kProcessTimeConstant = 30.0;  // first-order lag of the process behind its set point
inline constexpr double kPvBand = 10.0;               // PV progression: the step clock waits while PV is further off
// A program of jumps that loop without time would spin forever: one advance makes at
// most this many step changes and leaves the rest for the next advance.
inline constexpr int kMaxStepChangesPerAdvance = 10000;

// The result of one request for this unit.
struct Handled {
  std::vector<std::uint8_t> reply;         // CRC included
  std::optional<std::uint8_t> newAddress;  // an address change, applied once the reply is out
};

// A read of the first register fails (exception 02) when it is outside the map; the
// registers after it read their spare word, or 0 when they are outside the map. A write
// stores what the write model says (every register, or the first only).
Handled HandleRequest(UnitState& unit, const Request& request, bool autoStart, WriteModel model);

std::optional<std::uint16_t> ReadRegister(const UnitState& unit, std::uint16_t reg);

// Every register the unit keeps -- set value, alarm and input types, run mode, program
// limits, scale, address, the 64 program steps and the spare words -- but not the readings
// that follow its program (process value, step, step time, relays): register -> value.
using RegisterDump = std::map<std::uint16_t, std::uint16_t>;
RegisterDump Registers(const UnitState& unit);
// The registers whose values differ between two dumps, in ascending order.
std::vector<std::uint16_t> ChangedRegisters(const RegisterDump& before, const RegisterDump& after);
// Applies a write; the exception to answer with when the register or value is refused.
// kUnitAddress changes unit.address at once (HandleRequest defers it instead).
std::optional<ExceptionCode> WriteRegister(UnitState& unit, std::uint16_t reg, std::uint16_t value, bool autoStart);

// The operator's start code 5172: in a ramp/soak mode it (re)starts the program at the
// low step; in mode 0 it arms the start, so the next ramp/soak mode written starts it.
void FrontPanelStart(UnitState& unit);

// Moves the unit by this much simulated time: program, step clock and process.
void Advance(UnitState& unit, double seconds);
// A running program's timed step ends now and the program goes on into what follows.
void EndCurrentStep(UnitState& unit);

// What the process follows: the program's set point once a program has run in a
// ramp/soak mode, otherwise the single set point.
double ActiveSetPoint(const UnitState& unit);

}  // namespace tarvel::sim
