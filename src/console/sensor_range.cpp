#include "console/sensor_range.h"

namespace tarvel::console {

Result<std::optional<profile::RangeLimits>> SensorRange(store::SensorMenu& menu, std::string_view caption,
                                                        profile::TemperatureScale scale) {
  using profile::RangeLimits;
  auto row = menu.ByCaption(caption);
  if (!row) return row.status();
  if (!row->has_value()) return std::optional<RangeLimits>();
  const store::SensorRow& sensor = **row;
  if (scale == profile::TemperatureScale::Fahrenheit)
    return std::optional<RangeLimits>(RangeLimits{sensor.fmin, sensor.fmax});
  return std::optional<RangeLimits>(RangeLimits{sensor.cmin, sensor.cmax});
}

bool CheckProfile(const std::filesystem::path& sensorMenu, const profile::ProfileTable& table,
                  const profile::ProfileSettings& settings, profile::MessageSink& sink) {
  store::SensorMenu menu(sensorMenu);
  auto range = SensorRange(menu, settings.sensorType, settings.temperatureScale);
  if (!range) {
    sink.Display("Cannot read the sensor menu " + sensorMenu.string() + ": " + range.status().message());
    return false;
  }
  if (!range->has_value()) {
    sink.Display("Sensor type \"" + settings.sensorType + "\" is not in the sensor menu " + sensorMenu.string() +
                 ": its temperature range is unknown, the profile is not verified");
    return false;
  }
  const profile::RangeLimits limits = **range;
  const profile::VerifyOutcome verified = profile::VerifyProfile(table, sink, [&] {
    sink.Display(profile::SensorRangeMessage(limits));
    return limits;
  });
  const Status numbers = profile::CheckControllerNumbers(table, profile::TimeScaleLetter(settings.timeScale));
  if (!numbers) sink.Display("Error: " + numbers.message());
  return !verified.profileError && numbers.ok();
}

}  // namespace tarvel::console
