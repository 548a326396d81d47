#include "web/trend.h"

namespace tarvel::web {

void Trends::Take(const nlohmann::json& status) {
  if (!status.is_object() || !status.contains("channel") || !status["channel"].is_number_integer()) return;
  nlohmann::json point = nlohmann::json::object();
  for (const char* field : {"at", "processValue", "setPoint", "design", "bandLow", "bandHigh"})
    point[field] = status.value(field, nlohmann::json(nullptr));
  // A failed reading holds no value: the trend shows a gap, not the last good one again.
  if (!status.value("failure", std::string()).empty()) point["processValue"] = point["setPoint"] = nullptr;
  std::lock_guard lock(mutex_);
  auto& ring = rings_[{status.value("line", std::string()), status["channel"].get<int>()}];
  ring.push_back(std::move(point));
  while (ring.size() > kept_) ring.pop_front();
}

nlohmann::json Trends::Of(const std::string& line, int channel) const {
  std::lock_guard lock(mutex_);
  nlohmann::json points = nlohmann::json::array();
  if (auto ring = rings_.find({line, channel}); ring != rings_.end())
    for (const auto& point : ring->second) points.push_back(point);
  return points;
}

}  // namespace tarvel::web
