#pragma once
// web: what the web view shows, wherever it comes from -- this PC's line service (the service's
// own statuses, alarms, zones and load records) or the plant's MQTT broker (every PC that
// publishes to it). The view asks through this and nothing else, so both feed the same pages.
// Qt-free.

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "util/result.h"

namespace tarvel::web {

class Plant {
 public:
  virtual ~Plant() = default;

  // Every controller known, each as the service's status JSON gives it (service/status_json.h),
  // with "line": which PC reads it ("" for this one's own).
  virtual nlohmann::json Controllers() const = 0;
  // Open alarms and those of the last day: line, port, channel, text, raised, cleared, ackedBy, acked.
  virtual nlohmann::json Alarms() const = 0;
  // Every zone with its members and spread, as the MQTT zone state carries it.
  virtual nlohmann::json Zones() const = 0;
  // Load records: line, id, channel, profile, start, end, result, and whether a report is here.
  virtual nlohmann::json Loads() const = 0;

  // The controller's recent readings, oldest first, as web::Trends keeps them (trend.h); none
  // where the plant keeps no history.
  virtual nlohmann::json Trend(const std::string& line, int channel) const {
    (void)line, (void)channel;
    return nlohmann::json::array();
  }

  // Server-Sent Event lines ("event: KIND\ndata: JSON\n\n") after number `after`, waiting up to
  // `wait` for one; the number of the last one given. Kinds as the service's /v1/events. With
  // `after` past the last, none is given and the last number comes back: where a new listener starts.
  virtual long long Since(long long after, std::vector<std::string>& events, std::chrono::milliseconds wait) = 0;

  // The alarm of a controller acknowledged in `user`'s name; why not, when it cannot be here
  // (a plant read from the broker does not own the line).
  virtual Status Acknowledge(const std::string& line, int channel, const std::string& user) = 0;
  // A load's report, "pdf" or "csv", as bytes; why not, when it is not kept here.
  virtual Result<std::string> Report(const std::string& line, const std::string& loadId, const std::string& format) = 0;
};

}  // namespace tarvel::web
