#pragma once
// service: the owner of one serial port. Its own thread opens the port (the one-owner hold of
// link), sweeps the channels mapped to it with a LineWatch of its own, and serves client
// exchanges between two exchanges of the sweep: a client waits at most for the exchange in
// progress. A client session holds the port for its exchanges -- other sessions wait until it
// ends (DELETE, or 10 s without a request), the sweep while it is exchanging. A port that fails or
// vanishes is reopened by the watch's PortKeeper, after a pause growing from 1 s to 30 s; other
// ports never wait for it. Qt-free; depends on watch, store and link.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "link/modbus_rtu_line.h"
#include "service/exchange.h"
#include "util/app_folder.h"
#include "watch/line_watch.h"
#include "watch/port_keeper.h"

namespace tarvel::service {

// What the worker passes on: a kind ("reading", "alarm", "sweep", "port", "session", "message")
// and its JSON. Called on the worker's thread; must not block.
using Emit = std::function<void(const std::string& kind, nlohmann::json data)>;

struct PortOptions {
  watch::WatchSettings watch;
  link::LineTiming timing;
  std::chrono::milliseconds leaseIdle{10000};   // a session without a request this long ends
  std::chrono::milliseconds sessionQuiet{500};  // ... and this long lets the sweep go on meanwhile
  long long sweeps = 0;                         // sweeping stops after this many (a watch with --count); 0: never
  // A port away this long is given up (a foreground watch: then a first open that fails gives up
  // at once, too); never when empty -- a service keeps trying and keeps its other ports.
  std::optional<std::chrono::seconds> giveUpAfter;
  bool alsoUnported = false;  // sweeps the channels mapped to no port as well (one port given by hand)
  // Called on the worker's thread with its LineWatch before the first sweep: a front end's
  // listeners (printing, MQTT) hear every reading there. They must not block.
  std::function<void(watch::LineWatch&, const std::string& device)> watching;
  // The worker's own lines (port lost, reopened, given up, refused), as they are said.
  std::function<void(const std::string& text)> say;
};

class PortWorker {
 public:
  using SteadyClock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kFirstPause{1}, kLongestPause{30};

  PortWorker(AppFolder folder, std::string device, PortOptions options, Emit emit);
  ~PortWorker();  // stops the sweep after the exchange in progress, closes the port
  PortWorker(const PortWorker&) = delete;
  PortWorker& operator=(const PortWorker&) = delete;

  const std::string& Device() const { return device_; }
  // "opening", "open", "reopening" (with why) -- and the channels it sweeps.
  nlohmann::json State() const;
  // Opened, or failed at least once (and being retried): what READY waits for.
  bool Settled() const;
  bool GaveUp() const;
  long long SweepsFinished() const;
  // Clients' exchanges made on this port so far (the sweep's own not counted).
  long long ClientExchanges() const;

  // A new session's lease. It waits its turn behind the sessions opened before it.
  std::string OpenSession();
  // False when there is no such session.
  bool EndSession(const std::string& lease);
  // One exchange on this port's line, within lease (empty: between sessions). Nothing when the
  // lease is unknown or ran out.
  std::optional<ExchangeResult> Run(const std::string& lease, const Exchange& exchange);

 private:
  struct Job {
    std::string lease;
    Exchange exchange;
    std::promise<std::optional<ExchangeResult>> done;
  };
  struct Session {
    std::string lease;
    SteadyClock::time_point lastUse;
    long long exchanges = 0;
    link::Outcome firstFailure = link::Outcome::Ok;
  };

  void Loop();
  void EmitFrom(watch::LineWatch& lineWatch);
  bool RunNextJob(std::unique_lock<std::mutex>& lock, watch::LineWatch& lineWatch);  // under the lock
  void TendPort(watch::LineWatch& lineWatch);
  void ExpireSessions(SteadyClock::time_point now);
  void EndSessionLocked(std::deque<Session>::iterator session, const char* why);
  void SetState(std::string state, std::string why = {});
  void Say(const std::string& text);

  AppFolder folder_;
  std::string device_;
  PortOptions options_;
  Emit emit_;
  link::ModbusRtuLine line_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::deque<Job> jobs_;
  std::deque<Session> sessions_;  // the front one holds the port
  long long nextLease_ = 1;
  std::string state_ = "opening", why_;
  bool settled_ = false;
  std::vector<int> channels_;

  bool gaveUp_ = false;
  long long sweepsFinished_ = 0;
  long long clientExchanges_ = 0;
  watch::PortKeeper keeper_;
  bool everOpen_ = false;  // the keeper tends a port that was open; the first opening is ours
  SteadyClock::time_point nextTry_{};
  std::chrono::seconds pause_ = kFirstPause;
  std::thread thread_;
};

// A line of this process through a port's worker, in a session of its own: a workflow the
// service runs for a request.
class WorkerLine final : public ExchangeLine {
 public:
  explicit WorkerLine(PortWorker& worker) : worker_(worker), lease_(worker.OpenSession()) {}
  ~WorkerLine() override { worker_.EndSession(lease_); }
  WorkerLine(const WorkerLine&) = delete;
  WorkerLine& operator=(const WorkerLine&) = delete;

 private:
  ExchangeResult Send(const Exchange& exchange) override;

  PortWorker& worker_;
  std::string lease_;
};

}  // namespace tarvel::service
