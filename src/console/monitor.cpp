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

Outcome RunStateRead::Next(link::CommandSet& commands) {
  RunStateReading& r = reading_;
  Outcome outcome = Outcome::NotSent;
  switch (next_) {
    case 0: outcome = (r.programLowStep = commands.ReadProgramLowStep(address_)).outcome; break;
    case 1: outcome = (r.programHighStep = commands.ReadProgramHighStep(address_)).outcome; break;
    case 2: outcome = (r.currentStep = commands.ReadCurrentStep(address_)).outcome; break;
    case 3: outcome = (r.runMode = commands.ReadRunMode(address_)).outcome; break;
    case 4: outcome = (r.stepTime = commands.ReadStepTime(address_)).outcome; break;
    case 5: outcome = (r.profileSetPoint = commands.ReadProfileSetPoint(address_)).outcome; break;
    case 6: outcome = (r.processValue = commands.ReadProcessValue(address_)).outcome; break;
    case 7: outcome = (r.singleSetPoint = commands.ReadSingleSetPoint(address_)).outcome; break;
    case 8: outcome = (r.relays = commands.ReadRelayStates(address_)).outcome; break;
    default: return outcome;
  }
  ++next_;
  return outcome;
}

void RunStateRead::GiveUp() {
  RunStateReading& r = reading_;
  Outcome* fields[kReads] = {&r.programLowStep.outcome, &r.programHighStep.outcome, &r.currentStep.outcome,
                             &r.runMode.outcome,        &r.stepTime.outcome,        &r.profileSetPoint.outcome,
                             &r.processValue.outcome,   &r.singleSetPoint.outcome,  &r.relays.outcome};
  for (; next_ < kReads; ++next_) *fields[next_] = Outcome::NotSent;
}

RunStateReading ReadRunStateOf(link::CommandSet& commands, std::uint8_t address) {
  RunStateRead read(address);
  while (!read.Done()) read.Next(commands);
  return read.Reading();
}

RunStateReading Monitor::ReadRunState() {
  auto address = selection_.CurrentAddress();
  if (!address) return {};
  context_.ClearDisplay();
  Exchanges exchanges(context_, 9);
  context_.view.SetLed(Led::Busy);
  const RunStateReading reading = ReadRunStateOf(context_.commands, *address);
  Take(*address, reading);
  return reading;
}

bool Monitor::ShowReading(int channel, std::uint8_t address, const RunStateReading& reading) {
  if (!monitoring_ || selection_.CurrentChannelText() != Text(channel)) return false;
  // As a monitor tick: the last command's outcome stays above the reading's lines.
  BackgroundLines tick(context_.messages);
  context_.ClearDisplay();
  Take(address, reading);
  return true;
}

void Monitor::Take(std::uint8_t address, const RunStateReading& reading) {
  Show(reading, address);
  // A reading with a failed exchange is no restart point: the stored run state stays as it was.
  storeFailed_ = false;
  if (reading.complete()) {
    const Status saved =
        context_.store.SaveRunState(address, context_.selectedRunMode, reading.currentStep.value, reading.stepTime.value);
    if (!saved) {
      storeFailed_ = true;
      ++storeFailures_;
      context_.Display("ERROR: The run state could not be stored: " + saved.message());
    }
    log_.ShowExecutingProfile(address);
    if (listener_) listener_(address, reading);
  }
  context_.FinishExchanges(reading.outcome(), kCommsError);
  if (storeFailed_) context_.view.SetLed(Led::Error);
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
  // The value of the reading, which is the table's entry when this console read it, and the
  // line watch's value when the watch did.
  if (address <= link::kProcessValueTableSize)
    context_.ShowField(Field::ProcessTemperature, r.processValue.ok() ? Text(r.processValue.value) : std::string());
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
