#pragma once
// The lines the fault campaign runs its commands over: a wire paced at 9600 baud; an unpaced
// line (a virtual null-modem pair, a buffering USB adapter, a serial server); an adapter that
// echoes every request; and a repeater that sends a quarter of the replies again 5, 20, 50, 100
// or 300 ms later, whenever that falls -- after the next request too, while the unit, waiting
// to answer that one, drops what comes meanwhile. Its duplicate and stale faults follow their
// reply after the same delay.

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/simulated_line.h"

namespace tarvel::bench {

struct LineKind {
  std::string name;
  int baud = 9600;  // 0: unpaced
  bool echo = false;
  int copyAfterMs = 20;      // of a duplicate or stale frame
  double repeatedShare = 0;  // of the replies a repeater sends again
  std::chrono::microseconds turnaround{1000};
};

inline std::vector<LineKind> AllLineKinds() {
  std::vector<LineKind> kinds{{"paced"}, {"unpaced", 0}, {"echoing", 9600, true}};
  // A unit that takes 10 ms to answer: a copy 5 ms after a reply lands before the next reply.
  for (int ms : {5, 20, 50, 100, 300})
    kinds.push_back({"duplicates-" + std::to_string(ms), 9600, false, ms, 0.25, std::chrono::milliseconds(10)});
  return kinds;
}

// "paced,duplicates-20" or "all": the kinds named, each once, in the order given.
inline std::optional<std::vector<LineKind>> ParseLineKinds(std::string_view list) {
  const auto all = AllLineKinds();
  if (list == "all") return all;
  std::vector<LineKind> chosen;
  for (std::size_t begin = 0; begin <= list.size();) {
    const std::size_t comma = std::min(list.find(',', begin), list.size());
    const std::string_view name = list.substr(begin, comma - begin);
    auto kind = std::find_if(all.begin(), all.end(), [&](const LineKind& k) { return k.name == name; });
    if (kind == all.end()) return std::nullopt;
    chosen.push_back(*kind);
    begin = comma + 1;
  }
  return chosen;
}

inline void ApplyLineKind(const LineKind& kind, sim::Options& options) {
  options.baud = kind.baud;
  options.echo = kind.echo;
  options.turnaround = kind.turnaround;
  options.secondFrameDelay = std::chrono::milliseconds(kind.copyAfterMs);
  if (kind.repeatedShare > 0) options.faultRates.push_back({sim::Fault::Duplicate, kind.repeatedShare});
}

}  // namespace tarvel::bench
