#pragma once
// watch: the checks of a load, each PASS or FAIL with its reason, and the load's result (PASS
// when every check passes). For each controller: the minutes out of band, the largest deviation
// above and below the design, the longest time between two of its samples against twice the
// sweep period, and readings lost during a hold. For each hold of the profile: the soak time,
// counted only while every controller of the load is in band (and its program runs; a stretch
// between two readings more than twice the sweep period apart counts as unknown), against the
// hold's time. For the load: every controller ran its program to the end, every required
// field was given. Deviation and band are those recorded with each sample. Qt-free.

#include <vector>

#include "watch/load_record.h"

namespace tarvel::watch {

struct LoadResult {
  std::vector<LoadCheck> checks;
  bool pass = false;
};

// until: the end of the load; for a load under way, now (its checks are not final).
LoadResult CheckLoad(const LoadRecord& record, SystemClock::time_point until);

// A load's checks and result: those written at its close, or, for a load under way, worked out
// now (and not final).
LoadResult ResultOf(const LoadRecord& record, SystemClock::time_point now);

}  // namespace tarvel::watch
