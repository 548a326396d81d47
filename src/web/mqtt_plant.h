#pragma once
// web: the plant read from its MQTT broker (broker_plant.h) over a connection of ours that
// subscribes to the roots' topics and keeps reconnecting (publish/mqtt_connection.h). Nothing is
// published.

#include <functional>
#include <string>
#include <vector>

#include "publish/mqtt_connection.h"
#include "web/broker_plant.h"

namespace tarvel::web {

class MqttPlant : public BrokerPlant {
 public:
  // options: the broker, as for publishing (TLS, login); its prefix is the first root.
  explicit MqttPlant(publish::MqttOptions options, std::vector<std::string> moreRoots = {});

  // Starts connecting in the background; fails only for options that can never work.
  Status Start();
  // Connection lost, refused or made, one line each (on the connection's thread).
  void OnProblem(std::function<void(const std::string&)> listener) { connection_.OnProblem(std::move(listener)); }

 private:
  publish::MqttConnection connection_;
};

}  // namespace tarvel::web
