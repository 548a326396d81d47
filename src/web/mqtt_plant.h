#pragma once
// web: the plant as its MQTT broker carries it -- every line of every PC that publishes there,
// read back into the shapes the web view shows for this PC's own service. A line is a
// publisher's topic prefix: each PC publishes under its own (two PCs under one prefix would
// share channel 1, and each would clear the other's topics as removed channels), so the prefix
// is what tells the PCs apart. Lines are found under one or more roots: a publisher whose
// prefix is a root or lies below one is a line.
//
// One thread of ours talks to the broker (connects, reconnects with a growing pause) and writes
// what arrives; the web server's threads read. Nothing received reaches a controller, and
// nothing is published: acknowledging and reports belong to the PC that owns the line.
// libmosquitto is included by the .cpp alone.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "publish/mqtt_publisher.h"
#include "web/plant.h"

namespace tarvel::web {

class MqttPlant : public Plant {
 public:
  // options: the broker, as for publishing (TLS, login); its prefix is the first root.
  explicit MqttPlant(publish::MqttOptions options, std::vector<std::string> moreRoots = {});
  ~MqttPlant() override;
  MqttPlant(const MqttPlant&) = delete;
  MqttPlant& operator=(const MqttPlant&) = delete;

  // Starts connecting in the background; fails only for options that can never work.
  Status Start();
  bool Connected() const;
  // Connection lost, refused or made, one line each (on our broker thread).
  void OnProblem(std::function<void(const std::string&)> listener);

  nlohmann::json Controllers() const override;
  nlohmann::json Alarms() const override;
  nlohmann::json Zones() const override;
  nlohmann::json Loads() const override;
  long long Since(long long after, std::vector<std::string>& events, std::chrono::milliseconds wait) override;
  Status Acknowledge(const std::string& line, int channel, const std::string& user) override;
  Result<std::string> Report(const std::string& line, const std::string& loadId, const std::string& format) override;

  // What one message on the broker changes (called by the broker thread; open for tests of the
  // topic forms without a broker). An empty payload is a retained topic cleared.
  void Take(const std::string& topic, const std::string& payload);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvel::web
