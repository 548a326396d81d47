#pragma once
// publish: the line watch's readings and alarms on an MQTT broker, through libmosquitto -- the
// only place that includes it. Topics: PREFIX/CHANNEL/state (JSON, retained, QoS 1),
// PREFIX/CHANNEL/alarm (JSON, QoS 1), PREFIX/status ("online", and "offline" as the last will;
// retained). Read-only: nothing is subscribed to, so nothing received can reach a controller.
//
// Publishing never blocks the caller: a message goes to a queue of ours, and one thread of ours
// talks to the broker -- connects, reconnects with a growing pause, hands the queue to
// libmosquitto while connected and runs its network loop. (libmosquitto 2.0's own loop thread
// gives up for good when the first connection is refused.) While the broker is away the newest
// state of each channel and the alarms wait in the queue.
// Qt-free. Depends on watch (what is published) and util.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "util/result.h"
#include "watch/alarms.h"
#include "watch/channel_status.h"

namespace tarvel::publish {

// Where and how to connect; the TLS and credential options are mosquitto_pub's.
struct MqttOptions {
  std::string host = "localhost";
  int port = 1883;
  std::string prefix = "tarvel";
  bool tls = false;  // mqtts://, or any TLS option given
  std::string username, password;
  std::string cafile, capath, certfile, keyfile, tlsVersion;
  bool insecure = false;  // do not check the broker's host name against its certificate
  std::string clientId;   // empty: tarvel-<host name>-<process id>
  int keepalive = 60;
};

// mqtt://HOST[:PORT][/PREFIX] or mqtts://... (port 8883); the prefix may hold slashes and
// defaults to "tarvel".
Result<MqttOptions> ParseMqttUrl(std::string_view url);

std::string StateJson(const watch::ChannelStatus& status);
std::string AlarmJson(const watch::AlarmEvent& event);
std::string StateTopic(const MqttOptions& options, int channel);
std::string AlarmTopic(const MqttOptions& options, int channel);
std::string StatusTopic(const MqttOptions& options);

class MqttPublisher {
 public:
  explicit MqttPublisher(MqttOptions options);
  // Publishes "offline" to the status topic (a clean goodbye does not send the last will),
  // waits a little for what is queued, and disconnects.
  ~MqttPublisher();
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  // Sets the client up and starts connecting in the background. Fails for options that can
  // never work (a TLS file that cannot be read, a bad TLS version); a broker that is not
  // there is no failure: the publisher keeps trying.
  Status Start();
  void PublishState(const watch::ChannelStatus& status);
  void PublishAlarm(const watch::AlarmEvent& event);

  bool Connected() const;
  std::size_t Queued() const;  // waiting to be handed over or acknowledged
  // Waits until every queued message has been acknowledged by the broker, or timeout.
  bool Flush(std::chrono::milliseconds timeout);
  // Connection lost, refused or back, one line each (on libmosquitto's thread).
  void OnProblem(std::function<void(const std::string&)> listener);
  const MqttOptions& Options() const { return options_; }

 private:
  struct Impl;
  MqttOptions options_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvel::publish
