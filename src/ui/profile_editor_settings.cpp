#include "ui/profile_editor_settings.h"

#include <QSettings>

#include <limits>

namespace tarvel::ui {
namespace {

QString Path(const std::filesystem::path& file) { return QString::fromStdString(file.string()); }

void ReadBool(const QSettings& s, const char* key, bool& value) {
  const QString text = s.value(key).toString().toLower();
  if (text == "true" || text == "false") value = text == "true";
}

void ReadInt16(const QSettings& s, const char* key, std::int16_t& value) {
  bool ok = false;
  const int number = s.value(key).toString().toInt(&ok);
  if (ok && number >= std::numeric_limits<std::int16_t>::min() && number <= std::numeric_limits<std::int16_t>::max())
    value = static_cast<std::int16_t>(number);
}

void ReadText(const QSettings& s, const char* key, std::string& value) {
  if (s.contains(key)) value = s.value(key).toString().toStdString();
}

}  // namespace

profile::EditorSettings ReadEditorSettings(const std::filesystem::path& file) {
  profile::EditorSettings settings;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return settings;
  QSettings s(Path(file), QSettings::IniFormat);
  if (s.status() != QSettings::NoError) return settings;
  ReadBool(s, "TemperatureScale", settings.temperatureScale);
  ReadBool(s, "TimeScale", settings.timeScale);
  ReadText(s, "SensorType", settings.sensorType);
  ReadInt16(s, "DesignProfilePlotSelect", settings.designProfilePlotSelect);
  ReadInt16(s, "DesignProfileLimitsPlotSelect", settings.designProfileLimitsPlotSelect);
  ReadInt16(s, "RecordedProfilePlotSelect", settings.recordedProfilePlotSelect);
  ReadInt16(s, "RecordedTempDataPlotSelect", settings.recordedTempDataPlotSelect);
  ReadText(s, "ProfilePathFileName", settings.profilePathFileName);
  return settings;
}

QString WriteEditorSettings(const std::filesystem::path& file, const profile::EditorSettings& settings) {
  std::error_code ec;
  if (!std::filesystem::is_directory(file.parent_path(), ec)) return "Setup Error: Editor file path does not exist";
  QSettings s(Path(file), QSettings::IniFormat);
  s.clear();
  s.setValue("TemperatureScale", settings.temperatureScale);
  s.setValue("TimeScale", settings.timeScale);
  s.setValue("SensorType", QString::fromStdString(settings.sensorType));
  s.setValue("DesignProfilePlotSelect", settings.designProfilePlotSelect);
  s.setValue("DesignProfileLimitsPlotSelect", settings.designProfileLimitsPlotSelect);
  s.setValue("RecordedProfilePlotSelect", settings.recordedProfilePlotSelect);
  s.setValue("RecordedTempDataPlotSelect", settings.recordedTempDataPlotSelect);
  s.setValue("ProfilePathFileName", QString::fromStdString(settings.profilePathFileName));
  s.sync();
  // 75: the file could not be written (path/file access error).
  if (s.status() == QSettings::AccessError) return "Setup Save system error number=75";
  // A FormatError here is the old file's: it was read before being replaced.
  return {};
}

}  // namespace tarvel::ui
