#include "publish/mqtt_connection.h"

#include <mosquitto.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace tarvel::publish {

struct MqttConnection::Impl {
  MqttOptions options;
  std::string clientKind;
  MqttHooks hooks;
  mosquitto* mosq = nullptr;
  std::thread worker;
  mutable std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  bool socketUp = false;      // a connection is made or under way
  bool connected = false;     // the broker accepted it
  bool reportedDown = false;  // one line per outage, not one per try
  std::function<void(const std::string&)> problem;

  std::string Broker() const { return options.host + ":" + std::to_string(options.port); }

  void Report(const std::string& text) {
    std::function<void(const std::string&)> listener;
    {
      std::lock_guard lock(mutex);
      listener = problem;
    }
    if (listener) listener(text);
  }

  // Under the lock: waits the pause (unless stopped) and lengthens the next.
  void Pause(std::unique_lock<std::mutex>& lock, std::chrono::seconds& pause) {
    wake.wait_for(lock, pause, [&] { return stopping; });
    pause = std::min(pause * 2, std::chrono::seconds(30));
  }

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
          if (!reportedDown) {
            reportedDown = true;
            lock.unlock();
            Report("MQTT broker " + Broker() + " not reached: " + mosquitto_strerror(rc) + "; retrying");
            lock.lock();
          }
          Pause(lock, pause);
          continue;
        }
        socketUp = true;
      }
      lock.unlock();
      if (connected && hooks.turn) hooks.turn();  // connected changes on this thread alone
      const int rc = mosquitto_loop(mosq, 50, 1);
      lock.lock();
      if (rc == MOSQ_ERR_SUCCESS) {
        if (connected) pause = std::chrono::seconds(1);
        continue;
      }
      const bool wasConnected = connected;
      socketUp = connected = false;
      if (wasConnected || !reportedDown) {
        // Never connected: a TLS handshake or a socket the broker closed fails here, not in connect.
        const std::string what =
            wasConnected ? "MQTT connection lost: " : "MQTT connection to " + Broker() + " failed: ";
        reportedDown = true;
        lock.unlock();
        Report(what + (rc == MOSQ_ERR_TLS ? std::string("TLS handshake failed") : mosquitto_strerror(rc)) +
               "; retrying");
        lock.lock();
      }
      Pause(lock, pause);
    }
  }
};

MqttConnection::MqttConnection(MqttOptions options, std::string clientKind) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->clientKind = std::move(clientKind);
}

MqttConnection::~MqttConnection() {
  Stop();
  if (impl_->mosq) mosquitto_destroy(impl_->mosq);
}

Status MqttConnection::Start(MqttHooks hooks, const std::optional<MqttWill>& will) {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
  const MqttOptions& o = impl_->options;
  std::string id = o.clientId;
  if (id.empty()) {
    char host[64] = "";
    gethostname(host, sizeof host - 1);
    id = "tarvel-" + (impl_->clientKind.empty() ? "" : impl_->clientKind + "-") + host + "-" + std::to_string(getpid());
  }
  impl_->hooks = std::move(hooks);
  impl_->mosq = mosquitto_new(id.c_str(), true, impl_.get());
  if (!impl_->mosq) return Status::Failed("MQTT: cannot create a client");
  mosquitto* m = impl_->mosq;
  mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  auto fail = [](const char* what, int rc) {
    return Status::Failed(std::string("MQTT ") + what + ": " + mosquitto_strerror(rc));
  };
  if (will)
    if (int rc = mosquitto_will_set(m, will->topic.c_str(), static_cast<int>(will->payload.size()),
                                    will->payload.data(), 1, true))
      return fail("last will", rc);
  if (!o.username.empty())
    if (int rc = mosquitto_username_pw_set(m, o.username.c_str(), o.password.empty() ? nullptr : o.password.c_str()))
      return fail("user name", rc);
  if (o.tls || !o.cafile.empty() || !o.capath.empty() || !o.certfile.empty()) {
    auto text = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    // Without a CA of its own the system's trusted certificates check the broker.
    std::string capath = o.capath;
    if (o.cafile.empty() && capath.empty()) capath = "/etc/ssl/certs";
    if (int rc = mosquitto_tls_set(m, text(o.cafile), text(capath), text(o.certfile), text(o.keyfile), nullptr))
      return fail("TLS files", rc);
    if (int rc = mosquitto_tls_opts_set(m, 1, text(o.tlsVersion), nullptr)) return fail("TLS version", rc);
    if (o.insecure) mosquitto_tls_insecure_set(m, true);
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
    if (impl->hooks.connected) impl->hooks.connected();
    {
      std::lock_guard lock(impl->mutex);
      impl->connected = true;
      impl->reportedDown = false;
    }
    impl->Report("MQTT connected to " + impl->Broker());
  });
  mosquitto_publish_callback_set(m, [](mosquitto*, void* data, int mid) {
    if (auto& delivered = static_cast<Impl*>(data)->hooks.delivered) delivered(mid);
  });
  mosquitto_message_callback_set(m, [](mosquitto*, void* data, const mosquitto_message* message) {
    if (auto& take = static_cast<Impl*>(data)->hooks.message)
      take(message->topic,
           std::string(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen)),
           message->retain);
  });
  impl_->worker = std::thread([impl = impl_.get()] { impl->Run(); });
  return Status::Ok();
}

void MqttConnection::Stop() {
  if (!impl_->worker.joinable()) return;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->wake.notify_all();
  impl_->worker.join();
  if (impl_->connected) {
    mosquitto_disconnect(impl_->mosq);
    mosquitto_loop(impl_->mosq, 100, 1);
  }
  impl_->connected = false;
}

bool MqttConnection::Connected() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->connected;
}

void MqttConnection::OnProblem(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(impl_->mutex);
  impl_->problem = std::move(listener);
}

void MqttConnection::Subscribe(const std::string& pattern, int qos) {
  mosquitto_subscribe(impl_->mosq, nullptr, pattern.c_str(), qos);
}

MqttConnection::Sent MqttConnection::Publish(const std::string& topic, const std::string& payload, bool retain,
                                             int& mid) {
  const int rc =
      mosquitto_publish(impl_->mosq, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
  if (rc == MOSQ_ERR_SUCCESS) return Sent::Ok;
  // Anything else (a payload too large, ...) cannot succeed later either.
  return rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST ? Sent::NoConnection : Sent::Never;
}

}  // namespace tarvel::publish
