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

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "web/plant.h"

namespace tarvel::web {

class BrokerPlant : public Plant {
 public:
  explicit BrokerPlant(std::vector<std::string> roots);

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
  const std::vector<std::string>& Roots() const { return roots_; }

 private:
  struct Controller {
    nlohmann::json state;
    bool available = true;
  };
  using Key = std::pair<std::string, int>;  // line, channel
  struct Alarm {
    nlohmann::json row;
    std::string kind;
    std::chrono::system_clock::time_point clearedSeen{};
  };

  // Each under the lock.
  void Emit(const std::string& kind, const nlohmann::json& data);
  bool LineOnline(const std::string& line) const;
  nlohmann::json StatusJson(const Key& key, const Controller& c) const;
  void Prune();
  Alarm* OpenAlarm(const std::string& line, int channel, const std::string& kind);
  void CloseAlarms(const std::string& line, int channel, const nlohmann::json& at);
  bool IsControllerState(const std::vector<std::string>& levels, const std::string& payload) const;
  void TakeState(const std::string& line, int channel, const std::string& payload);
  void TakeAvailability(const std::string& line, int channel, const std::string& payload);
  void TakeLine(const std::string& line, const std::string& payload);
  void TakeAlarm(const std::string& line, int channel, const std::string& payload);
  void TakeZone(const std::string& line, const std::string& zone, const std::string& payload);
  void TakeLoad(const std::string& line, const std::string& topic, const std::string& payload);

  const std::vector<std::string> roots_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<Key, Controller> controllers_;
  std::map<std::string, bool> lines_;                                    // line -> its PC online (the status topic)
  std::map<std::pair<std::string, std::string>, nlohmann::json> zones_;  // line, zone level -> zone state
  std::map<std::string, nlohmann::json> loadTopics_;                     // topic -> the load it holds now
  std::deque<nlohmann::json> loads_;                                     // every load seen, newest last
  std::deque<Alarm> alarms_;
  std::deque<std::pair<long long, std::string>> events_;
  long long last_ = 0;
};

}  // namespace tarvel::web
