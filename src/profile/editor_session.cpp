#include "profile/editor_session.h"

#include <algorithm>
#include <cstdio>

#include "profile/chart_data.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "util/text.h"

namespace tarvel::profile {

EditorSession::EditorSession(std::vector<SensorEntry> sensors, RangeLookup lookup, MessageSink& prompt)
    : sensors_(std::move(sensors)), lookup_(std::move(lookup)), prompt_(prompt) {
  CheckSensorOfCaption(settings_.sensorType);
}

std::string EditorSession::ProfileName() const { return profilePath_.filename().string(); }

void EditorSession::New() {
  sheet_.ClearProfile();
  profilePath_.clear();
}

bool EditorSession::OpenProfile(const std::filesystem::path& file) {
  auto loaded = LoadProfileFile(file);
  if (!loaded) {
    prompt_.Display(
        "File found: Format not valid: \r\nProfile Syntax must be precise\r\nUse profile editor to create profiles\r\n"
        "If you are not fully aware of format conventions");
    // Which file, and which check it failed.
    const std::string& why = loaded.status().message();
    prompt_.Display("Why: " + (why.starts_with(file.string()) ? why : file.string() + ": " + why));
    return false;
  }
  std::string text = std::move(loaded).value();
  prompt_.Display("Profile is valid");
  profilePath_ = file;
  sheet_.SetTable(ParseProfileText(text));
  settings_.sensorType = SensorTypeField(text);
  settings_.temperatureScale = TemperatureScaleFromLetter(TemperatureScaleField(text));
  settings_.timeScale = TimeScaleFromLetter(TimeScaleField(text));
  prompt_.Display("===Recalling last edited profiles settings===");
  LoadMenuCheckMarks();
  return true;
}

std::optional<std::string> EditorSession::VerifyForSave() {
  std::string text = BuildProfileText(sheet_.Table(), settings_);
  // What is verified is what the file will hold: cells cut to 20 characters.
  VerifyOutcome outcome = VerifyProfile(ParseProfileText(text), prompt_, [this] {
    SetRangeLimits(settings_.sensorType);
    return limits_;
  });
  if (outcome.profileError) {
    prompt_.Display("Profile Error - FILE NOT SAVED");
    return std::nullopt;
  }
  return text;
}

Status EditorSession::SaveTo(const std::filesystem::path& file, const std::string& text) {
  Status saved = SaveProfileText(file, text);
  if (!saved) {
    prompt_.Display("File save error=" + saved.message());
    return saved;
  }
  profilePath_ = file;
  prompt_.Clear();
  prompt_.Display("PROFILE SAVED");
  return saved;
}

void EditorSession::SelectSensor(int index) {
  for (const SensorEntry& entry : sensors_) {
    if (entry.index != index) continue;
    checkedSensor_ = index;
    prompt_.Display("Profile sensor type set to: " + entry.caption);
    settings_.sensorType = entry.caption;
    TempRangeCheck();
    return;
  }
  prompt_.Display("Error setting sensor type");
}

void EditorSession::CheckSensorOfCaption(std::string_view caption) {
  checkedSensor_.reset();
  for (const SensorEntry& entry : sensors_)
    if (TrimTrailingBlanks(entry.caption) == TrimTrailingBlanks(caption)) checkedSensor_ = entry.index;
}

void EditorSession::LoadMenuCheckMarks() {
  CheckSensorOfCaption(settings_.sensorType);
  if (checkedSensor_) {
    SelectSensor(*checkedSensor_);
  } else {
    // Another entry's caption would silently change the profile's sensor: keep it, say so.
    settings_.sensorType = TrimTrailingBlanks(settings_.sensorType);
    prompt_.Display("Profile sensor type set to: " + settings_.sensorType);
    prompt_.Display("Sensor type " + settings_.sensorType + " is not in the sensor menu: its range is unknown");
  }
  prompt_.Display(settings_.temperatureScale == TemperatureScale::Fahrenheit ? "Profile temp scale=Fahrenheit"
                                                                             : "Profile temp scale=Celcius");
  prompt_.Display(settings_.timeScale == TimeScale::Seconds   ? "Profile time scale=Seconds"
                  : settings_.timeScale == TimeScale::Minutes ? "Profile time scale=Minutes"
                                                              : "Profile time scale=Hours");
}

namespace {

// A value as the worksheet shows it, without the zeros after the point: 1890.00 -> "1890".
std::string FormatNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  std::string shown = text;
  while (shown.back() == '0') shown.pop_back();
  if (shown.back() == '.') shown.pop_back();
  return shown == "-0" ? "0" : shown;
}

}  // namespace

