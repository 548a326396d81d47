// The editor chart's data: design tables, band, interpolation, log thinning, point notifications.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "profile/chart_axes.h"
#include "profile/chart_data.h"
#include "profile_fixtures.h"
#include "recording_sink.h"
#include "support/temp_dir.h"

namespace tarvel::profile {
namespace {

using tarvel::testing::MakeTable;
using tarvel::testing::RecordingSink;
using tarvel::testing::TempDir;
using ::testing::ElementsAre;

ProfileTable ThreeSegments() { return tarvel::testing::ThreeSegmentTable(); }

ChartRow Row(double t, double design, double upper, double lower) {
  return {t, design, t, upper, t, lower, 0, 0, 0, 0};
}

TEST(ChartData, LowResolutionTableHasOneRowPerProfileRowAndRepeatsEmptyCells) {
  // The hold's missing limit repeats the ramp's 10 here (the high resolution takes it as 0).
  EXPECT_THAT(
      PlotLoResProfile(ThreeSegments(), 4).value(),
      ElementsAre(Row(0, 100, 110, 90), Row(400, 500, 510, 490), Row(700, 500, 520, 480), Row(1000, 200, 220, 180)));
  // A ramp and a hold of an hour each: the hold and the end row reuse the limit of row 1.
  ProfileTable holds = MakeTable({
      {"1", "0.00", "60", "r", "70", "250", "3.00", "10", "", ""},
      {"2", "60.00", "60", "h", "250", "250", "0.00", "", "", ""},
      {"3", "120.00", "", "e", "250", "", "", "", "", ""},
  });
  EXPECT_THAT(PlotLoResProfile(holds, 3).value(),
              ElementsAre(Row(0, 70, 80, 60), Row(60, 250, 260, 240), Row(120, 250, 260, 240)));
  // Halfway up the ramp, and the band between limits 10 and 20 at the segment's ends.
  holds.at(2, kErrorLimits) = "20";
  EXPECT_EQ(InterpolateTemperature(holds, 3, 30, 0, 0).value(), 160);
  EXPECT_EQ(InterpolateTemperature(holds, 3, 30, 10, 20).value(), 175);
}

TEST(ChartData, HighResolutionTableSamplesTheDesignAndMovesTheBandBetweenLimits) {
  ChartTable rows = PlotHiResProfile(ThreeSegments(), 4, 1000).value();
  ASSERT_EQ(rows.size(), 1000u);
  EXPECT_EQ(rows[0], Row(1, 101, 111, 91));        // 110 + 390/400 = 110.975, 90 + 410/400 = 91.025
  EXPECT_EQ(rows[399], Row(400, 500, 500, 500));   // the band narrows to the hold's missing limit
  EXPECT_EQ(rows[400], Row(401, 500, 500, 500));   // 500 + 20/300 rounds to 500
  EXPECT_EQ(rows[549], Row(550, 500, 510, 490));   // widening towards the next limit of 20
  EXPECT_EQ(rows[700], Row(701, 499, 519, 479));   // 520 - 320/300, 480 - 280/300
  EXPECT_EQ(rows[999], Row(1000, 200, 200, 200));  // the last sample is the end time
}

TEST(ChartData, InterpolationAtSegmentEdgesAndItsFailures) {
  const ProfileTable table = ThreeSegments();
  EXPECT_EQ(GetProfileIndex(table, 4, 0).value(), 0);
  EXPECT_EQ(GetProfileIndex(table, 4, 400).value(), 2);
  EXPECT_EQ(GetProfileIndex(table, 4, 400.5).value(), 3);
  EXPECT_EQ(GetProfileIndex(table, 4, 1001).value(), 5);
  EXPECT_EQ(InterpolateTemperature(table, 4, 400, 0, 0).value(), 500);    // a segment's end is its own
  EXPECT_EQ(InterpolateTemperature(table, 4, 700.5, 0, 0).value(), 500);  // 499.5: halves to even
  EXPECT_EQ(InterpolateTemperature(table, 4, 701.5, 0, 0).value(), 498);  // 498.5
  EXPECT_EQ(InterpolateTemperature(table, 4, 1000, 0, 0).value(), 200);

  EXPECT_EQ(InterpolateTemperature(table, 4, 0, 0, 0).status().message(), "InterpolateTemperature Routine Error= 9");
  EXPECT_EQ(InterpolateTemperature(table, 4, 1000.5, 0, 0).status().message(),
            "InterpolateTemperature Routine Error= 13");  // past the end: the "e" row has no duration
  ProfileTable broken = table;
  broken.at(2, kStartTime) = "";
  EXPECT_EQ(GetProfileIndex(broken, 4, 500).status().message(), "GetProfileIndex Routine Error= 13");
  broken.at(2, kStartTime) = "x";
  EXPECT_EQ(PlotLoResProfile(broken, 4).status().message(), "PlotLoResProfile Routine Error= 13");
}

// Log records as written by a run: time 9, set point 5, temperature 5, CR LF.
std::string Records(int count) {
  std::string bytes;
  char record[32];
  for (int p = 1; p <= count; ++p) {
    std::snprintf(record, sizeof record, "%9d%5d%5d\r\n", p, p % 9000, p % 7000 + 1);
    bytes += record;
  }
  return bytes;
}

TEST(ChartData, LogIsShownWholeUpToAThousandPointsAndThinnedByIndexBeyond) {
  TempDir dir;
  struct Case {
    int records;
    std::vector<std::pair<int, int>> rowToPoint;  // chart row -> log point, both 1-based
  };
  const Case cases[] = {
      {999, {{1, 1}, {999, 999}, {1000, 999}}},
      {1000, {{1, 1}, {500, 500}, {1000, 1000}}},
      {1001, {{1, 1}, {999, 999}, {1000, 1001}}},  // point 1000 is skipped
      {100000, {{1, 100}, {500, 50000}, {1000, 100000}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.records);
    tarvel::testing::WriteAll(dir / "run.log", Records(c.records));
    ChartModel model;
    RecordingSink sink;
    model.PlotDesignProfile(ThreeSegments(), sink);
    model.LoadLogFile(dir / "run.log", sink);
    EXPECT_THAT(sink.events, ElementsAre("<clear>", "Log File has " + std::to_string(c.records) + " points"));
    EXPECT_EQ(model.LogFileName(), "run.log");
    auto recorded = model.Series(4);
    auto temperature = model.Series(5);
    ASSERT_EQ(recorded.size(), 1000u);
    for (auto [row, point] : c.rowToPoint) {
      EXPECT_EQ(recorded[row - 1].x, point);
      EXPECT_EQ(recorded[row - 1].y, point % 9000);
      EXPECT_EQ(temperature[row - 1].y, point % 7000 + 1);
    }
    EXPECT_EQ(model.Series(1)[549].y, 500);  // the design is drawn at high resolution under the log
  }
}

TEST(ChartData, PointNotificationsTheRowToMarkAndFailedLoads) {
  ChartModel model;
  RecordingSink sink;
  model.PlotDesignProfile(ThreeSegments(), sink);
  EXPECT_EQ(model.PointActivated(1, 1, sink), "DataPoint: Time= 400  Temperature= 500");
  EXPECT_EQ(model.PointActivated(2, 1, sink), "DataPoint: Time= 400  Temperature= 510");
  EXPECT_EQ(model.PointSelected(1, 1, sink), 1);  // the point ends segment 1
  EXPECT_EQ(model.PointSelected(1, 0, sink), 1);  // time 0 marks the first row, not row 0
  EXPECT_EQ(model.PointSelected(3, 3, sink), 3);
  EXPECT_EQ(model.PointSelected(4, 0, sink), std::nullopt);  // no log: nothing recorded to click
  EXPECT_EQ(sink.events.back(), "EditChart_PointSelected Routine Error= 9");

  // A failed load keeps the name and shows no log.
  TempDir dir;
  model.LoadLogFile(dir / "missing.log", sink);
  EXPECT_THAT(sink.events.back(), ::testing::StartsWith("LoadLogFileData Routine Error= 53\r\n"));
  EXPECT_EQ(model.LogFileName(), "missing.log");
  EXPECT_TRUE(model.Series(4).empty());
  EXPECT_EQ(model.Series(1).size(), 1000u);
  tarvel::testing::WriteAll(dir / "short.log", "0123456789");
  model.LoadLogFile(dir / "short.log", sink);
  EXPECT_THAT(sink.events.back(), ::testing::StartsWith("LoadLogFileData Routine Error= 13\r\n"));

  // A failed load after a good one shows none of the old log's traces under the new name.
  tarvel::testing::WriteAll(dir / "good.log", Records(20));
  model.LoadLogFile(dir / "good.log", sink);
  ASSERT_EQ(model.Series(4).size(), 1000u);
  model.LoadLogFile(dir / "missing.log", sink);
  EXPECT_EQ(model.LogFileName(), "missing.log");
  EXPECT_TRUE(model.Series(4).empty());
  EXPECT_TRUE(model.Series(5).empty());
  EXPECT_EQ(model.LogPointCount(), 0u);

  tarvel::testing::WriteAll(dir / "run.log", "   550.25  510  498\r\n");
  model.LoadLogFile(dir / "run.log", sink);
  EXPECT_EQ(model.PointActivated(5, 0, sink), "DataPoint: Time= 550.25  Temperature= 498");
  EXPECT_EQ(model.PointSelected(5, 0, sink), 2);  // inside the hold: row 2
  EXPECT_EQ(model.PointSelected(1, 549, sink), 2);

  // A plot that fails keeps the data it had.
  ProfileTable broken = ThreeSegments();
  broken.at(3, kStartTemp) = "hot";
  model.ClearLogFile(sink);
  model.PlotDesignProfile(broken, sink);
  EXPECT_EQ(sink.events.back(), "PlotLoResProfile Routine Error= 13\r\nRow 3 Start Temp \"hot\" is not a number");
  EXPECT_EQ(model.ProblemCell(), (CellRef{3, kStartTemp}));
  EXPECT_EQ(model.Series(1).size(), 4u) << "the chart keeps the data it had";
  model.PlotDesignProfile(ThreeSegments(), sink);
  EXPECT_EQ(model.ProblemCell(), std::nullopt);
}

TEST(ChartData, AFailedPlotSaysWhichCellAndWhy) {
  // A cleared Duration leaves Start Times the chart cannot place; each case names the first such cell.
  struct Case {
    int row, column;
    const char* text;
    bool hiRes;
    const char* line;
  };
  const Case cases[] = {
      {3, kStartTime, "", true, "Row 3 Start Time is empty: enter the Duration of row 2"},
      {2, kDuration, "", true, "Row 2 Duration is empty: every segment before the end needs one"},
      {2, kDuration, "0", true, "Row 2 Duration is 0: a segment needs a length"},
      {2, kErrorLimits, "x", false, "Row 2 Error Limits \"x\" is not a number"},
      {3, kStartTemp, "", true, "Row 3 Start Temp is empty: enter the End Temp of row 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ProfileTable table = ThreeSegments();
    table.at(c.row, c.column) = c.text;
    auto problem = ChartCellProblem(table, 4, c.hiRes);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->text, c.line);
    EXPECT_EQ(problem->cell, (CellRef{c.row, c.column}));
  }
  EXPECT_EQ(ChartCellProblem(ThreeSegments(), 4, true), std::nullopt);
  ProfileTable table = ThreeSegments();
  table.at(3, kStartTime) = "";
  EXPECT_EQ(ChartCellProblem(table, 4, false), std::nullopt) << "the low resolution repeats an empty cell";

  // With a log shown the design is sampled: the routine's line and the cell it stumbled on.
  TempDir dir;
  tarvel::testing::WriteAll(dir / "run.log", Records(5));
  ChartModel model;
  RecordingSink sink;
  model.PlotDesignProfile(ThreeSegments(), sink);
  model.LoadLogFile(dir / "run.log", sink);
  ProfileTable gap = ThreeSegments();
  gap.at(2, kDuration) = "";
  model.PlotDesignProfile(gap, sink);
  EXPECT_EQ(sink.events.back(),
            "InterpolateTemperature Routine Error= 13\r\nRow 2 Duration is empty: every "
            "segment before the end needs one");
  EXPECT_EQ(model.ProblemCell(), (CellRef{2, kDuration}));
}

TEST(ChartAxes, TicksFallOnOneTwoFiveSteps) {
  struct Case {
    double span;
    int intervals;
    double step;
  };
  for (Case c : {Case{363, 8, 50}, Case{363, 5, 100}, Case{630, 5, 200}, Case{630, 8, 100}, Case{1, 5, 0.2},
                 Case{0.07, 7, 0.01}, Case{30000, 6, 5000}, Case{0, 5, 1}, Case{-3, 5, 1}})
    EXPECT_DOUBLE_EQ(NiceStep(c.span, c.intervals), c.step) << c.span << " in " << c.intervals;

  AxisTicks ticks = TicksOf({53.5, 416.5}, 8);  // the trend's old odd ticks
  EXPECT_DOUBLE_EQ(ticks.first, 100);
  EXPECT_DOUBLE_EQ(ticks.step, 50);
  EXPECT_EQ(ticks.count, 7);  // 100 .. 400
  ticks = TicksOf({-12.5, 12.5}, 5);
  EXPECT_DOUBLE_EQ(ticks.first, -10);
  EXPECT_EQ(ticks.count, 5);

  EXPECT_EQ(NiceRange(70, 400, 8), (AxisRange{50, 400}));
  EXPECT_EQ(NiceRange(0, 630, 8), (AxisRange{0, 700}));
  EXPECT_EQ(NiceRange(250, 250, 8), (AxisRange{249, 251}));
  EXPECT_EQ(NiceRange(5, 1, 8), (AxisRange{0, 1})) << "no data";

  for (auto [step, decimals] : {std::pair{0.25, 2}, {0.5, 1}, {0.01, 2}, {5.0, 0}, {200.0, 0}})
    EXPECT_EQ(TickDecimals(step), decimals) << step;
}

TEST(ChartAxes, LongRunsAreReadInHoursAndMinutesOnClockSteps) {
  AxisTicks ticks = ClockTicksOf({0, 630}, 6);  // the demo program: every two hours
  EXPECT_EQ(std::tie(ticks.first, ticks.step, ticks.count), std::tuple(0.0, 120.0, 6));
  ticks = ClockTicksOf({47, 190}, 8);
  EXPECT_EQ(std::tie(ticks.first, ticks.step, ticks.count), std::tuple(60.0, 30.0, 5));
  EXPECT_EQ(ClockTicksOf({0, 10 * 1440}, 4).step, 5 * 1440.0) << "days beyond half a day";
  for (auto [minutes, text] :
       {std::pair{90.0, "1:30"}, {1505.0, "25:05"}, {0.0, "0:00"}, {-30.0, "-0:30"}, {59.6, "1:00"}})
    EXPECT_EQ(ClockText(minutes), text) << minutes;
}

TEST(ChartAxes, ZoomKeepsThePointUnderTheCursorAndPanMovesByAFraction) {
  const AxisRange full{0, 100};
  EXPECT_EQ(ZoomAround(full, 50, 0.5, full), (AxisRange{25, 75}));
  EXPECT_EQ(ZoomAround(full, 80, 0.5, full), (AxisRange{40, 90}));
  EXPECT_EQ(ZoomAround({40, 90}, 80, 2, full), full);
  AxisRange tiny = full;
  for (int i = 0; i < 100; ++i) tiny = ZoomAround(tiny, 50, 0.1, full);
  EXPECT_NEAR(tiny.Span(), 1e-4, 1e-9) << "never narrower than a millionth of the full span";
  EXPECT_EQ(PanBy(full, 0.1), (AxisRange{10, 110}));
  EXPECT_EQ(PanBy(full, -0.25), (AxisRange{-25, 75}));
  EXPECT_EQ(RangeBetween(80, 20, full), (AxisRange{20, 80}));
  EXPECT_EQ(RangeBetween(5, 5 + 1e-9, full), std::nullopt);
}

TEST(ChartAxes, ReadOutValuesAndThePointAClickMeans) {
  const std::vector<ChartPoint> design{{0, 70}, {60, 250}, {180, 250}, {180, 300}, {240, 300}};
  EXPECT_EQ(ValueAt(design, 30), 160);
  EXPECT_EQ(ValueAt(design, 60), 250);
  EXPECT_EQ(ValueAt(design, 180), 250) << "a step takes the value the trace reaches first";
  EXPECT_EQ(ValueAt(design, 210), 300);
  EXPECT_EQ(ValueAt(design, 241), std::nullopt);
  EXPECT_EQ(ValueAt(design, -1), std::nullopt);
  EXPECT_EQ(ValueAt({}, 5), std::nullopt);
  EXPECT_EQ(ValueAt({{5, 42}}, 5), 42);

  EXPECT_EQ(ReadoutText(60, {{"Design Profile", 250}, {"Temp Record", 245.456}, {"Recorded Profile", std::nullopt}}),
            "Time= 60  Design Profile= 250  Temp Record= 245.46");
  EXPECT_EQ(ReadoutText(12.5, {}), "Time= 12.5");

  // Screen coordinates: the design along y = 100, its band 3 pixels below, a log far away.
  const std::vector<std::vector<ChartPoint>> traces{
      {{100, 100}, {200, 100}}, {{100, 103}, {200, 103}}, {}, {{100, 300}, {200, 300}}};
  EXPECT_EQ(PickPoint(traces, {101, 102}, 6), (PickedPoint{0, 0})) << "the design before its band";
  EXPECT_EQ(PickPoint(traces, {190, 101}, 6), (PickedPoint{0, 1}));
  EXPECT_EQ(PickPoint(traces, {150, 298}, 6), (PickedPoint{3, 0})) << "on the line between two points";
  EXPECT_EQ(PickPoint(traces, {150, 200}, 6), std::nullopt);
  auto withoutDesign = traces;
  withoutDesign[0].clear();
  EXPECT_EQ(PickPoint(withoutDesign, {101, 102}, 6), (PickedPoint{1, 0}));
}

}  // namespace
}  // namespace tarvel::profile
