#include "console/monitor.h"

#include <utility>

namespace tarvel::console {

using link::Outcome;
using link::Worst;

RunStateReading Monitor::ReadRunState() {
  auto address = selection_.CurrentAddress();
  if (!address) return {};
  context_.ClearDisplay();
  link::FrameUse frames = context_.FramesFor(*address);
  Exchanges exchanges(context_, controller::RunStateRead::Exchanges(frames));
  context_.view.SetLed(Led::Busy);
  const RunStateReading reading = controller::ReadRunStateOf(context_.commands, *address, frames);
  context_.Learnt(*address, frames);
  Take(*address, reading);
  return reading;
}

bool Monitor::ShowReading(int channel, std::uint8_t address, const RunStateReading& reading) {
  if (selection_.CurrentChannelText() != Text(channel)) return false;
  if (!monitoring_) {
    // The Run State frame and the trend follow the sweep all the same; the message area, the
    // link indicator and the stored run state are left to monitoring and to the watch.
    Show(reading, address);
    if (listener_) listener_(address, reading);
    return false;
  }
  // As a monitor tick: the last command's outcome stays above the reading's lines.
  BackgroundLines tick(context_.messages);
  context_.ClearDisplay();
  Take(address, reading);
  return true;
}

void Monitor::Take(std::uint8_t address, const RunStateReading& reading) {
  Show(reading, address);
  // A reading with a failed exchange is no restart point, nor is one of a paused or idle
  // controller: the stored run state stays the last one of the running program.
  storeFailed_ = false;
  if (reading.RestartPoint()) {
    const Status saved =
        context_.store.SaveRunState(address, reading.runMode.value, reading.currentStep.value, reading.stepTime.value);
    if (!saved) {
      storeFailed_ = true;
      ++storeFailures_;
      context_.Display("ERROR: The run state could not be stored: " + saved.message());
    }
  }
  if (reading.complete()) {
    log_.ShowExecutingProfile(address);
  }
  if (listener_) listener_(address, reading);
  context_.FinishExchanges(reading.outcome(), kCommsError);
  if (storeFailed_) context_.view.SetLed(Led::Error);
}

void Monitor::Show(const RunStateReading& r, std::uint8_t address) {
  lastSetValue_.reset();
  if (r.singleSetPoint.ok()) lastSetValue_ = {address, r.singleSetPoint.value};
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
