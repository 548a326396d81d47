#include "sim/controller.h"

#include <algorithm>
#include <cmath>

namespace tarvel::sim {
namespace {

constexpr int kStepCount = 64;
constexpr std::uint8_t kHighestUnitAddress = 247;
// The process is integrated in pieces of this many simulated seconds (more for very long advances).
constexpr double kProcessPiece = 1.0;
constexpr double kMaxPieces = 1000.0;
constexpr double kHeaterBand = 0.5;
// Step time adds up in fractions of a minute; a sum one ulp short of a whole unit is that unit.
constexpr double kTimeEpsilon = 1e-6;

bool IsRampSoak(std::uint8_t mode) { return mode >= 1 && mode <= 4; }
bool IsPvProgression(std::uint8_t mode) { return mode == 3 || mode == 4; }
double SecondsPerUnit(std::uint8_t mode) { return (mode == 2 || mode == 4) ? 60.0 : 1.0; }

std::uint16_t Signed(std::int16_t value) { return static_cast<std::uint16_t>(value); }

std::int16_t ToInt16(double value) {
  const double rounded = std::nearbyint(value);  // halves go to the even neighbour
  return static_cast<std::int16_t>(std::clamp(rounded, -32768.0, 32767.0));
}

ProgramStep& StepAt(UnitState& unit, int step) { return unit.steps[static_cast<std::size_t>(step - 1)]; }
const ProgramStep& StepAt(const UnitState& unit, int step) { return unit.steps[static_cast<std::size_t>(step - 1)]; }

// A timed step ramps to the temperature of the next step that is not a jump or an event
// (a zero-duration end step counts); the last step of memory holds its own temperature.
double RampTarget(const UnitState& unit, int step) {
  for (int next = step + 1; next <= kStepCount; ++next) {
    if (StepAt(unit, next).duration >= 0) return StepAt(unit, next).temperature;
  }
  return StepAt(unit, step).temperature;
}

void EndProgram(UnitState& unit) {
  unit.running = false;
  unit.ended = true;
}

// The next step in sequence; false when that runs past the high step or the end of memory.
bool MoveToNextStep(UnitState& unit) {
  if (unit.currentStep >= unit.programHighStep || unit.currentStep >= kStepCount) return false;
  ++unit.currentStep;
  return true;
}

// Follows the program from where it stands until it rests in a timed step (or ends).
// Time already spent beyond a step's duration is carried into the steps that follow.
void Settle(UnitState& unit, int& budget) {
  while (unit.running) {
    const ProgramStep& step = StepAt(unit, unit.currentStep);
    const int duration = step.duration;
    if (duration > 0 && unit.stepElapsed < duration - kTimeEpsilon) {
      const double target = RampTarget(unit, unit.currentStep);
      unit.profileSetPoint = ToInt16(step.temperature + (target - step.temperature) * unit.stepElapsed / duration);
      return;
    }
    if (budget <= 0) return;
    --budget;
    if (duration > 0) {
      const double carry = std::max(0.0, unit.stepElapsed - duration);
      unit.profileSetPoint = ToInt16(RampTarget(unit, unit.currentStep));
      if (!MoveToNextStep(unit)) {
        unit.stepElapsed = duration;
        EndProgram(unit);
        return;
      }
      unit.stepElapsed = carry;
    } else if (duration == 0) {
      unit.profileSetPoint = step.temperature;
      unit.stepElapsed = 0;
      EndProgram(unit);
    } else if (duration >= -kStepCount) {
      unit.currentStep = static_cast<std::uint8_t>(-duration);
    } else if (duration == kRelay1On || duration == kRelay1Off || duration == kRelay2On || duration == kRelay2Off) {
      const std::uint8_t on = (duration == kRelay1On || duration == kRelay2On) ? 1 : 0;
      (duration == kRelay1On || duration == kRelay1Off ? unit.relay1 : unit.relay2) = on;
      if (!MoveToNextStep(unit)) EndProgram(unit);
    } else {
      // A code the controller does not know: stop rather than guess.
      EndProgram(unit);
    }
  }
}

void StartProgram(UnitState& unit) {
  unit.running = true;
  unit.held = false;
  unit.ended = false;
  unit.startArmed = false;
  unit.currentStep = std::clamp<std::uint8_t>(unit.programLowStep, 1, kStepCount);
  unit.stepElapsed = 0;
  int budget = kMaxStepChangesPerAdvance;
  Settle(unit, budget);
}

void WriteRunMode(UnitState& unit, std::uint8_t mode, bool autoStart) {
  unit.runMode = mode;
  if (mode == 0) {
    // Stops where it stands; a ramp/soak mode written later continues from there.
    if (unit.running) unit.held = true;
    unit.running = false;
    unit.ended = false;
    return;
  }
  if (unit.startArmed || (autoStart && !unit.running && !unit.held)) {
    StartProgram(unit);
  } else if (unit.held) {
    unit.held = false;
    unit.running = true;
    // Time spent in a step that has since become a jump or an event does not carry on.
    if (StepAt(unit, unit.currentStep).duration <= 0) unit.stepElapsed = 0;
    int budget = kMaxStepChangesPerAdvance;
    Settle(unit, budget);  // the step may have been rewritten while held
  }
}

void FollowProcess(UnitState& unit, double seconds) {
  const double setPoint = ActiveSetPoint(unit);
  unit.processTemperature = setPoint + (unit.processTemperature - setPoint) * std::exp(-seconds / kProcessTimeConstant);
  unit.heaterOn = unit.processTemperature < setPoint - kHeaterBand;
}

std::vector<std::uint8_t> Exception(const UnitState& unit, const Request& request, ExceptionCode code) {
  return EncodeExceptionReply(unit.address, static_cast<std::uint8_t>(request.function), code);
}

}  // namespace

double ActiveSetPoint(const UnitState& unit) {
  if (IsRampSoak(unit.runMode) && (unit.running || unit.ended)) return unit.profileSetPoint;
  return unit.setValue;
}

std::optional<std::uint16_t> ReadRegister(const UnitState& unit, std::uint16_t reg) {
  switch (reg) {
    case reg::kSetValue: return Signed(unit.setValue);
    case reg::kProcessValue: return Signed(ToInt16(unit.processTemperature));
    case reg::kProfileSetPoint: return Signed(unit.profileSetPoint);
    case reg::kCurrentStep: return unit.currentStep;
    case reg::kStepTime:
      return static_cast<std::uint16_t>(std::clamp(std::floor(unit.stepElapsed + kTimeEpsilon), 0.0, 65535.0));
    case reg::kRelayStates: return static_cast<std::uint16_t>((unit.relay1 << 8) | unit.relay2);
    case reg::kAlarm1Type: return unit.alarm1Type;
    case reg::kAlarm2Type: return unit.alarm2Type;
    case reg::kInputType: return unit.inputType;
    case reg::kRunMode: return unit.runMode;
    case reg::kProgramLowStep: return unit.programLowStep;
    case reg::kProgramHighStep: return unit.programHighStep;
    case reg::kTemperatureScale: return unit.temperatureScale;
    case reg::kUnitAddress: return unit.address;
    default: break;
  }
  if (reg >= reg::kProgramFirst && reg <= reg::kProgramLast) {
    const int offset = reg - reg::kProgramFirst;
    const ProgramStep& step = unit.steps[static_cast<std::size_t>(offset / 3)];
    const std::int16_t words[] = {step.pidSet, step.duration, step.temperature};
    return Signed(words[offset % 3]);
  }
  return std::nullopt;
}

RegisterDump Registers(const UnitState& unit) {
  RegisterDump dump;
  for (std::uint16_t r : {reg::kSetValue, reg::kAlarm1Type, reg::kAlarm2Type, reg::kInputType, reg::kRunMode,
                          reg::kProgramLowStep, reg::kProgramHighStep, reg::kTemperatureScale, reg::kUnitAddress})
    dump[r] = *ReadRegister(unit, r);
  for (std::uint16_t r = reg::kProgramFirst; r <= reg::kProgramLast; ++r) dump[r] = *ReadRegister(unit, r);
  for (const auto& [r, value] : unit.spareWords) dump[r] = value;
  return dump;
}

std::vector<std::uint16_t> ChangedRegisters(const RegisterDump& before, const RegisterDump& after) {
  std::vector<std::uint16_t> changed;
  for (const auto& [r, value] : after) {
    auto it = before.find(r);
    if (it == before.end() || it->second != value) changed.push_back(r);
  }
  for (const auto& [r, value] : before)
    if (!after.contains(r)) changed.push_back(r);
  std::sort(changed.begin(), changed.end());
  return changed;
}

std::optional<ExceptionCode> WriteRegister(UnitState& unit, std::uint16_t reg, std::uint16_t value, bool autoStart) {
  const bool isByte = value <= 0xFF;
  const auto byteValue = static_cast<std::uint8_t>(value);
  switch (reg) {
    case reg::kSetValue: unit.setValue = static_cast<std::int16_t>(value); return std::nullopt;
    case reg::kAlarm1Type:
    case reg::kAlarm2Type:
    case reg::kTemperatureScale:
      if (!isByte) return ExceptionCode::IllegalDataValue;
      (reg == reg::kAlarm1Type   ? unit.alarm1Type
       : reg == reg::kAlarm2Type ? unit.alarm2Type
                                 : unit.temperatureScale) = byteValue;
      return std::nullopt;
    case reg::kRunMode:
      if (value > 4) return ExceptionCode::IllegalDataValue;
      WriteRunMode(unit, byteValue, autoStart);
      return std::nullopt;
    case reg::kProgramLowStep:
    case reg::kProgramHighStep:
      if (value < 1 || value > kStepCount) return ExceptionCode::IllegalDataValue;
      (reg == reg::kProgramLowStep ? unit.programLowStep : unit.programHighStep) = byteValue;
      return std::nullopt;
    case reg::kUnitAddress:
      if (value < 1 || value > kHighestUnitAddress) return ExceptionCode::IllegalDataValue;
      unit.address = byteValue;
      return std::nullopt;
    default: break;
  }
  if (reg >= reg::kProgramFirst && reg <= reg::kProgramLast) {
    const int offset = reg - reg::kProgramFirst;
    ProgramStep& step = unit.steps[static_cast<std::size_t>(offset / 3)];
    std::int16_t* words[] = {&step.pidSet, &step.duration, &step.temperature};
    *words[offset % 3] = static_cast<std::int16_t>(value);
    return std::nullopt;
  }
  // Outside the map, or a reading that cannot be written.
  return ExceptionCode::IllegalDataAddress;
}

Handled HandleRequest(UnitState& unit, const Request& request, bool autoStart, WriteModel model) {
  Handled handled;
  switch (request.function) {
    case FunctionCode::ReadHoldingRegisters: {
      const auto first = ReadRegister(unit, request.start);
      if (!first) {
        handled.reply = Exception(unit, request, ExceptionCode::IllegalDataAddress);
        break;
      }
      std::vector<std::uint16_t> registers{*first};
      for (std::uint32_t i = 1; i < request.quantity; ++i) {
        const std::uint32_t reg = request.start + i;
        if (reg > 0xFFFF) {
          registers.push_back(0);
          continue;
        }
        auto spare = unit.spareWords.find(static_cast<std::uint16_t>(reg));
        registers.push_back(spare != unit.spareWords.end()
                                ? spare->second
                                : ReadRegister(unit, static_cast<std::uint16_t>(reg)).value_or(0));
      }
      handled.reply = EncodeReadReply(unit.address, registers);
      break;
    }
    case FunctionCode::WriteMultipleRegisters: {
      // Tried on a copy: a write that is refused in any register changes nothing.
      UnitState written = unit;
      const std::size_t stored = model == WriteModel::Both ? request.values.size() : 1;
      std::optional<ExceptionCode> refused;
      for (std::size_t i = 0; i < stored && !refused; ++i) {
        const std::uint32_t target = request.start + i;
        const std::uint16_t value = request.values.at(i);
        if (target > 0xFFFF) {
          refused = ExceptionCode::IllegalDataAddress;
        } else if (target == reg::kUnitAddress) {
          // The unit still answers from its old address; the line applies the change afterwards.
          UnitState probe;
          refused = WriteRegister(probe, reg::kUnitAddress, value, false);
          if (!refused && probe.address != unit.address) handled.newAddress = probe.address;
        } else if (auto spare = written.spareWords.find(static_cast<std::uint16_t>(target));
                   i > 0 && spare != written.spareWords.end()) {
          spare->second = value;
        } else {
          refused = WriteRegister(written, static_cast<std::uint16_t>(target), value, autoStart);
        }
      }
      if (refused) {
        handled.newAddress.reset();
        handled.reply = Exception(unit, request, *refused);
        break;
      }
      unit = std::move(written);
      handled.reply = EncodeWriteReply(unit.address, request.start, request.quantity);
      break;
    }
    case FunctionCode::WriteSingleCoil: {
      const std::uint16_t value = request.values.at(0);
      if (request.start != reg::kAutoTuneCoil) {
        handled.reply = Exception(unit, request, ExceptionCode::IllegalDataAddress);
      } else if (value != 0xFF00 && value != 0x0000) {
        handled.reply = Exception(unit, request, ExceptionCode::IllegalDataValue);
      } else {
        unit.autoTune = value == 0xFF00;
        handled.reply = EncodeCoilReply(unit.address, request.start, value);
      }
      break;
    }
  }
  return handled;
}

void FrontPanelStart(UnitState& unit) {
  if (IsRampSoak(unit.runMode)) {
    StartProgram(unit);
  } else {
    unit.startArmed = true;
  }
}

void EndCurrentStep(UnitState& unit) {
  if (!unit.running) return;
  const int duration = StepAt(unit, unit.currentStep).duration;
  if (duration <= 0) return;
  unit.stepElapsed = duration;
  int budget = kMaxStepChangesPerAdvance;
  Settle(unit, budget);
}

void Advance(UnitState& unit, double seconds) {
  if (!(seconds > 0)) return;
  const double piece = std::max(kProcessPiece, seconds / kMaxPieces);
  int budget = kMaxStepChangesPerAdvance;
  for (double left = seconds; left > 1e-9;) {
    const double dt = std::min(piece, left);
    left -= dt;
    if (unit.running) {
      // PV progression: the step clock waits for a process that lags far behind.
      const bool waitForProcess =
          IsPvProgression(unit.runMode) && std::abs(unit.processTemperature - unit.profileSetPoint) > kPvBand;
      if (!waitForProcess) {
        unit.stepElapsed += dt / SecondsPerUnit(unit.runMode);
        Settle(unit, budget);
      }
    }
    FollowProcess(unit, dt);
  }
}

}  // namespace tarvel::sim
