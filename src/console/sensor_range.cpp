#include "console/sensor_range.h"

namespace tarvel::console {

Result<std::optional<profile::RangeLimits>> SensorRange(store::SensorMenu& menu, std::string_view caption,
                                                        profile::TemperatureScale scale) {
  using profile::RangeLimits;
  auto row = menu.ByCaption(caption);
  if (!row) return row.status();
  if (!row->has_value()) return std::optional<RangeLimits>();
  const store::SensorRow& sensor = **row;
  if (scale == profile::TemperatureScale::Fahrenheit) return std::optional<RangeLimits>(RangeLimits{sensor.fmin, sensor.fmax});
  return std::optional<RangeLimits>(RangeLimits{sensor.cmin, sensor.cmax});
}

}  // namespace tarvel::console
