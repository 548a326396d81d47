#include "console/settings.h"

#include "util/text.h"

namespace tarvel::console {

using link::Outcome;
using link::Worst;

ControllerSettingsReading Settings::ReadControllerSettings() {
  auto address = selection_.CurrentAddress();
  if (!address) return {};
  context_.ClearDisplay();
  Exchanges exchanges(context_, 4);
  context_.view.SetLed(Led::Busy);
  auto& commands = context_.commands;
  ControllerSettingsReading shown;
  auto input = commands.ReadInputType(*address);
  shown.sensorType = input.ok() ? GetSensorCaption(input.value) : std::string();
  context_.ShowField(Field::SensorType, shown.sensorType);
  auto alarm1 = commands.ReadAlarm1Type(*address);
  context_.ShowField(Field::Alarm1Type, Shown(alarm1));
  auto alarm2 = commands.ReadAlarm2Type(*address);
  context_.ShowField(Field::Alarm2Type, Shown(alarm2));
  auto scale = commands.ReadTemperatureScale(*address);
  shown.temperatureScale = scale.ok() ? std::string(1, scale.value) : std::string();
  context_.ShowField(Field::TemperatureScale, shown.temperatureScale);
  shown.outcome = Worst(Worst(input.outcome, alarm1.outcome), Worst(alarm2.outcome, scale.outcome));
  context_.FinishExchanges(shown.outcome, kCommsError);
  return shown;
}

bool Settings::WriteSettings(const SettingsInput& input) {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  context_.ClearDisplay();
  // Both alarm types are checked before anything is sent: a half-written setting helps no one.
  auto alarm1 = ToWholeNumber(input.alarm1Type, 0, 255);
  auto alarm2 = ToWholeNumber(input.alarm2Type, 0, 255);
  if (!alarm1 || !alarm2) {
    context_.Display(std::string("ERROR: Alarm ") + (!alarm1 ? "1" : "2") +
                     " type must be a whole number from 0 to 255");
    return false;
  }
  // The scale write, each alarm type read (for the word beside it) and written, and the three read back.
  Exchanges exchanges(context_, 1 + 2 * 2 + 3);
  context_.view.SetLed(Led::Busy);
  auto& commands = context_.commands;
  Outcome all = Outcome::Ok;
  std::optional<char> scale;
  if (input.temperatureScale == "C" || input.temperatureScale == "F") scale = input.temperatureScale[0];
  if (scale) all = Worst(all, commands.WriteTemperatureScale(*address, *scale == 'F' ? 1 : 0));
  all = Worst(all, commands.WriteAlarmType(*address, 1, static_cast<std::uint8_t>(*alarm1)));
  all = Worst(all, commands.WriteAlarmType(*address, 2, static_cast<std::uint8_t>(*alarm2)));
  if (all != Outcome::Ok) {
    context_.FinishExchanges(all, kCommsError);
    return false;
  }
  // What the controller holds now, read back: scale, alarm 1 and alarm 2 in turn.
  auto scaleBack = scale ? commands.ReadTemperatureScale(*address) : link::Reply<char>{Outcome::Ok, '\0'};
  auto alarm1Back = commands.ReadAlarm1Type(*address);
  auto alarm2Back = commands.ReadAlarm2Type(*address);
  all = Worst(scaleBack.outcome, Worst(alarm1Back.outcome, alarm2Back.outcome));
  if (all != Outcome::Ok) {
    context_.FinishExchanges(all, kCommsError);
    context_.Display("ERROR: The settings written could not be read back");
    return false;
  }
  std::string differs;
  if (scale && scaleBack.value != *scale)
    differs = std::string("temperature scale reads back ") + scaleBack.value + ", not " + *scale;
  else if (alarm1Back.value != *alarm1)
    differs = "alarm 1 type reads back " + Text(alarm1Back.value) + ", not " + Text(static_cast<int>(*alarm1));
  else if (alarm2Back.value != *alarm2)
    differs = "alarm 2 type reads back " + Text(alarm2Back.value) + ", not " + Text(static_cast<int>(*alarm2));
  if (!differs.empty()) {
    context_.DidNotKeep(*address, differs);
    return false;
  }
  context_.view.SetLed(Led::Idle);
  return true;
}

bool Settings::WriteSingleSetPoint(const std::string& text) {
  if (!IsNumber(text)) {
    context_.Display("ERROR:Set point entered is not a number");
    return false;
  }
  auto value = ToInt16(text);
  if (!value) {
    context_.Display("ERROR:Set point entered is out of range");
    return false;
  }
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  Exchanges exchanges(context_, 3);
  context_.view.SetLed(Led::Busy);
  auto& commands = context_.commands;
  link::Reply<std::int16_t> back{Outcome::NotSent, 0};
  if (commands.WriteSetValue(*address, *value) == Outcome::Ok) back = commands.ReadSetValue(*address);
  if (!back.ok()) {
    context_.view.SetLed(Led::Error);
    context_.Display(kCommError);
    return false;
  }
  if (back.value != *value) {
    context_.DidNotKeep(*address, "set value reads back " + Text(back.value) + ", not " + Text(*value));
    return false;
  }
  context_.view.SetLed(Led::Idle);
  context_.Display("Thermostat mode set. Single set point temperature entered");
  return true;
}

void Settings::AutoTune(bool on) {
  auto address = selection_.CurrentAddress();
  if (!address) return;
  if (on) {
    // Auto-tune takes over the output until it has learnt: a run in progress is named.
    std::string text = "Auto-tune switches the output of unit #" + Text(*address) +
                       " on and off around its set point until it has learnt its PID values.";
    if (const std::string running = context_.RunningProgramLine(*address); !running.empty()) text += "\r\n" + running;
    if (!context_.view.ConfirmRisky("AutoTune On", text + "\r\nProceed?")) return;
  }
  context_.ClearDisplay();
  context_.Display(on ? "Turning Auto Tune on" : "Turning Auto Tune off");
  Exchanges exchanges(context_, 1);
  context_.view.SetLed(Led::Busy);
  const link::Outcome outcome = on ? context_.commands.AutoTuneOn(*address) : context_.commands.AutoTuneOff(*address);
  context_.FinishExchanges(outcome, kCommsError);
  if (outcome == link::Outcome::Ok)
    context_.Display(on ? "Auto Tune is on: the controller is tuning; AutoTune Off ends it" : "Auto Tune is off");
}

std::string Settings::GetSensorCaption(int index) {
  store::SensorMenu menu(context_.folder.SensorMenuDatabase());
  auto row = menu.ByIndex(index);
  return row.ok() && row->has_value() ? (*row)->caption : Text(index);
}

int Settings::GetSensorIndex(const std::string& caption) {
  store::SensorMenu menu(context_.folder.SensorMenuDatabase());
  auto row = menu.ByCaption(caption);
  return row.ok() && row->has_value() ? (*row)->index : -1;
}

}  // namespace tarvel::console
