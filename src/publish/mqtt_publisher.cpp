#include "publish/mqtt_publisher.h"

#include "util/text.h"

#include <mosquitto.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace tarvel::publish {
namespace {

constexpr std::size_t kQueueBound = 10000;  // beyond it the oldest messages go

struct Message {
  std::string topic;
  std::string payload;
  bool retain = false;
  bool latestOnly = false;  // a state: a newer one for the same topic replaces it in the queue
};

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string DefaultClientId() {
  char host[64] = "";
  gethostname(host, sizeof host - 1);
  return "tarvel-" + std::string(host) + "-" + std::to_string(getpid());
}

}  // namespace

struct MqttPublisher::Impl {
  mosquitto* mosq = nullptr;
  MqttOptions options;
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::deque<Message> queue;
  std::set<int> unacknowledged;
  bool socketUp = false;   // a connection is made or under way
  bool connected = false;  // the broker accepted it
  bool stopping = false;
  bool reportedDown = false;  // one line per outage, not one per try
  std::thread worker;
  std::function<void(const std::string&)> problem;
  std::string statusTopic;
  std::size_t delivered = 0;
  // What the broker holds of ours, to send again or clear.
  struct Channel {
    std::string availability;
    std::vector<Discovery> discovery;
    char temperatureScale = 0;
  };
  std::map<int, Channel> channels;  // published since Start
  std::set<int> retained;           // channels whose retained state the broker gave us
  std::set<std::string> zones;      // zone names published since Start, or retained at the broker (as topic levels)
  std::map<std::string, std::pair<std::vector<int>, std::set<std::string>>> sources;
  std::size_t expectedSources = 0;

  // Clears the retained topics of every channel no source maps, once all sources have spoken.
  // Under the lock.
  std::vector<Message> Stale() {
    std::vector<Message> clears;
    if (expectedSources == 0 || sources.size() < expectedSources) return clears;
    std::set<int> mapped;
    std::set<std::string> zoned;
    for (const auto& [source, has] : sources) {
      mapped.insert(has.first.begin(), has.first.end());
      for (const std::string& zone : has.second) zoned.insert(TopicLevel(zone));
    }
    for (auto zone = zones.begin(); zone != zones.end();) {
      if (zoned.contains(*zone)) {
        ++zone;
        continue;
      }
      const std::string at = options.prefix + "/zone/" + *zone;
      clears.push_back({at + "/state", "", true, true});
      clears.push_back({at + "/load", "", true, true});
      zone = zones.erase(zone);
    }
    std::set<int> known(retained);
    for (const auto& [channel, published] : channels) known.insert(channel);
    for (int channel : known) {
      if (mapped.contains(channel)) continue;
      watch::ChannelStatus gone;
      gone.id.channel = channel;
      for (const Discovery& d : DiscoveryOf(options, gone)) clears.push_back({d.topic, "", true, true});
      clears.push_back({StateTopic(options, channel), "", true, true});
      clears.push_back({AvailabilityTopic(options, channel), "", true, true});
      clears.push_back({LoadTopic(options, channel), "", true, true});
      channels.erase(channel);
      retained.erase(channel);
    }
    return clears;
  }

  void Report(const std::string& text) {
    std::function<void(const std::string&)> listener;
    {
      std::lock_guard lock(mutex);
      listener = problem;
    }
    if (listener) listener(text);
  }

  void Enqueue(Message message, bool front = false) {
    {
      std::lock_guard lock(mutex);
      if (message.latestOnly)
        std::erase_if(queue, [&](const Message& m) { return m.latestOnly && m.topic == message.topic; });
      if (queue.size() >= kQueueBound) queue.pop_front();
      if (front)
        queue.push_front(std::move(message));
      else
        queue.push_back(std::move(message));
    }
    changed.notify_all();
  }

