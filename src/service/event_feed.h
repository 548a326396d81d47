#pragma once
// service: the readings of the line service's sweep, for a client's own line watch (the console
// when the service serves its port). A thread of its own follows /v1/events on the service's
// socket, and the readings and sweep ends wait for the client's watch to take them: the
// controllers are read once, by the service, and the client shows what it read. A stream that
// breaks is followed again after a second. Qt-free; depends on watch.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "watch/sweep.h"

namespace httplib {
class Client;
}

namespace tarvel::service {

// A "reading" event's data as the watch's reading of that channel; nothing when it is no reading.
std::optional<watch::SweepStep> ReadingOfEvent(const nlohmann::json& data);

class EventFeed {
 public:
  explicit EventFeed(std::string socket);
  ~EventFeed();  // stops following
  EventFeed(const EventFeed&) = delete;
  EventFeed& operator=(const EventFeed&) = delete;

  // The next reading or sweep end, when one came; never waits.
  std::optional<watch::SweepStep> Next();

 private:
  void Follow();
  void Take(const std::string& kind, const std::string& data);

  std::string socket_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable stopped_;
  std::unique_ptr<httplib::Client> client_;  // the one following now, stopped from the destructor
  std::deque<watch::SweepStep> steps_;
  std::thread thread_;
};

}  // namespace tarvel::service
