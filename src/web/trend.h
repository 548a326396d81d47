#pragma once
// web: the recent readings of every controller, for the trend of its page and the overview's
// sparkline -- a ring of the last readings per (line, channel), so memory stays flat however
// long the plant is watched. Thread-safe: readings come from the plant's threads, asks from the
// server's.

#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

namespace tarvel::web {

class Trends {
 public:
  explicit Trends(std::size_t kept = 720) : kept_(kept) {}
  // A status as the plant gives it (status JSON with "channel"; "line" when not this PC's own).
  void Take(const nlohmann::json& status);
  // [{"at", "processValue", "setPoint", "design", "bandLow", "bandHigh"}...], oldest first.
  nlohmann::json Of(const std::string& line, int channel) const;

 private:
  std::size_t kept_;
  mutable std::mutex mutex_;
  std::map<std::pair<std::string, int>, std::deque<nlohmann::json>> rings_;
};

}  // namespace tarvel::web
