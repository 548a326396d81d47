#pragma once
// profile: the data of the editor's chart -- the design profile, the band of its alarm limits
// and a recorded log, as tables of ten columns read as five (X, Y) series; the sampling and
// interpolation of the design profile; the point notifications; the routine error lines.
// Depends on util only; no Qt: the chart widget draws what ChartModel holds.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profile/log_file.h"
#include "profile/message_sink.h"
#include "profile/profile_table.h"
#include "profile/worksheet.h"
#include "util/result.h"

namespace tarvel::profile {

inline constexpr int kChartSeriesCount = 5;
inline constexpr int kChartColumns = 2 * kChartSeriesCount;

// Columns 1..10 of one chart row at indexes 0..9: series s (1..5) is (column 2s-1, column 2s).
using ChartRow = std::array<double, kChartColumns>;
using ChartTable = std::vector<ChartRow>;

// "Design Profile", "Design Alarm Limits", "" (the lower band), "Recorded Profile", "Temp Record".
const std::array<std::string_view, kChartSeriesCount>& SeriesLegends();

// The error numbers a chart routine reports with its line.
enum ChartErrorNumber : int {
  kOverflow = 6,
  kSubscriptOutOfRange = 9,
  kDivisionByZero = 11,
  kTypeMismatch = 13,
  kFileNotFound = 53,
  kFileAccessError = 75,
};

// "<routine> Routine Error= <number>", the one line a failing chart routine shows.
std::string RoutineErrorLine(std::string_view routine, int number);

// The Start Time of the last row (the start of the "e" row, the profile's length); nullopt
// when that cell is empty or not a number.
std::optional<double> ProfileEndTime(const ProfileTable& table, int lastRow);

// The first row i of 0..lastRow whose Start Time is at least t (row 0 counts as time 0);
// lastRow + 1 when none is. A Start Time on the way that is empty or not a number fails.
Result<int> GetProfileIndex(const ProfileTable& table, int lastRow, double t);

// The design temperature at t, the segment's start shifted by a and its end by b, rounded to a
// whole degree (halves to even).
Result<int> InterpolateTemperature(const ProfileTable& table, int lastRow, double t, double a, double b);

// One row per profile row 1..lastRow: (time, temp, time, temp + limit, time, temp - limit, 0...),
// an empty cell repeating the previous row's value.
Result<ChartTable> PlotLoResProfile(const ProfileTable& table, int lastRow);

// 1000 rows sampled at k * endTime / 1000: the design profile and its band in columns 1..6
// (the band moves linearly from a segment's own limit to the next one's); columns 7..10 zero.
Result<ChartTable> PlotHiResProfile(const ProfileTable& table, int lastRow, double endTime);

// Columns 7..10 of the 1000 rows from a log: (time, recorded profile, time, recorded temperature)
// of ChartRows -- all points and the last one repeated, or thinned by index to 1000.
void FillLogColumns(ChartTable& hiRes, const std::vector<LogPoint>& points);

// "DataPoint: Time= " X "  Temperature= " Y.
std::string DataPointMessage(double x, double y);

// A number as the chart's messages show it: no exponent, no trailing zeros (60, 0.25, -12.5).
std::string ChartNumber(double value);

// Why a chart routine could not read the worksheet: the first cell in the way, and a line that
// says what is wrong with it. sampled: the design is sampled at high resolution, which needs
// every Start Time, Start Temp and Duration; the low resolution repeats an empty cell.
struct CellProblem {
  CellRef cell;
  std::string text;
  bool operator==(const CellProblem&) const = default;
};
std::optional<CellProblem> ChartCellProblem(const ProfileTable& table, int lastRow, bool sampled);

struct ChartPoint {
  double x = 0;
  double y = 0;
};

// The chart's state as the editor holds it: the profile it was last drawn from, whether a log
// file is shown, and the table on show. Every routine writes its failure line to the sink and
// keeps the data it had.
class ChartModel {
 public:
  // PlotDesignProfile: run after every redraw of the worksheet. The high-resolution view when a
  // log file is shown, else the low-resolution one.
  void PlotDesignProfile(const ProfileTable& table, MessageSink& sink);

  // "Load Log File" once a file is chosen: the design sampled at high resolution (when the
  // profile has a length), then LoadLogFileData. The name shows even when reading fails.
  void LoadLogFile(const std::filesystem::path& file, MessageSink& sink);

  // Forgets the log file ("Remove Log"): back to the low-resolution view.
  void ClearLogFile(MessageSink& sink);

  // The worksheet cell the last failed plot stumbled on; none after a plot that worked.
  std::optional<CellRef> ProblemCell() const { return problemCell_; }

  const std::string& LogFileName() const { return logFileName_; }  // LogFileNameDisplay
  bool HiRes() const { return !logFileName_.empty(); }
  const ChartTable& Shown() const { return HiRes() ? hiRes_ : loRes_; }
  std::size_t LogPointCount() const { return logPoints_.size(); }

  // Points of series 1..5 as the chart draws them; empty when the series has nothing to show.
  std::vector<ChartPoint> Series(int series) const;

  // A double click on point index of series 1..5: the message.
  std::optional<std::string> PointActivated(int series, int index, MessageSink& sink) const;
  // A left click on point index: the worksheet row to mark, max(GetProfileIndex(X) - 1, 1).
  std::optional<int> PointSelected(int series, int index, MessageSink& sink) const;

 private:
  bool LoadLogFileData(const std::filesystem::path& file, MessageSink& sink);
  // The routine's line, followed by the line that names the cell in the way.
  void ShowFailure(const Status& failure, bool sampled, MessageSink& sink);
  std::optional<ChartPoint> PointOf(int series, int index) const;

  ProfileTable table_;
  int lastRow_ = 0;
  std::string logFileName_;
  ChartTable loRes_;
  ChartTable hiRes_ = ChartTable(kChartRows, ChartRow{});
  bool designSampled_ = false;  // columns 1..6 of hiRes_ hold a profile of some length
  std::vector<LogPoint> logPoints_;
  std::optional<CellRef> problemCell_;
};

}  // namespace tarvel::profile
