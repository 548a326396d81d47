#pragma once
// profile: the profile editor's own state and commands -- open, verify and save, the sensor
// type and the scales -- apart from any window. The sensor ranges come through a lookup the
// caller supplies, so this stays on util only.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profile/message_sink.h"
#include "profile/profile_table.h"
#include "profile/verify.h"
#include "profile/worksheet.h"
#include "util/result.h"

namespace tarvel::profile {

// One entry of the sensor type menu: the Menu table's Index and Caption.
struct SensorEntry {
  int index = 0;
  std::string caption;
};

// The range of a caption in a scale: no value when the caption is not in the menu; a failure
// when the sensor menu cannot be read.
using RangeLookup = std::function<Result<std::optional<RangeLimits>>(std::string_view caption, TemperatureScale)>;

class EditorSession {
 public:
  EditorSession(std::vector<SensorEntry> sensors, RangeLookup lookup, MessageSink& prompt);

  Worksheet& Sheet() { return sheet_; }
  const Worksheet& Sheet() const { return sheet_; }
  const ProfileSettings& Settings() const { return settings_; }
  const std::vector<SensorEntry>& Sensors() const { return sensors_; }
  // The menu index of the checked sensor entry; none when no entry is checked.
  std::optional<int> CheckedSensor() const { return checkedSensor_; }
  RangeLimits Limits() const { return limits_; }
  // Edit_Profile_Name: the file name of the current profile.
  std::string ProfileName() const;
  const std::filesystem::path& ProfilePath() const { return profilePath_; }

  // New: a cleared profile without a name.
  void New();
  // Open Profile: a valid file replaces worksheet, name and scales and shows the recalled
  // settings; an invalid one shows the format message and changes nothing. True when loaded.
  bool OpenProfile(const std::filesystem::path& file);
  // The first part of SaveAs: verification, then the text to save; no value (after "Profile
  // Error - FILE NOT SAVED") when the profile does not verify.
  std::optional<std::string> VerifyForSave();
  // Cells a save would cut to the 20 characters of a file: the user is asked before it happens.
  std::vector<CutCell> CellsCutAtSave() const { return profile::CellsCutAtSave(sheet_.Table()); }
  // The last part of SaveAs: writes the text atomically and takes the file as the profile's.
  Status SaveTo(const std::filesystem::path& file, const std::string& text);

  // mnuSensorType_Click: checks the entry, takes its caption, runs TempRangeCheck.
  void SelectSensor(int index);
  void SetTemperatureScale(TemperatureScale scale);
  void SetTimeScale(TimeScale scale);
  // Checks the sensor entry of the current caption and shows the three settings.
  void LoadMenuCheckMarks();
  // Looks the limits of a caption up in the checked scale and shows them; unchanged when the
  // caption is not in the menu.
  void SetRangeLimits(std::string_view caption);
  // TempRangeCheck over the current profile with the current sensor's limits.
  bool TempRangeCheck();

  // Settings file: what to write, and the settings applied at load (the remembered profile is
  // opened when it is a file; any failure leaves the defaults).
  EditorSettings SettingsToWrite(const EditorSettings& plotSelects) const;
  void ApplySettings(const EditorSettings& settings);

 private:
  void CheckSensorOfCaption(std::string_view caption);

  Worksheet sheet_;
  std::vector<SensorEntry> sensors_;
  RangeLookup lookup_;
  MessageSink& prompt_;
  ProfileSettings settings_;
  std::optional<int> checkedSensor_;
  RangeLimits limits_;
  std::filesystem::path profilePath_;
};

}  // namespace tarvel::profile
