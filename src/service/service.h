#pragma once
// service: the line service of one home. It holds the home (a lock: one service per home), starts
// a PortWorker for every port of the channel map, keeps the latest status of every channel and
// fans the workers' events out to every listener of the event stream.
// Qt-free; depends on watch, store and link.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <variant>
#include <vector>

#include "service/port_worker.h"
#include "util/app_folder.h"

namespace tarvel::service {

inline constexpr int kExitRefused = 1;  // another service holds the home, or the home cannot be used
inline constexpr int kExitConfig = 2;   // a configuration the service cannot use

// Where the service of a home listens: $XDG_RUNTIME_DIR/tarvel/line-HASH.sock (HASH: of the
// home's canonical path), or line.sock in the home when there is no runtime folder.
std::filesystem::path SocketPath(const AppFolder& folder);

// Server-Sent Events, kept for listeners that read more slowly than they come.
class EventHub {
 public:
  void Publish(const std::string& kind, const nlohmann::json& data);
  long long Last() const;
  // The events after `after`, waiting up to `wait` for one; the number of the last one given.
  long long Since(long long after, std::vector<std::string>& events, std::chrono::milliseconds wait);
  void Close();
  bool Closed() const;

 private:
  static constexpr std::size_t kKept = 4096;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<long long, std::string>> events_;
  long long last_ = 0;
  bool closed_ = false;
};

class Service {
 public:
  struct Refusal {
    int exitCode = kExitConfig;
    std::string message;
  };
  // Takes the home and opens every port of its channel map (each on its own thread), or only
  // the ports given (a watch on one port given by hand).
  static std::variant<std::unique_ptr<Service>, Refusal> Start(const AppFolder& folder, const PortOptions& options,
                                                               const std::vector<std::string>& only = {});
  ~Service();  // ports closed, the home let go

  // {"home", "pid", "socket", "ports": [{"port", "state", "channels", ...}]}
  nlohmann::json Info() const;
  // The latest status of every channel read so far, in channel order.
  nlohmann::json Channels() const;
  // The worker of a port, by its path as mapped, by its device, or by its last path component.
  PortWorker* Port(const std::string& name);
  const std::vector<std::unique_ptr<PortWorker>>& Ports() const { return workers_; }
  bool AllSettled() const;
  bool AnyGaveUp() const;
  // The sweeps every port has finished (the fewest of any).
  long long SweepsFinished() const;
  EventHub& Events() { return events_; }
  // Every event as it is published too (the web view's plant keeps its trends so); {} ends it.
  void Tap(std::function<void(const std::string& kind, const nlohmann::json& data)> tap);
  const AppFolder& Folder() const { return folder_; }

 private:
  Service(AppFolder folder, int lockFd) : folder_(std::move(folder)), lockFd_(lockFd) {}
  void Take(const std::string& kind, nlohmann::json data);
  void Open(const PortOptions& options, const std::vector<std::string>& ports);

  AppFolder folder_;
  int lockFd_;
  EventHub events_;
  mutable std::mutex mutex_;
  std::map<int, nlohmann::json> statuses_;
  std::function<void(const std::string&, const nlohmann::json&)> tap_;
  std::vector<std::unique_ptr<PortWorker>> workers_;
};

}  // namespace tarvel::service
