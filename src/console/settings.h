#pragma once
// console: the controller settings panel (sensor, alarms, temperature scale), the single set
// point and auto-tune. Depends on the console context and the channel selection.

#include <string>

#include "console/channel_selection.h"
#include "console/context.h"

namespace tarvel::console {

// The texts of the "Controller Settings" panel when "Write Settings" is pressed.
struct SettingsInput {
  std::string temperatureScale;
  std::string alarm1Type;
  std::string alarm2Type;
};

// What a settings reading showed in the sensor and scale boxes, and how the reading went.
struct ControllerSettingsReading {
  std::string sensorType;
  std::string temperatureScale;
  link::Outcome outcome = link::Outcome::NotSent;
};

class Settings {
 public:
  Settings(Context& context, ChannelSelection& selection) : context_(context), selection_(selection) {}

  ControllerSettingsReading ReadControllerSettings();
  // Both write, then read back what they wrote; true when the controller holds it.
  bool WriteSettings(const SettingsInput& input);
  bool WriteSingleSetPoint(const std::string& text);
  void AutoTune(bool on);
  std::string GetSensorCaption(int index);
  int GetSensorIndex(const std::string& caption);

 private:
  Context& context_;
  ChannelSelection& selection_;
};

}  // namespace tarvel::console
