#include "publish/mqtt_publisher.h"

#include <mosquitto.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
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
  bool socketUp = false;  // a connection is made or under way
  bool connected = false;  // the broker accepted it
  bool stopping = false;
  bool reportedDown = false;  // one line per outage, not one per try
  std::thread worker;
  std::function<void(const std::string&)> problem;
  std::string statusTopic;

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
            Report("MQTT broker " + options.host + ":" + std::to_string(options.port) + " not reached: " +
                   mosquitto_strerror(rc) + "; retrying");
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
      if (wasConnected) {
        reportedDown = true;
        lock.unlock();
        Report(std::string("MQTT connection lost: ") + mosquitto_strerror(rc) + "; reconnecting");
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
  if (int rc = mosquitto_will_set(m, impl_->statusTopic.c_str(), static_cast<int>(offline.size()), offline.data(), 1, true))
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
      impl->Report(std::string("MQTT broker refused the connection: ") + mosquitto_connack_string(rc));
      return;
    }
    impl->Enqueue({impl->statusTopic, "online", true, true}, true);
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
      impl->unacknowledged.erase(mid);
    }
    impl->changed.notify_all();
  });
  impl_->worker = std::thread([impl = impl_.get()] { impl->Run(); });
  return Status::Ok();
}

void MqttPublisher::PublishState(const watch::ChannelStatus& status) {
  impl_->Enqueue({StateTopic(options_, status.id.channel), StateJson(status), true, true});
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
  return impl_->changed.wait_for(lock, timeout,
                                 [&] { return impl_->queue.empty() && impl_->unacknowledged.empty(); });
}

void MqttPublisher::OnProblem(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(impl_->mutex);
  impl_->problem = std::move(listener);
}

}  // namespace tarvel::publish
