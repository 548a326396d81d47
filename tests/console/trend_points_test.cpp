// The live trend's memory stays bounded on a run of days; the recent part stays whole.
#include <gtest/gtest.h>

#include "console/trend_points.h"

namespace tarvel::console {
namespace {

using controller::RunPoint;

TEST(TrendPoints, AWeekOfReadingsStaysWithinTheBoundWithTheRecentOnesWhole) {
  TrendPoints trend(2000, 4000);
  const int week = 7 * 24 * 60 * 4;  // a reading every 15 s
  std::size_t most = 0;
  for (int i = 0; i < week; ++i) {
    trend.Add({i * 0.25, i % 500, i % 700});
    most = std::max(most, trend.Points().size());
  }
  EXPECT_EQ(most, 4000u);
  const auto& points = trend.Points();
  EXPECT_GE(points.size(), 3000u);  // thinning halves the older part, not the whole trend
  EXPECT_EQ(points.front().time, 0) << "the start of the run stays";
  for (std::size_t k = 1; k <= 2000; ++k) {
    const int i = week - static_cast<int>(k);
    ASSERT_EQ(points[points.size() - k], (RunPoint{i * 0.25, i % 500, i % 700}));
  }
  for (std::size_t k = 1; k < points.size(); ++k) ASSERT_LT(points[k - 1].time, points[k].time);
  // Older points are sparser: the first half of the week holds fewer points than the last day.
  const auto halfWeek =
      std::count_if(points.begin(), points.end(), [&](const RunPoint& p) { return p.time < week * 0.125; });
  const auto lastDay =
      std::count_if(points.begin(), points.end(), [&](const RunPoint& p) { return p.time >= (week - 5760) * 0.25; });
  EXPECT_LT(halfWeek, lastDay);
}

}  // namespace
}  // namespace tarvel::console
