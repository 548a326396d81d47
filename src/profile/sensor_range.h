#pragma once
// profile: the temperature range of a sensor type from the sensor menu database.

#include <optional>
#include <string_view>

#include "profile/profile_table.h"
#include "profile/verify.h"
#include "store/config_store.h"
#include "util/result.h"

namespace tarvel::profile {

// Fmin/Fmax for Fahrenheit, Cmin/Cmax for Celsius of the Menu row with this caption (trailing
// blanks do not count); no value when the caption is not in the menu.
Result<std::optional<RangeLimits>> SensorRange(store::SensorMenu& menu, std::string_view caption,
                                               TemperatureScale scale);

}  // namespace tarvel::profile
