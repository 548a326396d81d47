#include "watch/load_checks.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "util/text.h"

namespace tarvel::watch {
namespace {

using Span = std::pair<double, double>;  // on the profile's time axis

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

double Seconds(SystemClock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string Clock(double seconds) {
  const long long s = static_cast<long long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  return text;
}

std::string Signed(int value) { return (value > 0 ? "+" : "") + std::to_string(value); }

std::vector<Span> Merged(std::vector<Span> spans) {
  std::sort(spans.begin(), spans.end());
  std::vector<Span> merged;
  for (const Span& s : spans) {
    if (!merged.empty() && s.first <= merged.back().second)
      merged.back().second = std::max(merged.back().second, s.second);
    else
      merged.push_back(s);
  }
  return merged;
}

std::vector<Span> Common(const std::vector<Span>& a, const std::vector<Span>& b) {
  std::vector<Span> both;
  for (std::size_t i = 0, j = 0; i < a.size() && j < b.size();) {
    const double from = std::max(a[i].first, b[j].first), to = std::min(a[i].second, b[j].second);
    if (from < to) both.emplace_back(from, to);
    (a[i].second < b[j].second ? i : j)++;
  }
  return both;
}

struct Hold {
  int segment = 0;
  double from = 0, to = 0;  // on the profile's time axis
};

std::vector<Hold> HoldsOf(const LoadHeader& h) {
  std::vector<Hold> holds;
  for (std::size_t i = 0; i < h.design.size(); ++i) {
    const DesignRow& row = h.design[i];
    auto start = ParseNumber(row[0]), duration = ParseNumber(row[1]), from = ParseNumber(row[3]),
         to = ParseNumber(row[4]);
    if (row[2] != "e" && start && duration && *duration > 0 && from && to && *from == *to)
      holds.push_back({static_cast<int>(i) + 1, *start, *start + *duration});
  }
  return holds;
}

}  // namespace

LoadResult CheckLoad(const LoadRecord& record, SystemClock::time_point until) {
  const LoadHeader& h = record.header;
  const double period = h.sweepPeriod > 0 ? h.sweepPeriod : 15;
  const std::string unit = h.timeScale == 'S' ? "seconds" : h.timeScale == 'H' ? "hours" : "minutes";
  LoadResult result;
  auto add = [&](std::string name, int channel, bool pass, std::string reason) {
    result.checks.push_back({std::move(name), channel, pass, std::move(reason)});
  };

  std::string missing;
  for (const auto& name : h.missing) missing += (missing.empty() ? "" : ", ") + name;
  add("Required fields", 0, missing.empty(),
      missing.empty() ? "every required field was given"
                      : "not given: " + missing + " (started from the " + h.startedBy + ")");

  // How each controller's program ended.
  std::map<int, std::string> ends;
  std::string cancelled;
  for (const LoadEvent& e : record.events) {
    if (e.kind == event::kEnd && !ends.contains(e.channel)) ends[e.channel] = e.what;
    if (e.kind == event::kCancel && cancelled.empty())
      cancelled = "cancelled by " + (e.who.empty() ? "an operator" : e.who) + " at " + UtcTime(e.at);
  }
  std::string short_;
  for (const LoadController& c : h.controllers) {
    auto end = ends.find(c.channel);
    if (end == ends.end() || end->second != "end step reached")
      short_ += (short_.empty() ? "" : "; ") + ("ch " + std::to_string(c.channel) + ": ") +
                (end == ends.end() ? std::string("not at its end") : end->second);
  }
  if (!cancelled.empty()) short_ = cancelled + (short_.empty() ? "" : "; " + short_);
  add("Program run to its end", 0, short_.empty(), short_.empty() ? "every controller reached its end step" : short_);

  // Per controller, its samples and gaps in order.
  std::map<int, std::vector<const LoadSample*>> of;
  for (const LoadSample& s : record.samples) of[s.channel].push_back(&s);
  const std::vector<Hold> holds = HoldsOf(h);
  std::vector<std::vector<Span>> common(holds.size());  // per hold: where every controller so far soaked

  for (std::size_t ci = 0; ci < h.controllers.size(); ++ci) {
    const int ch = h.controllers[ci].channel;
    const auto& samples = of[ch];

    double above = 0, below = 0;
    bool banded = false, designed = false;
    const LoadSample *highest = nullptr, *lowest = nullptr;
    bool outside = false;
    double longest = 0;
    SystemClock::time_point longestFrom = h.opened, last = h.opened;
    std::vector<std::vector<Span>> spans(holds.size());
    int lostInHold = 0;
    std::string firstLoss;
    const LoadSample* good = nullptr;  // the latest good sample

    for (std::size_t i = 0; i < samples.size(); ++i) {
      const LoadSample& s = *samples[i];
      const LoadSample* next = i + 1 < samples.size() ? samples[i + 1] : nullptr;
      if (s.gap) {
        if (good && good->runMode != 0)
          for (const Hold& hold : holds)
            if (good->time >= hold.from && good->time < hold.to) {
              if (lostInHold++ == 0) firstLoss = "segment " + std::to_string(hold.segment) + ", from " + UtcTime(s.at);
            }
        continue;
      }
      if (Seconds(s.at - last) > longest) {
        longest = Seconds(s.at - last);
        longestFrom = last;
      }
      last = s.at;
      good = &s;
      designed = designed || s.design.has_value();
      if (auto dev = s.Deviation()) {
        if (!highest || *dev > *highest->Deviation()) highest = &s;
        if (!lowest || *dev < *lowest->Deviation()) lowest = &s;
      }
      if (s.low && s.high) banded = true;
      const bool out = s.band == LoadBand::Above || s.band == LoadBand::Below;
      outside = outside || out;
      if (out && next) (s.band == LoadBand::Above ? above : below) += std::min(Seconds(next->at - s.at), 2 * period);
      // The span to the next good sample counts for a hold's soak while in band and running, when
      // it is no longer than the longest gap allowed.
      std::size_t n = i + 1;
      while (n < samples.size() && samples[n]->gap) ++n;
      const LoadSample* following = n < samples.size() ? samples[n] : nullptr;
      const bool joined = following && Seconds(following->at - s.at) <= 2 * period;
      const bool soaking = s.band == LoadBand::In || (s.band == LoadBand::None && s.design && !s.low);
      if (joined && soaking && s.runMode != 0 && following->time > s.time)
        for (std::size_t k = 0; k < holds.size(); ++k) {
          const double from = std::max(s.time, holds[k].from), to = std::min(following->time, holds[k].to);
          if (from < to) spans[k].emplace_back(from, to);
        }
    }
    if (Seconds(until - last) > longest) {
      longest = Seconds(until - last);
      longestFrom = last;
    }
    for (std::size_t k = 0; k < holds.size(); ++k)
      common[k] = ci == 0 ? Merged(spans[k]) : Common(common[k], Merged(spans[k]));

    const double outMinutes = (above + below) / 60;
    add("Out of band", ch, designed && (!banded || outMinutes == 0),
        !designed ? "no design to compare with: the profile file could not be read at the start"
        : !banded ? "no band: the profile sets no Error Limits"
                  : Fixed(outMinutes, 1) + " minutes out of band (above " + Fixed(above / 60, 1) + ", below " +
                        Fixed(below / 60, 1) + ")");
    std::string deviation;
    if (highest && *highest->Deviation() > 0)
      deviation = "largest above " + Signed(*highest->Deviation()) + " at " + UtcTime(highest->at);
    if (lowest && *lowest->Deviation() < 0)
      deviation += (deviation.empty() ? "" : ", ") +
                   ("largest below " + Signed(*lowest->Deviation()) + " at " + UtcTime(lowest->at));
    if (deviation.empty()) deviation = designed ? "always on the design" : "no design to compare with";
    add("Largest deviation", ch, designed && !outside, deviation + (outside ? "; outside the band" : ""));
    add("Longest gap", ch, longest <= 2 * period,
        Clock(longest) + " from " + UtcTime(longestFrom) + " (at most " + Clock(2 * period) + ")");
    add("Communication during holds", ch, lostInHold == 0,
        lostInHold == 0 ? "no reading failed during a hold"
                        : std::to_string(lostInHold) + (lostInHold == 1 ? " reading" : " readings") +
                              " failed during a hold (" + firstLoss + ")");
  }

  for (std::size_t k = 0; k < holds.size(); ++k) {
    double soak = 0;
    for (const Span& s : common[k]) soak += s.second - s.first;
    const double wanted = holds[k].to - holds[k].from;
    add("Soak, segment " + std::to_string(holds[k].segment), 0, soak >= wanted - 1e-9,
        Fixed(soak, 2) + " of " + Fixed(wanted, 2) + " " + unit + " with every controller in band");
  }

  result.pass = std::all_of(result.checks.begin(), result.checks.end(), [](const LoadCheck& c) { return c.pass; });
  return result;
}

LoadResult ResultOf(const LoadRecord& record, SystemClock::time_point now) {
  if (record.close) return {record.checks, record.close->pass};
  return CheckLoad(record, now);
}

}  // namespace tarvel::watch
