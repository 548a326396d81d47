#pragma once
// service: the line watch's values as the API and its event stream carry them.

#include <nlohmann/json.hpp>

#include "watch/alarms.h"
#include "watch/channel_status.h"

namespace tarvel::service {

nlohmann::json StatusJson(const watch::ChannelStatus& status, const std::string& port);
nlohmann::json AlarmJson(const watch::AlarmEvent& event, const std::string& port);

}  // namespace tarvel::service
