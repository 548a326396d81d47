#include "watch/load_checks.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "util/text.h"

namespace tarvel::watch {
namespace {

using Span = LoadChecks::Span;

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

std::vector<Span> Common(const std::vector<Span>& a, const std::vector<Span>& b) {
  std::vector<Span> both;
  for (std::size_t i = 0, j = 0; i < a.size() && j < b.size();) {
    const double from = std::max(a[i].first, b[j].first), to = std::min(a[i].second, b[j].second);
    if (from < to) both.emplace_back(from, to);
    (a[i].second < b[j].second ? i : j)++;
  }
  return both;
}

// Touching spans are one; kept sorted, as sorting and merging them all at the end would give.
void AddSpan(std::vector<Span>& spans, Span span) {
  auto at = std::lower_bound(spans.begin(), spans.end(), span);
  at = spans.insert(at, span);
  if (at != spans.begin() && at->first <= std::prev(at)->second) {
    std::prev(at)->second = std::max(std::prev(at)->second, at->second);
    at = std::prev(spans.erase(at));
  }
  while (std::next(at) != spans.end() && std::next(at)->first <= at->second) {
    at->second = std::max(at->second, std::next(at)->second);
    spans.erase(std::next(at));
  }
}

// How each controller's program ended, where one did not reach its end step, and who cancelled
// the load: empty when every one reached it.
std::string ShortOfTheEnd(const LoadRecord& record) {
  std::map<int, std::string> ends;
  std::string cancelled;
  for (const LoadEvent& e : record.events) {
    if (e.kind == event::kEnd && !ends.contains(e.channel)) ends[e.channel] = e.what;
    if (e.kind == event::kCancel && cancelled.empty())
      cancelled = "cancelled by " + (e.who.empty() ? "an operator" : e.who) + " at " + UtcTime(e.at);
  }
  std::string short_;
  for (const LoadController& c : record.header.controllers) {
    auto end = ends.find(c.channel);
    if (end == ends.end() || end->second != "end step reached")
      short_ += (short_.empty() ? "" : "; ") + ("ch " + std::to_string(c.channel) + ": ") +
                (end == ends.end() ? std::string("not at its end") : end->second);
  }
  if (!cancelled.empty()) short_ = cancelled + (short_.empty() ? "" : "; " + short_);
  return short_;
}

}  // namespace

std::vector<LoadChecks::Hold> LoadChecks::HoldsOf(const LoadHeader& h) {
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

LoadChecks::LoadChecks(const LoadHeader& header)
    : opened_(header.opened), period_(header.sweepPeriod > 0 ? header.sweepPeriod : 15), holds_(HoldsOf(header)) {}

void LoadChecks::Add(const LoadSample& s) {
  auto [it, fresh] = channels_.try_emplace(s.channel);
  Channel& c = it->second;
  if (fresh) {
    c.longestFrom = c.last = opened_;
    c.spans.resize(holds_.size());
  }
  // Out of band counts until the next sample, good or not.
  if (c.out) {
    const double stretch = std::min(Seconds(s.at - *c.out), 2 * period_);
    (c.good->band == LoadBand::Above ? c.above : c.below) += stretch;
    c.out.reset();
  }
  if (s.gap) {
    if (c.good && c.good->runMode != 0)
      for (const Hold& hold : holds_)
        if (c.good->time >= hold.from && c.good->time < hold.to) {
          if (c.lostInHold++ == 0) c.firstLoss = "segment " + std::to_string(hold.segment) + ", from " + UtcTime(s.at);
        }
    return;
  }
  // The span from the good sample before counts for a hold's soak while that one was in band and
  // running, when it is no longer than the longest gap allowed.
  if (const auto& before = c.good) {
    const bool joined = Seconds(s.at - before->at) <= 2 * period_;
    const bool soaking =
        before->band == LoadBand::In || (before->band == LoadBand::None && before->design && !before->low);
    if (joined && soaking && before->runMode != 0 && s.time > before->time)
      for (std::size_t k = 0; k < holds_.size(); ++k) {
        const double from = std::max(before->time, holds_[k].from), to = std::min(s.time, holds_[k].to);
        if (from < to) AddSpan(c.spans[k], {from, to});
      }
  }
  if (Seconds(s.at - c.last) > c.longest) {
    c.longest = Seconds(s.at - c.last);
    c.longestFrom = c.last;
  }
  c.last = s.at;
  c.designed = c.designed || s.design.has_value();
  if (auto dev = s.Deviation()) {
    if (!c.highest || *dev > c.highest->first) c.highest = {{*dev, s.at}};
    if (!c.lowest || *dev < c.lowest->first) c.lowest = {{*dev, s.at}};
  }
  if (s.low && s.high) c.banded = true;
  const bool out = s.band == LoadBand::Above || s.band == LoadBand::Below;
  c.outside = c.outside || out;
  if (out) c.out = s.at;
  c.good = s;
  c.good->why.clear();
}

LoadResult LoadChecks::Result(const LoadRecord& record, SystemClock::time_point until) const {
  const LoadHeader& h = record.header;
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

  const std::string short_ = ShortOfTheEnd(record);
  add("Program run to its end", 0, short_.empty(), short_.empty() ? "every controller reached its end step" : short_);

  std::vector<std::vector<Span>> common(holds_.size());  // per hold: where every controller so far soaked
  Channel none;
  none.longestFrom = none.last = opened_;
  none.spans.resize(holds_.size());
  for (std::size_t ci = 0; ci < h.controllers.size(); ++ci) {
    const int ch = h.controllers[ci].channel;
    auto found = channels_.find(ch);
    const Channel& c = found == channels_.end() ? none : found->second;
    double longest = c.longest;
    SystemClock::time_point longestFrom = c.longestFrom;
    if (Seconds(until - c.last) > longest) {
      longest = Seconds(until - c.last);
      longestFrom = c.last;
    }
    for (std::size_t k = 0; k < holds_.size(); ++k) common[k] = ci == 0 ? c.spans[k] : Common(common[k], c.spans[k]);

    const double outMinutes = (c.above + c.below) / 60;
    add("Out of band", ch, c.designed && (!c.banded || outMinutes == 0),
        !c.designed ? "no design to compare with: the profile file could not be read at the start"
        : !c.banded ? "no band: the profile sets no Error Limits"
                    : Fixed(outMinutes, 1) + " minutes out of band (above " + Fixed(c.above / 60, 1) + ", below " +
                          Fixed(c.below / 60, 1) + ")");
    std::string deviation;
    if (c.highest && c.highest->first > 0)
      deviation = "largest above " + Signed(c.highest->first) + " at " + UtcTime(c.highest->second);
    if (c.lowest && c.lowest->first < 0)
      deviation += (deviation.empty() ? "" : ", ") +
                   ("largest below " + Signed(c.lowest->first) + " at " + UtcTime(c.lowest->second));
    if (deviation.empty()) deviation = c.designed ? "always on the design" : "no design to compare with";
    add("Largest deviation", ch, c.designed && !c.outside, deviation + (c.outside ? "; outside the band" : ""));
    add("Longest gap", ch, longest <= 2 * period_,
        Clock(longest) + " from " + UtcTime(longestFrom) + " (at most " + Clock(2 * period_) + ")");
    add("Communication during holds", ch, c.lostInHold == 0,
        c.lostInHold == 0 ? "no reading failed during a hold"
                          : std::to_string(c.lostInHold) + (c.lostInHold == 1 ? " reading" : " readings") +
                                " failed during a hold (" + c.firstLoss + ")");
  }

  for (std::size_t k = 0; k < holds_.size(); ++k) {
    double soak = 0;
    for (const Span& s : common[k]) soak += s.second - s.first;
    const double wanted = holds_[k].to - holds_[k].from;
    add("Soak, segment " + std::to_string(holds_[k].segment), 0, soak >= wanted - 1e-9,
        Fixed(soak, 2) + " of " + Fixed(wanted, 2) + " " + unit + " with every controller in band");
  }

  result.pass = std::all_of(result.checks.begin(), result.checks.end(), [](const LoadCheck& c) { return c.pass; });
  return result;
}

LoadResult CheckLoad(const LoadRecord& record, SystemClock::time_point until) {
  LoadChecks checks(record.header);
  for (const LoadSample& s : record.samples) checks.Add(s);
  return checks.Result(record, until);
}

LoadResult ResultOf(const LoadRecord& record, SystemClock::time_point now) {
  if (record.close) return {record.checks, record.close->pass};
  return CheckLoad(record, now);
}

}  // namespace tarvel::watch
