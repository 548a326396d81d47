#include "watch/design_band.h"

#include <algorithm>

#include "profile/chart_data.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "util/text.h"

namespace tarvel::watch {
namespace {

double LimitOf(const profile::ProfileTable& table, int row) {
  if (row < 1 || row >= profile::kTableRows) return 0;
  return ParseNumber(table.at(row, profile::kErrorLimits)).value_or(0);
}

}  // namespace

const DesignBands::Design& DesignBands::Load(const std::filesystem::path& file) {
  std::error_code ec;
  const auto written = std::filesystem::last_write_time(file, ec);
  auto found = designs_.find(file);
  if (found != designs_.end() && found->second.written == written) return found->second;
  Design design;
  design.written = written;
  if (auto text = profile::LoadProfileFile(file); text.ok()) {
    design.table = profile::ParseProfileText(text.value());
    design.lastRow = profile::LastProfileRow(design.table);
    auto end = profile::ProfileEndTime(design.table, design.lastRow);
    design.usable = end && *end > 0;
    design.endTime = end.value_or(0);
  }
  return designs_[file] = std::move(design);
}

std::optional<DesignPoint> DesignAt(const profile::ProfileTable& table, int lastRow, double endTime, double time) {
  if (!(endTime > 0)) return std::nullopt;
  // Time 0 belongs to the first segment, a time past the end to the last one.
  const double t = std::clamp(time, endTime * 1e-9, endTime);
  auto design = profile::InterpolateTemperature(table, lastRow, t, 0, 0);
  auto index = profile::GetProfileIndex(table, lastRow, t);
  if (!design || !index) return std::nullopt;
  DesignPoint point{*design, std::nullopt, std::nullopt};
  const double ls = LimitOf(table, *index - 1);
  // The end row has no limit of its own: the last segment keeps its band to the end, where the
  // chart's band narrows to nothing and a load on its design would read as out of band.
  const bool endRow = *index == lastRow && TrimTrailingBlanks(table.at(lastRow, profile::kErrorLimits)).empty();
  const double le = endRow ? ls : LimitOf(table, *index);
  if ((ls == 0 && le == 0) || time >= endTime) return point;
  auto upper = profile::InterpolateTemperature(table, lastRow, t, ls, le);
  auto lower = profile::InterpolateTemperature(table, lastRow, t, -ls, -le);
  if (upper && lower) {
    point.low = std::min(*lower, *upper);
    point.high = std::max(*lower, *upper);
  }
  return point;
}

std::optional<DesignPoint> DesignBands::At(const std::filesystem::path& profileFile, double time) {
  if (profileFile.empty()) return std::nullopt;
  const Design& d = Load(profileFile);
  if (!d.usable) return std::nullopt;
  return DesignAt(d.table, d.lastRow, d.endTime, time);
}

}  // namespace tarvel::watch
