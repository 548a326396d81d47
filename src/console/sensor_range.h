#pragma once
// console: the temperature range of a sensor type from the sensor menu database. It joins
// store and profile here so that profile depends on util only.

#include <filesystem>
#include <optional>
#include <string_view>

#include "profile/message_sink.h"
#include "profile/profile_table.h"
#include "profile/verify.h"
#include "store/config_store.h"
#include "util/result.h"

namespace tarvel::console {

// Fmin/Fmax for Fahrenheit, Cmin/Cmax for Celsius of the Menu row with this caption (trailing
// blanks do not count); no value when the caption is not in the menu.
Result<std::optional<profile::RangeLimits>> SensorRange(store::SensorMenu& menu, std::string_view caption,
                                                        profile::TemperatureScale scale);

// Every check a profile passes before tarvel-cli profile check calls it sound -- and before it is
// built, compiled or uploaded, which run this same function: the editor's verification against
// the range of its sensor in the sensor menu database (a sensor the menu lacks, or a menu that
// cannot be read, leaves it unverified) and the numbers a program step can hold. Its lines go
// to sink as profile check prints them; false when the profile is refused.
bool CheckProfile(const std::filesystem::path& sensorMenu, const profile::ProfileTable& table,
                  const profile::ProfileSettings& settings, profile::MessageSink& sink);

}  // namespace tarvel::console
