#include "web/mqtt_plant.h"

namespace tarvel::web {
namespace {

std::vector<std::string> First(std::string root, std::vector<std::string> more) {
  more.insert(more.begin(), std::move(root));
  return more;
}

}  // namespace

MqttPlant::MqttPlant(publish::MqttOptions options, std::vector<std::string> moreRoots)
    : BrokerPlant(First(options.prefix, std::move(moreRoots))), connection_(std::move(options), "plant") {}

Status MqttPlant::Start() {
  publish::MqttHooks hooks;
  hooks.connected = [this] {
    for (const std::string& root : Roots()) connection_.Subscribe(root + "/#", 1);
  };
  hooks.message = [this](const std::string& topic, const std::string& payload, bool) { Take(topic, payload); };
  return connection_.Start(std::move(hooks));
}

}  // namespace tarvel::web
