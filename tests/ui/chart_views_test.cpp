// The editor's chart and the console's live trend as a user meets them.
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gmock/gmock.h>

#include "console/console.h"
#include "console/console_fixture.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "support/temp_dir.h"
#include "ui/console_window.h"
#include "ui/edit_chart.h"
#include "ui/trend_view.h"

namespace tarvel::ui {
namespace {

using namespace std::chrono_literals;

// 100 -> 500 over 400 minutes (limit 10), hold 300, 500 -> 200 over 300 (limit 20).
profile::ProfileTable Profile() {
  const char* rows[4][10] = {
      {"1", "0.00", "400", "r", "100", "500", "1.00", "10", "", ""},
      {"2", "400.00", "300", "h", "500", "500", "0.00", "", "", ""},
      {"3", "700.00", "300", "r", "500", "200", "-1.00", "20", "", ""},
      {"4", "1000.00", "", "e", "200", "", "", "", "", ""},
  };
  profile::ProfileTable table;
  for (int r = 1; r <= profile::kLastSegmentRow; ++r) table.at(r, 0) = std::to_string(r);
  for (int r = 0; r < 4; ++r)
    for (int c = 1; c < profile::kTableColumns; ++c) table.at(r + 1, c) = rows[r][c];
  return table;
}

TEST(EditChartWidget, DrawsTheProfileAndALogAndPassesPointClicksOn) {
  tarvel::testing::TempDir dir;
  EditChart chart{AppFolder(dir.path())};
  QSignalSpy messages(&chart, &EditChart::message);
  chart.resize(900, 600);
  chart.show();
  chart.SetProfile(Profile(), {});
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));

  EXPECT_EQ(chart.Series(1)->count(), 4);
  EXPECT_EQ(chart.Series(2)->at(1), QPointF(400, 510));
  EXPECT_EQ(chart.Series(1)->name(), "Design Profile");
  EXPECT_EQ(chart.Series(2)->name(), "Design Alarm Limits");
  EXPECT_FALSE(chart.Chart()->legend()->markers(chart.Series(3)).front()->isVisible());

  auto* limits = chart.findChild<QCheckBox*>("DesignProfileLimitsPlotSelect");
  limits->click();
  EXPECT_FALSE(chart.Series(2)->isVisible());
  EXPECT_FALSE(chart.Series(3)->isVisible());
  limits->click();
  EXPECT_TRUE(chart.Series(2)->isVisible() && chart.Series(3)->isVisible());

  // A double click near a design point names it (the editor test follows a click to its row).
  emit chart.Series(1)->doubleClicked(QPointF(699, 501));
  EXPECT_EQ(messages.last()[0].toString(), "DataPoint: Time= 700  Temperature= 500");

  std::string log;
  for (int p = 0; p < 2000; ++p) log += " " + std::to_string(100000 + p).substr(1) + ".00  300  290\r\n";
  tarvel::testing::WriteAll(dir / "run.log", log);
  chart.LoadLogFile(QString::fromStdString((dir / "run.log").string()));
  EXPECT_EQ(chart.findChild<QLineEdit*>("LogFileNameDisplay")->text(), "run.log");
  EXPECT_EQ(messages.last()[0].toString(), "Log File has 2000 points");
  EXPECT_EQ(chart.Series(4)->count(), 1000);
  EXPECT_EQ(chart.Series(4)->at(999), QPointF(1999, 300));  // every second record: the last is the file's last
  EXPECT_EQ(chart.Series(1)->count(), 1000);
  chart.findChild<QCheckBox*>("RecordedTempDataPlotSelect")->click();
  EXPECT_FALSE(chart.Series(5)->isVisible());
  EXPECT_EQ(chart.PlotSelection(), (std::array<bool, 4>{true, true, true, false}));
}

class TrendOnConsole : public console::ConsoleFixture {};

TEST_F(TrendOnConsole, GrowsWithEachReadingOverTheExecutingProfile) {
  Map(1, 1, "Kiln");
  console::RunThreeStepProgram(sim_, 1);
  ASSERT_TRUE(profile::SaveProfileText(folder_.Profiles() / "Three step.txt",
                                       profile::BuildProfileText(Profile(), {})));
  store_.SaveRunSelection(1, "Three step.txt", 1, 3);
  CommandRunner runner;
  ConsoleWindow window({true, "/dev/pts/test", {}}, runner);
  console::Console console(folder_, store_, line_, window.View(), {true, true});
  window.show();
  window.Start(console);
  auto idle = [&] {
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Runner().Busy(); }, 10000));
    QCoreApplication::processEvents();
  };
  idle();
  TrendView* trend = window.Trend();
  ASSERT_NE(trend, nullptr);
  EXPECT_EQ(trend->PointCount(), 1u) << "the start-up reading";
  EXPECT_EQ(trend->DesignPointCount(), 4u) << "the executing profile's file is in Profiles/";

  QTest::mouseClick(window.findChild<QPushButton*>("MonitorRunStateButton"), Qt::LeftButton);
  idle();
  sim_.AdvanceTime(30min);
  window.findChild<QAction*>("mnuReadRunState")->trigger();
  idle();
  EXPECT_EQ(trend->PointCount(), 3u);
  auto* setPoint = qobject_cast<QLineSeries*>(trend->View()->chart()->series().at(1));
  ASSERT_NE(setPoint, nullptr);
  EXPECT_EQ(setPoint->at(2), QPointF(30, sim_.Unit(1).profileSetPoint));
  window.Runner().Shutdown();
}

}  // namespace
}  // namespace tarvel::ui
