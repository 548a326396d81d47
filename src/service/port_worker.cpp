#include "service/port_worker.h"

#include <algorithm>

#include "service/status_json.h"
#include "store/config_store.h"
#include "watch/load_record.h"

namespace tarvel::service {

using json = nlohmann::json;

PortWorker::PortWorker(AppFolder folder, std::string device, PortOptions options, Emit emit)
    : folder_(std::move(folder)),
      device_(std::move(device)),
      options_(options),
      emit_(std::move(emit)),
      line_(options.timing),
      // A service that keeps trying: a hundred years stands for never.
      keeper_(line_, device_, options_.giveUpAfter.value_or(std::chrono::seconds(3'153'600'000)),
              [this](const std::string& text) { Say(text); }),
      thread_([this] { Loop(); }) {}

PortWorker::~PortWorker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
  line_.Close();
}

nlohmann::json PortWorker::State() const {
  std::lock_guard lock(mutex_);
  nlohmann::json state{{"port", device_}, {"state", state_}, {"channels", channels_}, {"sessions", sessions_.size()}};
  if (!why_.empty()) state["why"] = why_;
  return state;
}

bool PortWorker::Settled() const {
  std::lock_guard lock(mutex_);
  return settled_;
}

bool PortWorker::GaveUp() const {
  std::lock_guard lock(mutex_);
  return gaveUp_;
}

long long PortWorker::SweepsFinished() const {
  std::lock_guard lock(mutex_);
  return sweepsFinished_;
}

long long PortWorker::ClientExchanges() const {
  std::lock_guard lock(mutex_);
  return clientExchanges_;
}

void PortWorker::Say(const std::string& text) {
  if (options_.say) options_.say(text);
  emit_("message", {{"port", device_}, {"text", text}});
}

std::string PortWorker::OpenSession() {
  std::lock_guard lock(mutex_);
  // Unguessable enough for a socket only its user can reach; unique within the service's life.
  std::string lease =
      std::to_string(nextLease_++) + "-" + std::to_string(SteadyClock::now().time_since_epoch().count() % 1000003);
  sessions_.push_back({lease, SteadyClock::now()});
  emit_("session", {{"port", device_}, {"lease", lease}, {"opened", true}});
  return lease;
}

void PortWorker::EndSessionLocked(std::deque<Session>::iterator session, const char* why) {
  nlohmann::json ended{
      {"port", device_},
      {"lease", session->lease},
      {"opened", false},
      {"ended", why},
      {"exchanges", session->exchanges},
      {"failure",
       session->firstFailure == link::Outcome::Ok ? "" : std::string(link::Describe(session->firstFailure))}};
  const std::string lease = session->lease;
  sessions_.erase(session);
  // Exchanges still waiting in the session are not made: their client has gone.
  for (auto job = jobs_.begin(); job != jobs_.end();) {
    if (job->lease == lease) {
      job->done.set_value(std::nullopt);
      job = jobs_.erase(job);
    } else {
      ++job;
    }
  }
  emit_("session", std::move(ended));
  wake_.notify_all();
}

bool PortWorker::EndSession(const std::string& lease) {
  std::lock_guard lock(mutex_);
  auto session = std::find_if(sessions_.begin(), sessions_.end(), [&](const Session& s) { return s.lease == lease; });
  if (session == sessions_.end()) return false;
  EndSessionLocked(session, "closed");
  return true;
}

void PortWorker::ExpireSessions(SteadyClock::time_point now) {
  // Only the session holding the port runs out: the others have not had their turn yet. One
  // that has gone quiet gives way to one waiting (a console that holds its session for good
  // never keeps a command out); its next exchange opens another.
  if (sessions_.empty()) return;
  const auto quiet = now - sessions_.front().lastUse;
  if (quiet >= options_.leaseIdle)
    EndSessionLocked(sessions_.begin(), "idle");
  else if (sessions_.size() > 1 && quiet >= options_.sessionQuiet)
    EndSessionLocked(sessions_.begin(), "gave way");
}

std::optional<ExchangeResult> PortWorker::Run(const std::string& lease, const Exchange& exchange) {
  std::future<std::optional<ExchangeResult>> done;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return std::nullopt;
    if (!lease.empty()) {
      auto session =
          std::find_if(sessions_.begin(), sessions_.end(), [&](const Session& s) { return s.lease == lease; });
      if (session == sessions_.end()) return std::nullopt;
      session->lastUse = SteadyClock::now();  // a session waiting its turn is not idle
    }
    jobs_.push_back({lease, exchange, {}});
    done = jobs_.back().done.get_future();
  }
  wake_.notify_all();
  return done.get();
}

void PortWorker::SetState(std::string state, std::string why) {
  {
    std::lock_guard lock(mutex_);
    state_ = std::move(state);
    why_ = std::move(why);
    settled_ = true;
  }
  nlohmann::json event{{"port", device_}, {"state", state_}};
  if (!why_.empty()) event["why"] = why_;
  emit_("port", std::move(event));
}

void PortWorker::TendPort(watch::LineWatch& lineWatch) {
  if (everOpen_) {
    const auto away = keeper_.Tend();
    if (keeper_.GaveUp()) {
      SetState("given up", "Serial port " + device_ + " did not come back");
      std::lock_guard lock(mutex_);
      gaveUp_ = true;
    } else if (keeper_.Reopened()) {
      lineWatch.CommandCameBetween();  // the reading the lost port broke off starts again whole
      SetState("open");
    } else if (away.count() > 0) {
      nextTry_ = SteadyClock::now() + away;
      if (state_ != "reopening") SetState("reopening", "Serial port " + device_ + " lost, reopening");
    }
    return;
  }
  const auto now = SteadyClock::now();
  if (now < nextTry_) return;
  if (auto opened = line_.Open(device_); opened.ok()) {
    everOpen_ = true;
    SetState("open");
  } else if (options_.giveUpAfter) {
    // Run by hand: a port that cannot be opened is said at once, not retried.
    Say(device_ + ": " + opened.message);
    SetState("given up", opened.message);
    std::lock_guard lock(mutex_);
    gaveUp_ = true;
  } else {
    nextTry_ = now + pause_;
    SetState("reopening", opened.message + "; next try in " + std::to_string(pause_.count()) + " s");
    pause_ = std::min(pause_ * 2, kLongestPause);
  }
}

// The line watch's readings, alarms, sweeps, loads and lines, passed on as the port's events.
void PortWorker::EmitFrom(watch::LineWatch& lineWatch) {
  lineWatch.OnStatus([this](const watch::ChannelStatus& s) { emit_("reading", StatusJson(s, device_)); });
  lineWatch.OnAlarm([this](const watch::AlarmEvent& e) { emit_("alarm", AlarmJson(e, device_)); });
  lineWatch.OnSweep([this](const watch::SweepSummary& s) {
    {
      std::lock_guard lock(mutex_);
      channels_ = s.channels;
    }
    json zones = json::array();
    for (const watch::ZoneSpread& zone : s.zones)
      zones.push_back({{"zone", zone.zone},
                       {"channels", zone.channels},
                       {"low", zone.low ? json(*zone.low) : json()},
                       {"high", zone.high ? json(*zone.high) : json()},
                       {"spread", zone.Spread() ? json(*zone.Spread()) : json()},
                       {"running", zone.running}});
    emit_("sweep", {{"port", device_},
                    {"number", s.number},
                    {"took", std::chrono::duration<double>(s.took).count()},
                    {"period", std::chrono::duration<double>(s.period).count()},
                    {"saturated", s.saturated},
                    {"channels", s.channels},
                    {"zones", zones}});
  });
  lineWatch.OnLoad([this](const watch::LoadRecord& r) {
    json channels = json::array();
    for (const watch::LoadController& c : r.header.controllers) channels.push_back(c.channel);
    emit_("load", {{"port", device_},
                   {"id", r.header.loadId},
                   {"channels", channels},
                   {"result", r.close ? watch::ResultWord(*r.close) : ""}});
  });
  lineWatch.OnMessage([this](const std::string& text) { emit_("message", {{"port", device_}, {"text", text}}); });
}

// The next exchange whose turn it is: of the session holding the port, else one outside sessions.
// False when there is none; the line is the client's while it runs, unlocked.
bool PortWorker::RunNextJob(std::unique_lock<std::mutex>& lock, watch::LineWatch& lineWatch) {
  auto job = std::find_if(jobs_.begin(), jobs_.end(), [&](const Job& j) {
    return sessions_.empty() ? j.lease.empty() : j.lease == sessions_.front().lease;
  });
  if (job == jobs_.end()) return false;
  Job taken = std::move(*job);
  jobs_.erase(job);
  lock.unlock();
  const ExchangeResult result = service::Run(line_, taken.exchange);
  lineWatch.CommandCameBetween();
  lock.lock();
  ++clientExchanges_;
  auto session =
      std::find_if(sessions_.begin(), sessions_.end(), [&](const Session& s) { return s.lease == taken.lease; });
  if (session != sessions_.end()) {
    ++session->exchanges;
    session->lastUse = SteadyClock::now();
    session->firstFailure = link::Worst(session->firstFailure, result.outcome);
  }
  taken.done.set_value(result);
  return true;
}

void PortWorker::Loop() {
  store::ConfigStore store(folder_.ConfigDatabase());  // one connection per thread
  watch::LineWatch lineWatch(folder_, store, line_);
  lineWatch.Apply(options_.watch);
  lineWatch.ServeOnly(device_, options_.alsoUnported);
  EmitFrom(lineWatch);
  if (options_.watching) options_.watching(lineWatch, device_);

  std::unique_lock lock(mutex_);
  while (!stopping_) {
    ExpireSessions(SteadyClock::now());
    if (!gaveUp_ && (!line_.IsOpen() || line_.PortLost())) {
      lock.unlock();
      TendPort(lineWatch);
      lock.lock();
    }
    if (RunNextJob(lock, lineWatch)) continue;
    // A session that is exchanging keeps the line to itself, so its command pays no sweep
    // exchange between two of its own; one that has gone quiet (a verb waiting between readings)
    // lets the sweep go on until it asks again.
    if (!sessions_.empty()) {
      const auto quietFrom = sessions_.front().lastUse + options_.sessionQuiet;
      if (SteadyClock::now() < quietFrom) {
        wake_.wait_until(lock, quietFrom, [this] { return stopping_ || !jobs_.empty(); });
        continue;
      }
    }
    const bool swept = options_.sweeps > 0 && sweepsFinished_ >= options_.sweeps;
    if (!line_.IsOpen() || swept) {
      // Given up or swept enough: only clients' exchanges (failing on a closed port) from now on.
      if (gaveUp_ || swept)
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      else
        wake_.wait_until(lock, nextTry_, [this] { return stopping_ || !jobs_.empty(); });
      continue;
    }
    lock.unlock();
    const watch::SweepStep step = lineWatch.Step();
    lock.lock();
    sweepsFinished_ = lineWatch.SweepsFinished();
    if (!step.again) {
      auto until = SteadyClock::now() + step.wait;
      if (!sessions_.empty())
        until = std::min(
            until, sessions_.front().lastUse + (sessions_.size() > 1 ? options_.sessionQuiet : options_.leaseIdle));
      wake_.wait_until(lock, until, [this] { return stopping_ || !jobs_.empty(); });
    }
  }
  // Exchanges not made: their clients are told the service is going.
  for (Job& job : jobs_) job.done.set_value(std::nullopt);
  jobs_.clear();
}

ExchangeResult WorkerLine::Send(const Exchange& exchange) {
  auto result = worker_.Run(lease_, exchange);
  // The session ran out between two exchanges (a verb waiting between readings): the exchange
  // was not made, so it goes again in a new one.
  if (!result) {
    lease_ = worker_.OpenSession();
    result = worker_.Run(lease_, exchange);
  }
  return result ? *result : ExchangeResult{link::Outcome::PortError, {}};
}

}  // namespace tarvel::service