  // The one thread that talks to the broker: connects, reconnects with a growing pause, hands
  // the queue over while connected, and runs libmosquitto's network loop (its callbacks run here).
  void Run() {
    auto pause = std::chrono::seconds(1);
    bool first = true;
    std::unique_lock lock(mutex);
    while (!stopping) {
      if (!socketUp) {
        lock.unlock();
        const int rc = first ? mosquitto_connect_async(mosq, options.host.c_str(), options.port, options.keepalive)
                             : mosquitto_reconnect_async(mosq);
        first = false;
        lock.lock();
        if (rc != MOSQ_ERR_SUCCESS) {
          const bool report = !reportedDown;
          reportedDown = true;
          if (report) {
            lock.unlock();
            Report("MQTT broker " + options.host + ":" + std::to_string(options.port) +
                   " not reached: " + mosquitto_strerror(rc) + "; retrying");
            lock.lock();
          }
          changed.wait_for(lock, pause, [&] { return stopping; });
          pause = std::min(pause * 2, std::chrono::seconds(30));
          continue;
        }
        socketUp = true;
      }
      while (connected && !queue.empty()) {
        Message message = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        int mid = 0;
        const int rc = mosquitto_publish(mosq, &mid, message.topic.c_str(), static_cast<int>(message.payload.size()),
                                         message.payload.data(), 1, message.retain);
        lock.lock();
        if (rc == MOSQ_ERR_SUCCESS) {
          unacknowledged.insert(mid);
        } else if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST) {
          queue.push_front(std::move(message));
          break;
        }  // anything else (a payload too large, ...) cannot succeed later either
      }
      lock.unlock();
      const int rc = mosquitto_loop(mosq, 50, 1);
      lock.lock();
      if (rc == MOSQ_ERR_SUCCESS) {
        if (connected) pause = std::chrono::seconds(1);
        continue;
      }
      const bool wasConnected = connected;
      socketUp = connected = false;
      changed.notify_all();
      if (wasConnected || !reportedDown) {
        // Never connected: a TLS handshake or a socket the broker closed fails here, not in connect.
        const std::string what =
            wasConnected ? "MQTT connection lost: "
                         : "MQTT connection to " + options.host + ":" + std::to_string(options.port) + " failed: ";
        reportedDown = true;
        lock.unlock();
        Report(what + (rc == MOSQ_ERR_TLS ? std::string("TLS handshake failed") : mosquitto_strerror(rc)) +
               "; retrying");
        lock.lock();
      }
      changed.wait_for(lock, pause, [&] { return stopping; });
      pause = std::min(pause * 2, std::chrono::seconds(30));
    }
  }
};

MqttPublisher::MqttPublisher(MqttOptions options) : options_(std::move(options)), impl_(std::make_unique<Impl>()) {
  impl_->statusTopic = StatusTopic(options_);
  impl_->options = options_;
}

MqttPublisher::~MqttPublisher() {
  if (!impl_->mosq) return;
  if (impl_->worker.joinable()) {
    impl_->Enqueue({impl_->statusTopic, "offline", true, true});
    Flush(std::chrono::seconds(2));
    {
      std::lock_guard lock(impl_->mutex);
      impl_->stopping = true;
    }
    impl_->changed.notify_all();
    impl_->worker.join();
    // A clean goodbye, so that the broker does not send the last will as well.
    if (impl_->connected) {
      mosquitto_disconnect(impl_->mosq);
      mosquitto_loop(impl_->mosq, 100, 1);
    }
  }
  mosquitto_destroy(impl_->mosq);
}

