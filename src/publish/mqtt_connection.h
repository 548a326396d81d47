#pragma once
// publish: one client of an MQTT broker and the one thread of ours that keeps it connected --
// connects, reconnects with a growing pause, runs libmosquitto's network loop, and says each
// outage once. The publisher and web's MqttPlant are built on it. (libmosquitto 2.0's own loop
// gives up for good when the first connection is refused, so the retrying is ours.) Every hook
// runs on that thread; Subscribe and Publish are called from the hooks only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "publish/mqtt_publisher.h"
#include "util/result.h"

namespace tarvel::publish {

struct MqttHooks {
  std::function<void()> connected;  // the broker took us: subscribe here
  std::function<void(const std::string& topic, const std::string& payload, bool retained)> message;
  std::function<void(int mid)> delivered;  // the broker acknowledged a message
  std::function<void()> turn;              // each turn of the loop while connected
};

struct MqttWill {
  std::string topic, payload;
};

class MqttConnection {
 public:
  // clientKind names the client when the options give no id: tarvel[-KIND]-HOST-PID.
  MqttConnection(MqttOptions options, std::string clientKind);
  ~MqttConnection();
  MqttConnection(const MqttConnection&) = delete;
  MqttConnection& operator=(const MqttConnection&) = delete;

  // Sets the client up and starts the thread; fails for options that can never work (a TLS
  // file that cannot be read, a bad TLS version). A broker that is not there is no failure.
  Status Start(MqttHooks hooks, const std::optional<MqttWill>& will = std::nullopt);
  // Ends the thread, and disconnects cleanly when connected (the broker sends no last will).
  void Stop();
  bool Connected() const;
  // Connection lost, refused or made, one line each (on the connection's thread).
  void OnProblem(std::function<void(const std::string&)> listener);

  void Subscribe(const std::string& pattern, int qos);
  enum class Sent { Ok, NoConnection, Never };
  // QoS 1; mid: what delivered() will be told.
  Sent Publish(const std::string& topic, const std::string& payload, bool retain, int& mid);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvel::publish
