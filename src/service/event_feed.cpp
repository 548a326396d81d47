#include "service/event_feed.h"

#include <httplib.h>

namespace tarvel::service {
namespace {

// More than this waiting means nobody takes them (the client's watch stopped): the oldest go.
constexpr std::size_t kKept = 4096;

link::Outcome OutcomeNamed(const std::string& text) {
  for (int o = static_cast<int>(link::Outcome::NotSent); o <= static_cast<int>(link::Outcome::Cancelled); ++o)
    if (link::Describe(static_cast<link::Outcome>(o)) == text) return static_cast<link::Outcome>(o);
  return link::Outcome::PortError;
}

template <class T>
link::Reply<T> Answered(link::Outcome outcome, const nlohmann::json& data, const char* field) {
  return {outcome, outcome == link::Outcome::Ok ? data.value(field, T{}) : T{}};
}

}  // namespace

std::optional<watch::SweepStep> ReadingOfEvent(const nlohmann::json& data) {
  if (!data.is_object() || !data.contains("channel") || !data.contains("address")) return std::nullopt;
  watch::SweepStep step;
  step.of = {data.value("channel", 0), data.value("address", 0), data.value("nickName", std::string())};
  const std::string failure = data.value("failure", std::string());
  const link::Outcome outcome = failure.empty() ? link::Outcome::Ok : OutcomeNamed(failure);
  controller::RunStateReading r;
  r.programLowStep = Answered<std::uint8_t>(outcome, data, "lowStep");
  r.programHighStep = Answered<std::uint8_t>(outcome, data, "highStep");
  r.currentStep = Answered<std::uint8_t>(outcome, data, "step");
  r.runMode = Answered<std::uint8_t>(outcome, data, "runMode");
  r.stepTime = Answered<std::uint16_t>(outcome, data, "stepTime");
  // The set point in force is the one sent: it stands for the program's and the single one.
  r.profileSetPoint = r.singleSetPoint = Answered<std::int16_t>(outcome, data, "setPoint");
  r.processValue = Answered<std::int16_t>(outcome, data, "processValue");
  r.relays.outcome = outcome;
  if (outcome == link::Outcome::Ok) {
    r.relays.value.relay1 = data.value("relay1", false) ? 1 : 0;
    r.relays.value.relay2 = data.value("relay2", false) ? 1 : 0;
  }
  step.reading = r;
  return step;
}

EventFeed::EventFeed(std::string socket) : socket_(std::move(socket)), thread_([this] { Follow(); }) {}

EventFeed::~EventFeed() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    if (client_) client_->stop();
  }
  stopped_.notify_all();
  thread_.join();
}

std::optional<watch::SweepStep> EventFeed::Next() {
  std::lock_guard lock(mutex_);
  if (steps_.empty()) return std::nullopt;
  watch::SweepStep step = std::move(steps_.front());
  steps_.pop_front();
  return step;
}

void EventFeed::Take(const std::string& kind, const std::string& data) {
  std::optional<watch::SweepStep> step;
  if (kind == "reading") {
    step = ReadingOfEvent(nlohmann::json::parse(data, nullptr, false));
  } else if (kind == "sweep") {
    const auto sweep = nlohmann::json::parse(data, nullptr, false);
    if (!sweep.is_object()) return;
    step.emplace();
    step->sweepEnded = true;
    const auto seconds = [&](const char* key) {
      return std::chrono::duration_cast<watch::SteadyClock::duration>(
          std::chrono::duration<double>(sweep.value(key, 0.0)));
    };
    step->number = sweep.value("number", 0LL);
    step->took = seconds("took");
    step->period = seconds("period");
    step->saturated = sweep.value("saturated", false);
  }
  if (!step) return;
  std::lock_guard lock(mutex_);
  steps_.push_back(std::move(*step));
  if (steps_.size() > kKept) steps_.pop_front();
}

void EventFeed::Follow() {
  while (!stopping_) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      client_ = std::make_unique<httplib::Client>(socket_, 80);
      client_->set_address_family(AF_UNIX);
      client_->set_read_timeout(std::chrono::seconds(5));  // the stream says it is still here each second
    }
    std::string buffer;
    client_->Get("/v1/events", [&](const char* data, std::size_t size) {
      buffer.append(data, size);
      // Events end with a blank line: "event: KIND\ndata: JSON\n\n" (comments start with ':').
      for (std::size_t end; (end = buffer.find("\n\n")) != std::string::npos; buffer.erase(0, end + 2)) {
        std::string kind, payload;
        const std::string event = buffer.substr(0, end);
        std::size_t at = 0;
        while (at <= event.size()) {
          const std::size_t eol = std::min(event.find('\n', at), event.size());
          const std::string line = event.substr(at, eol - at);
          if (line.starts_with("event: ")) kind = line.substr(7);
          if (line.starts_with("data: ")) payload = line.substr(6);
          at = eol + 1;
        }
        Take(kind, payload);
      }
      return !stopping_.load();
    });
    if (stopping_) break;
    std::unique_lock lock(mutex_);
    stopped_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_.load(); });
  }
}

}  // namespace tarvel::service