Status MqttPublisher::Start() {
  InitLibrary();
  const std::string id = options_.clientId.empty() ? DefaultClientId() : options_.clientId;
  impl_->mosq = mosquitto_new(id.c_str(), true, impl_.get());
  if (!impl_->mosq) return Status::Failed("MQTT: cannot create a client");
  mosquitto* m = impl_->mosq;
  mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  auto fail = [](const char* what, int rc) {
    return Status::Failed(std::string("MQTT ") + what + ": " + mosquitto_strerror(rc));
  };
  const std::string offline = "offline";
  if (int rc =
          mosquitto_will_set(m, impl_->statusTopic.c_str(), static_cast<int>(offline.size()), offline.data(), 1, true))
    return fail("last will", rc);
  if (!options_.username.empty()) {
    if (int rc = mosquitto_username_pw_set(m, options_.username.c_str(),
                                           options_.password.empty() ? nullptr : options_.password.c_str()))
      return fail("user name", rc);
  }
  const bool tls = options_.tls || !options_.cafile.empty() || !options_.capath.empty() || !options_.certfile.empty();
  if (tls) {
    auto text = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    // Without a CA of its own the system's trusted certificates check the broker.
    std::string capath = options_.capath;
    if (options_.cafile.empty() && capath.empty()) capath = "/etc/ssl/certs";
    if (int rc = mosquitto_tls_set(m, text(options_.cafile), text(capath), text(options_.certfile),
                                   text(options_.keyfile), nullptr))
      return fail("TLS files", rc);
    if (int rc = mosquitto_tls_opts_set(m, 1, text(options_.tlsVersion), nullptr)) return fail("TLS version", rc);
    if (options_.insecure) mosquitto_tls_insecure_set(m, true);
  }
  mosquitto_connect_callback_set(m, [](mosquitto*, void* data, int rc) {
    auto* impl = static_cast<Impl*>(data);
    if (rc != 0) {
      {
        std::lock_guard lock(impl->mutex);
        impl->reportedDown = true;  // the loop's own failure that follows is the same outage
      }
      impl->Report(std::string("MQTT broker refused the connection: ") + mosquitto_connack_string(rc));
      return;
    }
    impl->Enqueue({impl->statusTopic, "online", true, true}, true);
    const std::string states = impl->options.prefix + "/+/state";
    mosquitto_subscribe(impl->mosq, nullptr, states.c_str(), 0);
    mosquitto_subscribe(impl->mosq, nullptr, (impl->options.prefix + "/zone/+/state").c_str(), 0);
    if (!impl->options.discoveryPrefix.empty())
      mosquitto_subscribe(impl->mosq, nullptr, (impl->options.discoveryPrefix + "/status").c_str(), 0);
    {
      std::lock_guard lock(impl->mutex);
      impl->connected = true;
      impl->reportedDown = false;
      impl->unacknowledged.clear();  // a new session: nothing earlier will be acknowledged
    }
    impl->changed.notify_all();
    impl->Report("MQTT connected to " + impl->options.host + ":" + std::to_string(impl->options.port));
  });
  mosquitto_publish_callback_set(m, [](mosquitto*, void* data, int mid) {
    auto* impl = static_cast<Impl*>(data);
    {
      std::lock_guard lock(impl->mutex);
      impl->delivered += impl->unacknowledged.erase(mid);
    }
    impl->changed.notify_all();
  });
  mosquitto_message_callback_set(m, [](mosquitto*, void* data, const mosquitto_message* message) {
    auto* impl = static_cast<Impl*>(data);
    const std::string topic = message->topic;
    const std::string payload(static_cast<const char*>(message->payload),
                              static_cast<std::size_t>(message->payloadlen));
    std::vector<Message> out;
    {
      std::lock_guard lock(impl->mutex);
      if (topic == impl->options.discoveryPrefix + "/status") {
        // Home Assistant started anew: it has forgotten what it was told.
        if (payload == "online")
          for (const auto& [channel, known] : impl->channels) {
            for (const Discovery& d : known.discovery) out.push_back({d.topic, d.payload, true, true});
            if (!known.availability.empty())
              out.push_back({AvailabilityTopic(impl->options, channel), known.availability, true, true});
          }
      } else if (const std::string zones = impl->options.prefix + "/zone/";
                 message->retain && !payload.empty() && topic.starts_with(zones)) {
        impl->zones.insert(topic.substr(zones.size(), topic.size() - zones.size() - 6));
        out = impl->Stale();
      } else if (message->retain && !payload.empty()) {
        const std::string level =
            topic.substr(impl->options.prefix.size() + 1, topic.size() - impl->options.prefix.size() - 7);
        if (auto channel = ToWholeNumber(level, 0, 1'000'000)) impl->retained.insert(static_cast<int>(*channel));
        out = impl->Stale();
      }
    }
    for (Message& queued : out) impl->Enqueue(std::move(queued));
  });
  impl_->worker = std::thread([impl = impl_.get()] { impl->Run(); });
  return Status::Ok();
}

