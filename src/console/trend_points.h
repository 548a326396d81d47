#pragma once
// console: the points of a live run trend, bounded on a run of any length. The most recent
// points are kept whole; when the bound is reached, every second point of the older part is
// dropped, so the further back, the sparser -- and the first point of the run always stays, and
// so does every gap between the legs of a run (RunPoint::breakBefore).
// Qt-free; the window draws Points().

#include <cstddef>
#include <vector>

#include "controller/run_recorder.h"

namespace tarvel::console {

class TrendPoints {
 public:
  // recent: points kept whole at the end; bound: the most ever held (more than recent).
  explicit TrendPoints(std::size_t recent = 2000, std::size_t bound = 4000);

  void Add(const controller::RunPoint& point);
  void Clear() { points_.clear(); }
  const std::vector<controller::RunPoint>& Points() const { return points_; }
  std::size_t Recent() const { return recent_; }
  std::size_t Bound() const { return bound_; }

 private:
  std::size_t recent_;
  std::size_t bound_;
  std::vector<controller::RunPoint> points_;
};

}  // namespace tarvel::console
