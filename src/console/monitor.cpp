#include "console/monitor.h"

namespace tarvel::console {

using link::Outcome;
using link::Worst;

Outcome RunStateReading::outcome() const {
  Outcome all = Outcome::Ok;
  for (Outcome o : {programLowStep.outcome, programHighStep.outcome, currentStep.outcome, runMode.outcome,
                    stepTime.outcome, profileSetPoint.outcome, processValue.outcome, singleSetPoint.outcome,
                    relays.outcome})
    all = Worst(all, o);
  return all;
}

bool RunStateReading::complete() const { return outcome() == Outcome::Ok; }

RunStateReading ReadRunStateOf(link::CommandSet& commands, std::uint8_t address) {
  RunStateReading r;
  r.programLowStep = commands.ReadProgramLowStep(address);
  r.programHighStep = commands.ReadProgramHighStep(address);
  r.currentStep = commands.ReadCurrentStep(address);
  r.runMode = commands.ReadRunMode(address);
  r.stepTime = commands.ReadStepTime(address);
  r.profileSetPoint = commands.ReadProfileSetPoint(address);
  r.processValue = commands.ReadProcessValue(address);
  r.singleSetPoint = commands.ReadSingleSetPoint(address);
  r.relays = commands.ReadRelayStates(address);
  return r;
}

RunStateReading Monitor::ReadRunState() {
  auto address = selection_.CurrentAddress();
  if (!address) return {};
  context_.ClearDisplay();
  Exchanges exchanges(context_, 9);
  context_.view.SetLed(Led::Busy);
  const RunStateReading reading = ReadRunStateOf(context_.commands, *address);
  Show(reading, *address);
  // A reading with a failed exchange is no restart point: the stored run state stays as it was.
  if (reading.complete()) {
    context_.store.SaveRunState(*address, context_.selectedRunMode, reading.currentStep.value, reading.stepTime.value);
    log_.ShowExecutingProfile(*address);
    if (listener_) listener_(*address, reading);
  }
  context_.FinishExchanges(reading.outcome(), kCommsError);
  return reading;
}

void Monitor::Show(const RunStateReading& r, std::uint8_t address) {
  if (r.programLowStep.ok()) context_.programLowStep = r.programLowStep.value;
  if (r.programHighStep.ok()) context_.programHighStep = r.programHighStep.value;
  context_.ShowField(Field::ProgramStepLow, Shown(r.programLowStep));
  context_.ShowField(Field::ProgramStepHigh, Shown(r.programHighStep));
  context_.ShowField(Field::CurrentStep, Shown(r.currentStep));
  if (r.programLowStep.ok() && r.programHighStep.ok())
    memory_.HighlightProgramRange(context_.programLowStep, context_.programHighStep - context_.programLowStep + 1);
  if (r.runMode.ok()) SetSelectedRunMode(r.runMode.value);
  context_.ShowField(Field::CurrentTime, Shown(r.stepTime));
  context_.ShowField(Field::ProfileSetPoint, Shown(r.profileSetPoint));
  if (address <= link::kProcessValueTableSize) {
    auto entry = context_.commands.ProcessValue(address);
    context_.ShowField(Field::ProcessTemperature, r.processValue.ok() && entry ? Text(*entry) : std::string());
  }
  context_.ShowField(Field::SingleSetPoint, Shown(r.singleSetPoint));
  context_.ShowField(Field::Relay1, r.relays.ok() ? (r.relays.value.relay1 == 1 ? "on" : "off") : "");
  context_.ShowField(Field::Relay2, r.relays.ok() ? (r.relays.value.relay2 == 1 ? "on" : "off") : "");
  context_.ShowField(Field::SetPoint,
                     context_.selectedRunMode == 0 ? Shown(r.singleSetPoint) : Shown(r.profileSetPoint));
  if (context_.selectedRunMode != 0 && r.currentStep.ok()) memory_.HighlightCurrentStep(r.currentStep.value);
}

void Monitor::ReadControllerRunMode() {
  auto address = selection_.CurrentAddress();
  if (!address) return;
  context_.ClearDisplay();
  Exchanges exchanges(context_, 1);
  context_.view.SetLed(Led::Busy);
  auto mode = context_.commands.ReadRunMode(*address);
  if (mode.ok()) SetSelectedRunMode(mode.value);
  context_.FinishExchanges(mode.outcome, kCommsError);
}

void Monitor::SetSelectedRunMode(int code) {
  context_.selectedRunMode = code;
  context_.view.SetProgramMode(code >= 0 && code <= 4 ? code : -1);
}

void Monitor::SetMonitoring(bool on) {
  monitoring_ = on;
  context_.view.SetMonitoring(on);
  if (on)
    ReadRunState();
  else
    memory_.HighlightProgramRange(context_.programLowStep, context_.programHighStep - context_.programLowStep + 1);
}

}  // namespace tarvel::console
