#include "publish/mqtt_publisher.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "publish/mqtt_connection.h"
#include "util/text.h"

namespace tarvel::publish {
namespace {

constexpr std::size_t kQueueBound = 10000;  // beyond it the oldest messages go

struct Message {
  std::string topic;
  std::string payload;
  bool retain = false;
  bool latestOnly = false;  // a state: a newer one for the same topic replaces it in the queue
};

}  // namespace

struct MqttPublisher::Impl {
  explicit Impl(const MqttOptions& o) : options(o), connection(o, "") {}
  MqttOptions options;
  MqttConnection connection;
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::deque<Message> queue;
  std::set<int> unacknowledged;
  bool started = false;
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

  // On the connection's thread, while connected: the queue to libmosquitto.
  void HandOver() {
    std::unique_lock lock(mutex);
    while (!queue.empty()) {
      Message message = std::move(queue.front());
      queue.pop_front();
      lock.unlock();
      int mid = 0;
      const auto sent = connection.Publish(message.topic, message.payload, message.retain, mid);
      lock.lock();
      if (sent == MqttConnection::Sent::Ok) {
        unacknowledged.insert(mid);
      } else if (sent == MqttConnection::Sent::NoConnection) {
        queue.push_front(std::move(message));
        break;
      }
    }
  }

  void Connected() {
    Enqueue({statusTopic, "online", true, true}, true);
    connection.Subscribe(options.prefix + "/+/state", 0);
    connection.Subscribe(options.prefix + "/zone/+/state", 0);
    if (!options.discoveryPrefix.empty()) connection.Subscribe(options.discoveryPrefix + "/status", 0);
    {
      std::lock_guard lock(mutex);
      unacknowledged.clear();  // a new session: nothing earlier will be acknowledged
    }
    changed.notify_all();
  }

  void Delivered(int mid) {
    {
      std::lock_guard lock(mutex);
      delivered += unacknowledged.erase(mid);
    }
    changed.notify_all();
  }

  // Our own retained states, to find what was removed while we were away, and Home Assistant's
  // birth message.
  void Take(const std::string& topic, const std::string& payload, bool retain) {
    std::vector<Message> out;
    {
      std::lock_guard lock(mutex);
      if (topic == options.discoveryPrefix + "/status") {
        // Home Assistant started anew: it has forgotten what it was told.
        if (payload == "online")
          for (const auto& [channel, known] : channels) {
            for (const Discovery& d : known.discovery) out.push_back({d.topic, d.payload, true, true});
            if (!known.availability.empty())
              out.push_back({AvailabilityTopic(options, channel), known.availability, true, true});
          }
      } else if (const std::string zoneTopics = options.prefix + "/zone/";
                 retain && !payload.empty() && topic.starts_with(zoneTopics)) {
        zones.insert(topic.substr(zoneTopics.size(), topic.size() - zoneTopics.size() - 6));
        out = Stale();
      } else if (retain && !payload.empty()) {
        const std::string level = topic.substr(options.prefix.size() + 1, topic.size() - options.prefix.size() - 7);
        if (auto channel = ToWholeNumber(level, 0, 1'000'000)) retained.insert(static_cast<int>(*channel));
        out = Stale();
      }
    }
    for (Message& queued : out) Enqueue(std::move(queued));
  }
};

MqttPublisher::MqttPublisher(MqttOptions options)
    : options_(std::move(options)), impl_(std::make_unique<Impl>(options_)) {
  impl_->statusTopic = StatusTopic(options_);
}

MqttPublisher::~MqttPublisher() {
  if (impl_->started) {
    impl_->Enqueue({impl_->statusTopic, "offline", true, true});
    Flush(std::chrono::seconds(2));
  }
  impl_->connection.Stop();  // a clean goodbye, so that the broker does not send the last will as well
}

Status MqttPublisher::Start() {
  Impl* impl = impl_.get();
  Status started = impl->connection.Start({.connected = [impl] { impl->Connected(); },
                                           .message = [impl](const std::string& topic, const std::string& payload,
                                                             bool retained) { impl->Take(topic, payload, retained); },
                                           .delivered = [impl](int mid) { impl->Delivered(mid); },
                                           .turn = [impl] { impl->HandOver(); }},
                                          MqttWill{impl->statusTopic, "offline"});
  impl->started = started.ok();
  return started;
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

bool MqttPublisher::Connected() const { return impl_->connection.Connected(); }

std::size_t MqttPublisher::Queued() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->queue.size() + impl_->unacknowledged.size();
}

bool MqttPublisher::Flush(std::chrono::milliseconds timeout) {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return impl_->queue.empty() && impl_->unacknowledged.empty(); });
}

void MqttPublisher::OnProblem(std::function<void(const std::string&)> listener) {
  impl_->connection.OnProblem(std::move(listener));
}

}  // namespace tarvel::publish
