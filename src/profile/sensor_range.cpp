#include "profile/sensor_range.h"

namespace tarvel::profile {

Result<std::optional<RangeLimits>> SensorRange(store::SensorMenu& menu, std::string_view caption,
                                               TemperatureScale scale) {
  auto row = menu.ByCaption(caption);
  if (!row) return row.status();
  if (!row->has_value()) return std::optional<RangeLimits>();
  const store::SensorRow& sensor = **row;
  if (scale == TemperatureScale::Fahrenheit) return std::optional<RangeLimits>(RangeLimits{sensor.fmin, sensor.fmax});
  return std::optional<RangeLimits>(RangeLimits{sensor.cmin, sensor.cmax});
}

}  // namespace tarvel::profile
