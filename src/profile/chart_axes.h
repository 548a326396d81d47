#pragma once
// profile: the arithmetic of a chart a user explores -- tick values on 1-2-5 steps, zoom and
// pan of an axis range, the value of a trace at a time (the hover read-out) and which point a
// click means. Depends on util only; the chart widgets of both windows draw with it.

#include <optional>
#include <string>
#include <vector>

#include "profile/chart_data.h"

namespace tarvel::profile {

struct AxisRange {
  double low = 0;
  double high = 1;
  double Span() const { return high - low; }
  bool operator==(const AxisRange&) const = default;
};

// The smallest step of the 1-2-5 series (... 0.5, 1, 2, 5, 10, 20 ...) that cuts span into at
// most maxIntervals intervals.
double NiceStep(double span, int maxIntervals);

// The ticks of a range: every multiple of NiceStep that lies in it.
struct AxisTicks {
  double first = 0;  // the lowest tick
  double step = 1;
  int count = 0;
};
AxisTicks TicksOf(AxisRange range, int maxIntervals);

// The range of the data widened to whole steps, so the full view starts and ends on a tick.
// An empty or flat range gets some width.
AxisRange NiceRange(double low, double high, int maxIntervals);

// Decimals a tick label needs to tell the ticks of a step apart (step 0.25 -> 2, 5 -> 0).
int TickDecimals(double step);

// A long run read as clock time: ticks of a range of minutes on the steps a clock is read in
// (1, 2, 5, 10, 15, 30 minutes; 1, 2, 3, 6, 12 hours; whole days beyond), and their labels in
// hours and minutes: 90 -> "1:30", 1505 -> "25:05", -30 -> "-0:30".
AxisTicks ClockTicksOf(AxisRange minutes, int maxIntervals);
std::string ClockText(double minutes);

// Zoom by factor (below 1 zooms in) keeping the value at `at` where it is on the screen; never
// narrower than a millionth of the full span.
AxisRange ZoomAround(AxisRange range, double at, double factor, AxisRange full);
// Moved by a fraction of its span (positive: to higher values).
AxisRange PanBy(AxisRange range, double fraction);
// The range between two values in either order; nullopt when they are too close to zoom to.
std::optional<AxisRange> RangeBetween(double a, double b, AxisRange full);

// The value of a trace at x, on the straight line between its points; nullopt outside the
// trace. Points are in the order drawn; the first segment that spans x gives the value.
std::optional<double> ValueAt(const std::vector<ChartPoint>& trace, double x);

// "Time= 60  Design Profile= 250  Temp Record= 245.5": the hover read-out, each value with at
// most two decimals; a trace without a value at that time is left out.
struct ReadoutValue {
  std::string name;
  std::optional<double> value;
};
std::string ReadoutText(double time, const std::vector<ReadoutValue>& values);

// A click at cursor on traces given in screen coordinates, in order of precedence (hidden ones
// empty): the first trace whose line passes within tolerance of the cursor, and its point
// nearest the cursor. So where the design and its band lie on top of each other, the design
// wins.
struct PickedPoint {
  int trace = 0;  // index into traces
  int index = 0;  // index of the point in its trace
  bool operator==(const PickedPoint&) const = default;
};
std::optional<PickedPoint> PickPoint(const std::vector<std::vector<ChartPoint>>& traces, ChartPoint cursor,
                                     double tolerance);

}  // namespace tarvel::profile
