#pragma once
// publish: the line watch's readings and alarms on an MQTT broker, through libmosquitto (included
// here and by web's MqttPlant alone). Topics: PREFIX/CHANNEL/state (JSON, retained, QoS 1),
// PREFIX/CHANNEL/availability ("online" while the controller answers, else "offline"; retained),
// PREFIX/CHANNEL/alarm (JSON, QoS 1), PREFIX/CHANNEL/load and PREFIX/zone/ZONE/load (the
// latest load, JSON, retained), PREFIX/zone/ZONE/state (JSON, retained), PREFIX/status
// ("online", and "offline" as the last will; retained), and Home Assistant's discovery configs
// under DISCOVERY/.../config (retained). A channel no longer mapped, or a zone no longer there,
// has its retained topics cleared. Subscribed to: our own retained states, of channels and zones
// (to find those removed while we were away) and Home Assistant's birth message (to send discovery again); nothing
// received can reach a controller.
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
#include <vector>

#include "util/result.h"
#include "watch/alarms.h"
#include "watch/channel_status.h"
#include "watch/load_record.h"
#include "watch/zones.h"

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
  std::string discoveryPrefix = "homeassistant";  // Home Assistant's; empty: no discovery
};

// mqtt://HOST[:PORT][/PREFIX] or mqtts://... (port 8883); the prefix may hold slashes and
// defaults to "tarvel".
Result<MqttOptions> ParseMqttUrl(std::string_view url);

std::string StateJson(const watch::ChannelStatus& status);
std::string AlarmJson(const watch::AlarmEvent& event);
std::string LoadJson(const watch::LoadRecord& record);
// temperatureScale: 'F' or 'C' of the zone's members; 0 when not known.
std::string ZoneJson(const watch::ZoneSpread& zone, watch::SystemClock::time_point at, char temperatureScale);
struct Discovery {
  std::string topic, payload;
};
// Home Assistant's config for each of the channel's entities: process value, set point,
// deviation, step, state and alarm, one device per controller.
std::vector<Discovery> DiscoveryOf(const MqttOptions& options, const watch::ChannelStatus& status);
std::string AvailabilityTopic(const MqttOptions& options, int channel);
std::string ZoneTopic(const MqttOptions& options, std::string_view zone);
std::string ZoneLoadTopic(const MqttOptions& options, std::string_view zone);
std::string LoadTopic(const MqttOptions& options, int channel);
// Text as UTF-8: valid UTF-8 is kept, anything else read as Latin-1 (the 8-bit names of the store).
std::string Utf8(std::string_view text);
// A topic level from a user's name: MQTT wildcards and the level separator cannot be in it.
std::string TopicLevel(std::string_view name);
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
  // In the unit of its members' profiles.
  void PublishZone(const watch::ZoneSpread& zone, watch::SystemClock::time_point at);
  // On the topic of each of its controllers, and of its zone.
  void PublishLoad(const watch::LoadRecord& record);
  // The channels and zones one source (a port's watch) has now. Once every expected source has
  // told them, the retained topics of any other channel or zone of the prefix are cleared.
  void MappedChannels(const std::string& source, const std::vector<int>& channels,
                      const std::vector<std::string>& zones = {});
  void ExpectSources(std::size_t count);

  bool Connected() const;
  std::size_t Queued() const;     // waiting to be handed over or acknowledged
  std::size_t Delivered() const;  // acknowledged by the broker since Start
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
