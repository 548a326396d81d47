#include "profile/chart_data.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "util/text.h"

namespace tarvel::profile {
namespace {

Status Failure(std::string_view routine, int number) {
  return Status::Error(Status::Code::Invalid, RoutineErrorLine(routine, number));
}

// A cell as a number; nullopt when it is empty or not one.
std::optional<double> CellNumber(const ProfileTable& table, int row, int column) {
  if (!ProfileTable::Contains(row, column)) return std::nullopt;
  return ParseNumber(table.at(row, column));
}

// An Error Limits cell: 0 when empty (or beyond the table).
Result<double> LimitOf(const ProfileTable& table, int row, std::string_view routine) {
  if (!ProfileTable::Contains(row, kErrorLimits) || table.at(row, kErrorLimits).empty()) return 0.0;
  auto value = ParseNumber(table.at(row, kErrorLimits));
  if (!value) return Failure(routine, kTypeMismatch);
  return *value;
}

}  // namespace

const std::array<std::string_view, kChartSeriesCount>& SeriesLegends() {
  static const std::array<std::string_view, kChartSeriesCount> legends = {"Design Profile", "Design Alarm Limits", "",
                                                                          "Recorded Profile", "Temp Record"};
  return legends;
}

std::string RoutineErrorLine(std::string_view routine, int number) {
  return std::string(routine) + " Routine Error= " + std::to_string(number);
}

std::string ChartNumber(double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (ec != std::errc()) return std::to_string(value);
  std::string text(buffer, end);
  return text == "-0" ? "0" : text;
}

std::string DataPointMessage(double x, double y) {
  return "DataPoint: Time= " + ChartNumber(x) + "  Temperature= " + ChartNumber(y);
}

std::optional<CellProblem> ChartCellProblem(const ProfileTable& table, int lastRow, bool sampled) {
  auto previous = [](int row) { return std::to_string(row - 1); };
  for (int r = 1; r <= lastRow && r < kTableRows; ++r) {
    // An empty computed cell points at the empty cell it comes from, when there is one: that is
    // the cell the user can type into.
    auto check = [&](int column, bool needed, const std::string& whenEmpty,
                     std::optional<CellRef> source = std::nullopt) -> std::optional<CellProblem> {
      const CellRef cell{r, column};
      const std::string& text = table.at(r, column);
      if (text.empty()) {
        if (!needed) return std::nullopt;
        const CellRef shown = source && table.at(source->row, source->column).empty() ? *source : cell;
        return CellProblem{shown, CellName(cell) + " is empty" + whenEmpty};
      }
      auto number = ParseNumber(text);
      if (!number) return CellProblem{cell, NotANumberLine(cell, text)};
      if (column == kDuration && needed && *number == 0)
        return CellProblem{cell, CellName(cell) + " is 0: a segment needs a length"};
      return std::nullopt;
    };
    const bool segment = r < lastRow;
    for (auto problem :
         {check(kStartTime, sampled, r > 1 ? ": enter the Duration of row " + previous(r) : "",
                r > 1 ? std::optional(CellRef{r - 1, kDuration}) : std::nullopt),
          check(kStartTemp, sampled, r > 1 ? ": enter the End Temp of row " + previous(r) : "",
                r > 1 ? std::optional(CellRef{r - 1, kEndTemp}) : std::nullopt),
          sampled && segment ? check(kDuration, true, ": every segment before the end needs one") : std::nullopt,
          check(kErrorLimits, false, "")})
      if (problem) return problem;
  }
  return std::nullopt;
}

std::optional<double> ProfileEndTime(const ProfileTable& table, int lastRow) {
  if (lastRow < 1) return std::nullopt;
  return CellNumber(table, lastRow, kStartTime);
}

Result<int> GetProfileIndex(const ProfileTable& table, int lastRow, double t) {
  constexpr std::string_view kRoutine = "GetProfileIndex";
  if (t <= 0) return 0;  // row 0 counts as time 0
  for (int i = 1; i <= lastRow; ++i) {
    auto start = CellNumber(table, i, kStartTime);
    if (!start) return Failure(kRoutine, kTypeMismatch);
    if (*start >= t) return i;
  }
  return lastRow + 1;
}

Result<int> InterpolateTemperature(const ProfileTable& table, int lastRow, double t, double a, double b) {
  constexpr std::string_view kRoutine = "InterpolateTemperature";
  auto index = GetProfileIndex(table, lastRow, t);
  if (!index) return index.status();
  const int i = *index;
  const int s = i - 1;
  if (s < 0 || i >= kTableRows) return Failure(kRoutine, kSubscriptOutOfRange);
  auto startTime = CellNumber(table, s, kStartTime);
  auto startTemp = CellNumber(table, s, kStartTemp);
  auto duration = CellNumber(table, s, kDuration);
  auto endTemp = CellNumber(table, i, kStartTemp);  // the next row starts where the segment ends
  if (!startTime || !startTemp || !duration || !endTemp) return Failure(kRoutine, kTypeMismatch);
  if (*duration == 0) return Failure(kRoutine, kDivisionByZero);
  const double from = *startTemp + a;
  const double to = *endTemp + b;
  const double value = RoundHalfEven(from + (t - *startTime) * (to - from) / *duration);
  if (!(value >= -32768 && value <= 32767)) return Failure(kRoutine, kOverflow);
  return static_cast<int>(value);
}

Result<ChartTable> PlotLoResProfile(const ProfileTable& table, int lastRow) {
  constexpr std::string_view kRoutine = "PlotLoResProfile";
  ChartTable rows;
  double time = 0, temp = 0, limit = 0;
  for (int r = 1; r <= lastRow && r < kTableRows; ++r) {
    for (auto [column, value] : {std::pair{kStartTime, &time}, {kStartTemp, &temp}, {kErrorLimits, &limit}}) {
      if (table.at(r, column).empty()) continue;
      auto number = ParseNumber(table.at(r, column));
      if (!number) return Failure(kRoutine, kTypeMismatch);
      *value = *number;
    }
    rows.push_back({time, temp, time, temp + limit, time, temp - limit, 0, 0, 0, 0});
  }
  return rows;
}

Result<ChartTable> PlotHiResProfile(const ProfileTable& table, int lastRow, double endTime) {
  ChartTable rows(kChartRows, ChartRow{});
  const double step = endTime / static_cast<double>(kChartRows);
  for (std::size_t k = 1; k <= kChartRows; ++k) {
    // The last sample is the end time itself, not a rounding error beyond the profile.
    const double t = k == kChartRows ? endTime : static_cast<double>(k) * step;
    auto design = InterpolateTemperature(table, lastRow, t, 0, 0);
    if (!design) return design.status();
    auto index = GetProfileIndex(table, lastRow, t);
    if (!index) return index.status();
    auto ls = LimitOf(table, *index - 1, "PlotHiResProfile");
    auto le = LimitOf(table, *index, "PlotHiResProfile");
    if (!ls) return ls.status();
    if (!le) return le.status();
    auto upper = InterpolateTemperature(table, lastRow, t, *ls, *le);
    auto lower = InterpolateTemperature(table, lastRow, t, -*ls, -*le);
    if (!upper) return upper.status();
    if (!lower) return lower.status();
    rows[k - 1] = {t, double(*design), t, double(*upper), t, double(*lower), 0, 0, 0, 0};
  }
  return rows;
}

void FillLogColumns(ChartTable& hiRes, const std::vector<LogPoint>& points) {
  std::vector<LogPoint> shown = ChartRows(points);
  hiRes.resize(kChartRows, ChartRow{});
  for (std::size_t k = 0; k < kChartRows; ++k) {
    LogPoint p = k < shown.size() ? shown[k] : LogPoint{};
    hiRes[k][6] = p.time;
    hiRes[k][7] = p.recordedProfile;
    hiRes[k][8] = p.time;
    hiRes[k][9] = p.recordedTemperature;
  }
}

// --- ChartModel

void ChartModel::ShowFailure(const Status& failure, bool sampled, MessageSink& sink) {
  // The number alone does not tell the user which cell to mend: the next line does.
  auto problem = ChartCellProblem(table_, lastRow_, sampled);
  problemCell_ = problem ? std::optional<CellRef>(problem->cell) : std::nullopt;
  sink.Display(failure.message() + (problem ? "\r\n" + problem->text : std::string()));
}

void ChartModel::PlotDesignProfile(const ProfileTable& table, MessageSink& sink) {
  table_ = table;
  lastRow_ = LastProfileRow(table);
  problemCell_.reset();
  if (HiRes()) {
    auto end = ProfileEndTime(table_, lastRow_);
    if (!end || *end <= 0) {
      designSampled_ = false;  // nothing to sample: the log shows alone
      // Say why the design went, unless there is no profile at all yet.
      if (lastRow_ > 1) {
        if (auto problem = ChartCellProblem(table_, lastRow_, true)) {
          problemCell_ = problem->cell;
          sink.Display("Design profile not drawn: " + problem->text);
        }
      }
      return;
    }
    auto design = PlotHiResProfile(table_, lastRow_, *end);
    if (!design) {
      ShowFailure(design.status(), true, sink);
      return;
    }
    for (std::size_t k = 0; k < kChartRows; ++k) std::copy_n(design.value()[k].begin(), 6, hiRes_[k].begin());
    designSampled_ = true;
    return;
  }
  auto rows = PlotLoResProfile(table_, lastRow_);
  if (!rows) {
    ShowFailure(rows.status(), false, sink);
    return;
  }
  loRes_ = std::move(rows).value();
}

void ChartModel::LoadLogFile(const std::filesystem::path& file, MessageSink& sink) {
  sink.Clear();
  logFileName_ = FileNameFromPath(file.string());
  logPoints_.clear();  // a log that does not load must not leave the last one's traces under its name
  PlotDesignProfile(table_, sink);
  LoadLogFileData(file, sink);
}

void ChartModel::ClearLogFile(MessageSink& sink) {
  logFileName_.clear();
  logPoints_.clear();
  PlotDesignProfile(table_, sink);
}

bool ChartModel::LoadLogFileData(const std::filesystem::path& file, MessageSink& sink) {
  auto points = ReadLogFile(file);
  if (!points) {
    const Status& why = points.status();
    int number = why.code() == Status::Code::NotFound  ? kFileNotFound
                 : why.code() == Status::Code::Invalid ? kTypeMismatch
                                                       : kFileAccessError;
    // The number alone tells a user little: the reason follows on its own line.
    sink.Display(RoutineErrorLine("LoadLogFileData", number) + "\r\n" + why.message());
    return false;
  }
  logPoints_ = std::move(points).value();
  sink.Display(LogPointsMessage(logPoints_.size()));
  FillLogColumns(hiRes_, logPoints_);
  return true;
}

std::vector<ChartPoint> ChartModel::Series(int series) const {
  std::vector<ChartPoint> points;
  if (series < 1 || series > kChartSeriesCount) return points;
  if (HiRes() && series <= 3 && !designSampled_) return points;
  if (HiRes() && series >= 4 && logPoints_.empty()) return points;
  if (!HiRes() && series >= 4) return points;
  const ChartTable& table = Shown();
  points.reserve(table.size());
  for (const ChartRow& row : table) points.push_back({row[2 * series - 2], row[2 * series - 1]});
  return points;
}

std::optional<ChartPoint> ChartModel::PointOf(int series, int index) const {
  std::vector<ChartPoint> points = Series(series);
  if (index < 0 || index >= static_cast<int>(points.size())) return std::nullopt;
  return points[index];
}

std::optional<std::string> ChartModel::PointActivated(int series, int index, MessageSink& sink) const {
  auto point = PointOf(series, index);
  if (!point) {
    sink.Display(RoutineErrorLine("EditChart_PointActivated", kSubscriptOutOfRange));
    return std::nullopt;
  }
  std::string message = DataPointMessage(point->x, point->y);
  sink.Display(message);
  return message;
}

std::optional<int> ChartModel::PointSelected(int series, int index, MessageSink& sink) const {
  auto point = PointOf(series, index);
  if (!point) {
    sink.Display(RoutineErrorLine("EditChart_PointSelected", kSubscriptOutOfRange));
    return std::nullopt;
  }
  auto profileIndex = GetProfileIndex(table_, lastRow_, point->x);
  if (!profileIndex) {
    sink.Display(profileIndex.status().message());
    return std::nullopt;
  }
  return std::max(*profileIndex - 1, 1);
}

}  // namespace tarvel::profile
