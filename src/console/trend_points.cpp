#include "console/trend_points.h"

#include <algorithm>

namespace tarvel::console {

TrendPoints::TrendPoints(std::size_t recent, std::size_t bound)
    : recent_(std::max<std::size_t>(recent, 1)), bound_(std::max(bound, recent_ + 2)) {
  points_.reserve(bound_ + 1);
}

void TrendPoints::Add(const controller::RunPoint& point) {
  points_.push_back(point);
  if (points_.size() <= bound_) return;
  // Keep the even indexes of the older part (index 0, the run's start, among them). A gap before
  // a dropped point moves to the point after it: thinning never joins two legs of a run.
  const std::size_t older = points_.size() - recent_;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < older; i += 2) {
    controller::RunPoint keep = points_[i];
    if (i > 0 && points_[i - 1].breakBefore) keep.breakBefore = true;
    points_[kept++] = keep;
  }
  if (older % 2 == 0 && points_[older - 1].breakBefore) points_[older].breakBefore = true;
  points_.erase(std::move(points_.begin() + static_cast<std::ptrdiff_t>(older), points_.end(),
                          points_.begin() + static_cast<std::ptrdiff_t>(kept)),
                points_.end());
}

}  // namespace tarvel::console
