#pragma once
// service: the web view's plant over this PC's line service -- the latest statuses, the
// alarms, zones and load records of its home, the service's event stream, and a ring of recent
// readings per controller for the trends. Its line is "" (this PC's own).

#include <functional>
#include <map>
#include <mutex>

#include "service/service.h"
#include "web/plant.h"
#include "web/trend.h"

namespace tarvel::service {

// A load's report as bytes: "pdf" or "csv" (tarvel-cli load report's code, given by the program).
using ReportMaker = std::function<Result<std::string>(const std::string& loadId, const std::string& format)>;

class ServicePlant final : public web::Plant {
 public:
  // Follows the service's events from now on; the service outlives it.
  ServicePlant(Service& service, ReportMaker reports);
  ~ServicePlant() override;

  nlohmann::json Controllers() const override;
  nlohmann::json Alarms() const override;
  nlohmann::json Zones() const override;
  nlohmann::json Loads() const override;
  nlohmann::json Trend(const std::string& line, int channel) const override;
  long long Since(long long after, std::vector<std::string>& events, std::chrono::milliseconds wait) override;
  Status Acknowledge(const std::string& line, int channel, const std::string& user) override;
  Result<std::string> Report(const std::string& line, const std::string& loadId, const std::string& format) override;

 private:
  void Take(const std::string& kind, const nlohmann::json& data);

  Service& service_;
  ReportMaker reports_;
  web::Trends trends_;
  mutable std::mutex mutex_;
  std::map<std::string, nlohmann::json> zones_;  // the latest spread of each zone, from the sweeps
};

}  // namespace tarvel::service
