#include "profile/chart_axes.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarvel::profile {
namespace {

constexpr double kSmallestZoom = 1e-6;  // of the full span

// Distance from p to the segment a-b.
double DistanceToSegment(ChartPoint p, ChartPoint a, ChartPoint b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double length2 = dx * dx + dy * dy;
  double t = length2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / length2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

}  // namespace

double NiceStep(double span, int maxIntervals) {
  if (!(span > 0) || !std::isfinite(span) || maxIntervals < 1) return 1;
  const double raw = span / maxIntervals;
  double decade = std::pow(10.0, std::floor(std::log10(raw)));
  for (;;) {
    for (double mantissa : {1.0, 2.0, 5.0}) {
      // A little tolerance: 363 / 8 must not pick 50 over 50.000000001.
      if (mantissa * decade >= raw * (1 - 1e-9)) return mantissa * decade;
    }
    decade *= 10;
  }
}

AxisTicks TicksOf(AxisRange range, int maxIntervals) {
  AxisTicks ticks;
  ticks.step = NiceStep(range.Span(), maxIntervals);
  const double first = std::ceil(range.low / ticks.step - 1e-9) * ticks.step;
  ticks.first = first == 0 ? 0 : first;  // never "-0"
  ticks.count =
      range.high >= ticks.first ? static_cast<int>(std::floor((range.high - ticks.first) / ticks.step + 1e-9)) + 1 : 0;
  return ticks;
}

AxisRange NiceRange(double low, double high, int maxIntervals) {
  if (!(low <= high) || !std::isfinite(low) || !std::isfinite(high)) return {0, 1};
  if (low == high) low -= 1, high += 1;
  const double step = NiceStep(high - low, maxIntervals);
  return {std::floor(low / step + 1e-9) * step, std::ceil(high / step - 1e-9) * step};
}

int TickDecimals(double step) {
  if (!(step > 0)) return 0;
  int decimals = 0;
  while (decimals < 9 && std::abs(step - std::round(step)) > step * 1e-6) step *= 10, ++decimals;
  return decimals;
}

AxisTicks ClockTicksOf(AxisRange minutes, int maxIntervals) {
  constexpr double kSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 180, 360, 720, 1440};
  const double raw = maxIntervals < 1 ? minutes.Span() : minutes.Span() / maxIntervals;
  double step = 0;
  for (double s : kSteps)
    if (s >= raw * (1 - 1e-9)) {
      step = s;
      break;
    }
  if (step == 0) step = NiceStep(raw / 1440, 1) * 1440;  // days on 1-2-5
  AxisTicks ticks;
  ticks.step = step;
  const double first = std::ceil(minutes.low / step - 1e-9) * step;
  ticks.first = first == 0 ? 0 : first;
  ticks.count =
      minutes.high >= ticks.first ? static_cast<int>(std::floor((minutes.high - ticks.first) / step + 1e-9)) + 1 : 0;
  return ticks;
}

std::string ClockText(double minutes) {
  const long long whole = std::llround(std::abs(minutes));
  const std::string mm = std::to_string(whole % 60);
  return (minutes < 0 && whole > 0 ? "-" : "") + std::to_string(whole / 60) + ":" + (mm.size() < 2 ? "0" : "") + mm;
}

AxisRange ZoomAround(AxisRange range, double at, double factor, AxisRange full) {
  const double smallest = std::max(full.Span(), std::numeric_limits<double>::min()) * kSmallestZoom;
  double span = std::max(range.Span() * factor, smallest);
  if (range.Span() > 0) factor = span / range.Span();
  return {at - (at - range.low) * factor, at + (range.high - at) * factor};
}

AxisRange PanBy(AxisRange range, double fraction) {
  const double shift = range.Span() * fraction;
  return {range.low + shift, range.high + shift};
}

std::optional<AxisRange> RangeBetween(double a, double b, AxisRange full) {
  if (a > b) std::swap(a, b);
  if (!(b - a >= full.Span() * kSmallestZoom) || b == a) return std::nullopt;
  return AxisRange{a, b};
}

std::optional<double> ValueAt(const std::vector<ChartPoint>& trace, double x) {
  if (trace.size() == 1 && trace.front().x == x) return trace.front().y;
  for (std::size_t i = 1; i < trace.size(); ++i) {
    const ChartPoint a = trace[i - 1], b = trace[i];
    if (x < std::min(a.x, b.x) || x > std::max(a.x, b.x)) continue;
    if (a.x == b.x) return a.y;
    return a.y + (x - a.x) * (b.y - a.y) / (b.x - a.x);
  }
  return std::nullopt;
}

std::string ReadoutText(double time, const std::vector<ReadoutValue>& values) {
  auto shown = [](double v) { return ChartNumber(std::round(v * 100) / 100); };
  std::string text = "Time= " + shown(time);
  for (const ReadoutValue& v : values)
    if (v.value) text += "  " + v.name + "= " + shown(*v.value);
  return text;
}

std::optional<PickedPoint> PickPoint(const std::vector<std::vector<ChartPoint>>& traces, ChartPoint cursor,
                                     double tolerance) {
  for (std::size_t t = 0; t < traces.size(); ++t) {
    const std::vector<ChartPoint>& trace = traces[t];
    double line = std::numeric_limits<double>::max();
    for (std::size_t i = 0; i < trace.size(); ++i)
      line = std::min(line, i == 0 ? std::hypot(cursor.x - trace[0].x, cursor.y - trace[0].y)
                                   : DistanceToSegment(cursor, trace[i - 1], trace[i]));
    if (line > tolerance) continue;
    int nearest = 0;
    double best = std::numeric_limits<double>::max();
    for (std::size_t i = 0; i < trace.size(); ++i) {
      const double d = std::hypot(cursor.x - trace[i].x, cursor.y - trace[i].y);
      if (d < best) best = d, nearest = static_cast<int>(i);
    }
    return PickedPoint{static_cast<int>(t), nearest};
  }
  return std::nullopt;
}

}  // namespace tarvel::profile
