#pragma once
// console: the temperature range of a sensor type from the sensor menu database. It joins
// store and profile here so that profile depends on util only.

#include <optional>
#include <string_view>

#include "profile/profile_table.h"
#include "profile/verify.h"
#include "store/config_store.h"
#include "util/result.h"

namespace tarvel::console {

// Fmin/Fmax for Fahrenheit, Cmin/Cmax for Celsius of the Menu row with this caption (trailing
// blanks do not count); no value when the caption is not in the menu.
Result<std::optional<profile::RangeLimits>> SensorRange(store::SensorMenu& menu, std::string_view caption,
                                                        profile::TemperatureScale scale);

}  // namespace tarvel::console