void MqttPublisher::PublishState(const watch::ChannelStatus& status) {
  std::vector<Message> out;
  {
    std::lock_guard lock(impl_->mutex);
    Impl::Channel& known = impl_->channels[status.id.channel];
    // Discovery again only when it changes (a new nickname, another unit).
    if (auto discovery = DiscoveryOf(options_, status); !discovery.empty()) {
      auto same = [](const Discovery& a, const Discovery& b) { return a.topic == b.topic && a.payload == b.payload; };
      if (!std::equal(discovery.begin(), discovery.end(), known.discovery.begin(), known.discovery.end(), same)) {
        for (const Discovery& d : discovery) out.push_back({d.topic, d.payload, true, true});
        known.discovery = std::move(discovery);
      }
    }
    out.push_back({StateTopic(options_, status.id.channel), StateJson(status), true, true});
    const std::string availability = status.state == watch::RunState::NoReply ? "offline" : "online";
    if (availability != known.availability)
      out.push_back({AvailabilityTopic(options_, status.id.channel), availability, true, true});
    known.availability = availability;
    if (status.temperatureScale) known.temperatureScale = status.temperatureScale;
  }
  for (Message& m : out) impl_->Enqueue(std::move(m));
}

void MqttPublisher::PublishZone(const watch::ZoneSpread& zone, watch::SystemClock::time_point at) {
  char scale = 0;
  {
    std::lock_guard lock(impl_->mutex);
    for (int channel : zone.channels)
      if (auto known = impl_->channels.find(channel); known != impl_->channels.end() && !scale)
        scale = known->second.temperatureScale;
  }
  {
    std::lock_guard lock(impl_->mutex);
    impl_->zones.insert(TopicLevel(zone.zone));
  }
  impl_->Enqueue({ZoneTopic(options_, zone.zone), ZoneJson(zone, at, scale), true, true});
}

void MqttPublisher::PublishLoad(const watch::LoadRecord& record) {
  const std::string json = LoadJson(record);
  if (!record.header.furnace.empty()) {
    {
      std::lock_guard lock(impl_->mutex);
      impl_->zones.insert(TopicLevel(record.header.furnace));
    }
    impl_->Enqueue({ZoneLoadTopic(options_, record.header.furnace), json, true, true});
  }
  for (const watch::LoadController& c : record.header.controllers)
    impl_->Enqueue({LoadTopic(options_, c.channel), json, true, true});
}

void MqttPublisher::MappedChannels(const std::string& source, const std::vector<int>& channels,
                                   const std::vector<std::string>& zones) {
  std::vector<Message> out;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->sources[source] = {channels, std::set<std::string>(zones.begin(), zones.end())};
    out = impl_->Stale();
  }
  for (Message& m : out) impl_->Enqueue(std::move(m));
}

void MqttPublisher::ExpectSources(std::size_t count) {
  std::vector<Message> out;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->expectedSources = count;
    out = impl_->Stale();
  }
  for (Message& m : out) impl_->Enqueue(std::move(m));
}

std::size_t MqttPublisher::Delivered() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->delivered;
}

void MqttPublisher::PublishAlarm(const watch::AlarmEvent& event) {
  impl_->Enqueue({AlarmTopic(options_, event.id.channel), AlarmJson(event), false, false});
}

bool MqttPublisher::Connected() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->connected;
}

std::size_t MqttPublisher::Queued() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->queue.size() + impl_->unacknowledged.size();
}

bool MqttPublisher::Flush(std::chrono::milliseconds timeout) {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return impl_->queue.empty() && impl_->unacknowledged.empty(); });
}

void MqttPublisher::OnProblem(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(impl_->mutex);
  impl_->problem = std::move(listener);
}

}  // namespace tarvel::publish