// Nothing is converted when a scale changes: where the worksheet holds values, one more line
// says what they now mean, so 30 hours becoming 1,800 minutes never passes unnoticed.
void EditorSession::SetTemperatureScale(TemperatureScale scale) {
  const bool changed = scale != settings_.temperatureScale;
  settings_.temperatureScale = scale;
  prompt_.Clear();
  prompt_.Display(scale == TemperatureScale::Fahrenheit ? "Temperature scale set to F" : "Temperature scale set to C");
  if (!changed) return;
  std::optional<double> low, high;
  const ProfileTable& table = sheet_.Table();
  for (int row = 1, last = LastProfileRow(table); row <= last; ++row)
    for (int column : {kStartTemp, kEndTemp})
      if (auto value = ParseNumber(table.at(row, column))) {
        low = std::min(low.value_or(*value), *value);
        high = std::max(high.value_or(*value), *value);
      }
  if (low)
    prompt_.Display("The values were not converted: the profile's " + FormatNumber(*low) + " to " +
                    FormatNumber(*high) + " are now degrees " + (scale == TemperatureScale::Fahrenheit ? "F" : "C"));
}

void EditorSession::SetTimeScale(TimeScale scale) {
  const bool changed = scale != settings_.timeScale;
  settings_.timeScale = scale;
  prompt_.Clear();
  prompt_.Display(scale == TimeScale::Seconds   ? "Time scale set to Seconds"
                  : scale == TimeScale::Minutes ? "Time scale set to Minutes"
                                                : "Time scale set to Hours");
  if (!changed) return;
  const ProfileTable& table = sheet_.Table();
  if (auto end = ProfileEndTime(table, LastProfileRow(table)); end && *end > 0)
    prompt_.Display("The values were not converted: the profile now lasts " + FormatNumber(*end) + " " +
                    (scale == TimeScale::Seconds   ? "seconds"
                     : scale == TimeScale::Minutes ? "minutes"
                                                   : "hours"));
}

void EditorSession::SetRangeLimits(std::string_view caption) {
  auto range = lookup_(caption, settings_.temperatureScale);
  if (!range) {
    prompt_.Display("Error setting profile range limits");
    return;
  }
  if (!range->has_value()) return;
  limits_ = **range;
  prompt_.Display(SensorRangeMessage(limits_));
}

bool EditorSession::TempRangeCheck() {
  SetRangeLimits(settings_.sensorType);
  return profile::TempRangeCheck(sheet_.Table(), LastProfileRow(sheet_.Table()), limits_, prompt_);
}

EditorSettings EditorSession::SettingsToWrite(const EditorSettings& plotSelects) const {
  EditorSettings settings = plotSelects;
  settings.temperatureScale = settings_.temperatureScale == TemperatureScale::Fahrenheit;
  settings.timeScale = settings_.timeScale == TimeScale::Minutes;
  settings.sensorType = settings_.sensorType;
  settings.profilePathFileName = profilePath_.string();
  return settings;
}

void EditorSession::ApplySettings(const EditorSettings& settings) {
  settings_.temperatureScale = settings.temperatureScale ? TemperatureScale::Fahrenheit : TemperatureScale::Celsius;
  // Only Minutes is remembered; with it unchecked the scale reads as hours.
  settings_.timeScale = settings.timeScale ? TimeScale::Minutes : TimeScale::Hours;
  settings_.sensorType = settings.sensorType;
  CheckSensorOfCaption(settings_.sensorType);
  std::error_code ec;
  if (!settings.profilePathFileName.empty() && std::filesystem::is_regular_file(settings.profilePathFileName, ec))
    OpenProfile(settings.profilePathFileName);
}

}  // namespace tarvel::profile
