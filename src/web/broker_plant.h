#pragma once
// web: the plant as its MQTT broker's topics tell it -- every line of every PC that publishes
// there, read back into the shapes the web view shows for this PC's own service. A line is a
// publisher's topic prefix: each PC publishes under its own (two PCs under one prefix would
// share channel 1, and each would clear the other's topics as removed channels), so the prefix
// is what tells the PCs apart. Lines are found under one or more roots: a publisher whose
// prefix is a root or lies below one is a line.
//
// Messages come in through Take (MqttPlant's connection, or a test); the web server's threads
// read. Nothing received reaches a controller: acknowledging and reports belong to the PC that
// owns the line. No connection here (mqtt_plant.h).

#include <memory>
#include <string>
#include <vector>

#include "web/plant.h"

namespace tarvel::web {

class BrokerPlant : public Plant {
 public:
  explicit BrokerPlant(std::vector<std::string> roots);
  ~BrokerPlant() override;

  nlohmann::json Controllers() const override;
  nlohmann::json Alarms() const override;
  nlohmann::json Zones() const override;
  nlohmann::json Loads() const override;
  long long Since(long long after, std::vector<std::string>& events, std::chrono::milliseconds wait) override;
  Status Acknowledge(const std::string& line, int channel, const std::string& user) override;
  Result<std::string> Report(const std::string& line, const std::string& loadId, const std::string& format) override;

  // What one message on the broker changes. An empty payload is a retained topic cleared.
  void Take(const std::string& topic, const std::string& payload);

 protected:
  const std::vector<std::string>& Roots() const;

 private:
  struct Topics;
  std::unique_ptr<Topics> topics_;
};

}  // namespace tarvel::web
