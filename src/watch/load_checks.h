#pragma once
// watch: the checks of a load, each PASS or FAIL with its reason, and the load's result (PASS
// when every check passes). For each controller: the minutes out of band, the largest deviation
// above and below the design, the longest time between two of its samples against twice the
// sweep period, and readings lost during a hold. For each hold of the profile: the soak time,
// counted only while every controller of the load is in band (and its program runs; a stretch
// between two readings more than twice the sweep period apart counts as unknown), against the
// hold's time. For the load: every controller ran its program to the end, every required
// field was given. Deviation and band are those recorded with each sample. Qt-free.

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "watch/load_record.h"

namespace tarvel::watch {

struct LoadResult {
  std::vector<LoadCheck> checks;
  bool pass = false;
};

// The checks worked out sample by sample, so that a load under way keeps no samples: what each
// check needs is folded in as its sample comes (a sample out of band waits only for the next).
class LoadChecks {
 public:
  explicit LoadChecks(const LoadHeader& header);
  // In the record's order.
  void Add(const LoadSample& sample);
  // The checks of the samples added so far, with the record's header and events (its samples are
  // not read); until: as for CheckLoad.
  LoadResult Result(const LoadRecord& record, SystemClock::time_point until) const;

  using Span = std::pair<double, double>;  // on the profile's time axis

 private:
  struct Hold {
    int segment = 0;
    double from = 0, to = 0;  // on the profile's time axis
  };
  struct Channel {
    double above = 0, below = 0;  // seconds out of band
    bool banded = false, designed = false, outside = false;
    std::optional<std::pair<int, SystemClock::time_point>> highest, lowest;  // deviation, when
    double longest = 0;
    SystemClock::time_point longestFrom{}, last{};
    std::vector<std::vector<Span>> spans;  // per hold: where it soaked, merged
    int lostInHold = 0;
    std::string firstLoss;
    std::optional<LoadSample> good;              // the latest good sample
    std::optional<SystemClock::time_point> out;  // a good sample out of band, waiting for the next
  };
  static std::vector<Hold> HoldsOf(const LoadHeader& header);

  SystemClock::time_point opened_;
  double period_;
  std::vector<Hold> holds_;
  std::map<int, Channel> channels_;
};

// until: the end of the load; for a load under way, now (its checks are not final).
LoadResult CheckLoad(const LoadRecord& record, SystemClock::time_point until);

// A load's checks and result: those written at its close, or, for a load under way, worked out
// now (and not final).
LoadResult ResultOf(const LoadRecord& record, SystemClock::time_point now);

}  // namespace tarvel::watch
