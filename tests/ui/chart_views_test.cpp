// The editor's chart as a user meets it.
#include <QApplication>
#include <QChart>
#include <QImage>
#include <QLabel>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QValueAxis>
#include <QWheelEvent>

#include <gmock/gmock.h>

#include <cmath>

#include "support/profiles.h"
#include "support/temp_dir.h"
#include "ui/chart_view.h"
#include "ui/edit_chart.h"

namespace tarvel::ui {
namespace {

// Where a value point lies in the chart's viewport.
QPoint Pixel(EditChart& chart, double time, double temperature) {
  return chart.View()->mapFromScene(chart.Chart()->mapToPosition(QPointF(time, temperature), chart.Series(1)));
}

bool OnOneTwoFive(double step) {
  const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
  return std::abs(mantissa - 1) < 1e-6 || std::abs(mantissa - 2) < 1e-6 || std::abs(mantissa - 5) < 1e-6;
}

void ExpectNiceTicks(QValueAxis* axis) {
  EXPECT_TRUE(OnOneTwoFive(axis->tickInterval())) << axis->tickInterval();
  EXPECT_NEAR(std::remainder(axis->tickAnchor(), axis->tickInterval()), 0, 1e-9);
}

// The editor's chart on its own, showing the three segments.
class EditChartWidget : public ::testing::Test {
 protected:
  void SetUp() override {
    chart.resize(900, 600);
    chart.show();
    chart.SetProfile(tarvel::testing::ThreeSegmentTable(), {});
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
  }
  tarvel::testing::TempDir dir;
  EditChart chart{AppFolder(dir.path())};
};

TEST_F(EditChartWidget, TicksZoomPanResetAndTheReadOut) {
  ChartView* view = chart.View();
  auto* time = qobject_cast<QValueAxis*>(chart.Chart()->axes(Qt::Horizontal).front());
  auto* temperature = qobject_cast<QValueAxis*>(chart.Chart()->axes(Qt::Vertical).front());
  ExpectNiceTicks(time);
  ExpectNiceTicks(temperature);
  EXPECT_EQ(view->TimeRange(), (profile::AxisRange{0, 1000}));
  const profile::AxisRange full = view->ValueRange();
  EXPECT_LE(full.low, 100);
  EXPECT_GE(full.high, 510);

  // The wheel zooms in around the cursor: the time under it stays put.
  const QPoint at = Pixel(chart, 400, 300);
  QWheelEvent wheel(at, view->viewport()->mapToGlobal(at), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(view->viewport(), &wheel);
  EXPECT_TRUE(view->Zoomed());
  EXPECT_LT(view->TimeRange().Span(), 1000);
  // (within the pixel or two the axis labels' new width moves the plot by)
  EXPECT_NEAR(chart.Chart()->mapToValue(view->mapToScene(at)).x(), 400, 4);
  ExpectNiceTicks(time);

  // Home shows the whole chart again; a box dragged with the mouse becomes the view.
  QTest::keyClick(view, Qt::Key_Home);
  EXPECT_FALSE(view->Zoomed());
  EXPECT_EQ(view->TimeRange(), (profile::AxisRange{0, 1000}));
  QTest::mousePress(view->viewport(), Qt::LeftButton, {}, Pixel(chart, 200, 450));
  QTest::mouseMove(view->viewport(), Pixel(chart, 500, 250));
  QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, Pixel(chart, 500, 250));
  EXPECT_NEAR(view->TimeRange().low, 200, 3);
  EXPECT_NEAR(view->TimeRange().high, 500, 3);
  EXPECT_NEAR(view->ValueRange().low, 250, 3);
  EXPECT_NEAR(view->ValueRange().high, 450, 3);

  // Dragging with the right button pans: the plot follows the mouse.
  const profile::AxisRange before = view->TimeRange();
  const QPoint from = Pixel(chart, 400, 350);
  QTest::mousePress(view->viewport(), Qt::RightButton, {}, from);
  QTest::mouseMove(view->viewport(), from + QPoint(60, 0));
  QTest::mouseRelease(view->viewport(), Qt::RightButton, {}, from + QPoint(60, 0));
  EXPECT_LT(view->TimeRange().low, before.low);
  EXPECT_NEAR(view->TimeRange().Span(), before.Span(), 1e-6);
  chart.findChild<QPushButton*>("ResetZoomButton")->click();
  EXPECT_EQ(view->TimeRange(), (profile::AxisRange{0, 1000}));

  // The read-out names the time and each trace's value under the mouse.
  QTest::mouseMove(view->viewport(), Pixel(chart, 200, 300));
  const QString readout = chart.findChild<QLabel*>("ChartReadout")->text();
  QRegularExpressionMatch m = QRegularExpression(
                                  "^Time= ([0-9.]+)  Design Profile= ([0-9.]+)  Alarm High= ([0-9.]+)"
                                  "  Alarm Low= ([0-9.]+)$")
                                  .match(readout);
  ASSERT_TRUE(m.hasMatch()) << readout.toStdString();
  const double t = m.captured(1).toDouble();
  EXPECT_NEAR(t, 200, 2);
  EXPECT_NEAR(m.captured(2).toDouble(), 100 + t, 0.01);  // 100 -> 500 over 400 minutes
  EXPECT_NEAR(m.captured(3).toDouble(), 110 + t, 0.02);  // the band drawn through the rows' own points
}

TEST_F(EditChartWidget, SavesAPictureAndPrintsAndTheLogCanBeRemoved) {
  // At the size chosen, not the window's, with what it shows and when.
  QString why;
  chart.View()->SetCaption("Profile drying.txt");
  ASSERT_TRUE(chart.View()->SaveImage(QString::fromStdString((dir / "chart.png").string()), {1200, 750}, why))
      << why.toStdString();
  EXPECT_EQ(tarvel::testing::ReadAll(dir / "chart.png").substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(QImage(QString::fromStdString((dir / "chart.png").string())).size(), QSize(1200, 750));
  ASSERT_TRUE(chart.View()->SaveImage(QString::fromStdString((dir / "chart.svg").string()), {1600, 1000}, why));
  const std::string svg = tarvel::testing::ReadAll(dir / "chart.svg");
  EXPECT_NE(svg.find("viewBox=\"0 0 1600 1000\""), std::string::npos);
  for (const char* text : {"Design Profile", "Profile drying.txt", "Tarvel, 20", "Minutes"})
    EXPECT_NE(svg.find(text), std::string::npos) << text << " is text in the picture";
  EXPECT_FALSE(
      chart.View()->SaveImage(QString::fromStdString((dir / "gone" / "chart.png").string()), {1200, 750}, why));
  EXPECT_EQ(why.toStdString(), "cannot write " + (dir / "gone" / "chart.png").string());
  QPrinter printer;
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString((dir / "chart.pdf").string()));
  chart.View()->Print(printer);
  EXPECT_EQ(tarvel::testing::ReadAll(dir / "chart.pdf").substr(0, 5), "%PDF-");

  std::string log;
  for (int p = 0; p < 20; ++p) log += " " + std::to_string(100000 + p * 50).substr(1) + ".00  300  290\r\n";
  tarvel::testing::WriteAll(dir / "run.log", log);
  chart.LoadLogFile(QString::fromStdString((dir / "run.log").string()));
  EXPECT_EQ(chart.Series(5)->count(), 1000);
  chart.findChild<QPushButton*>("RemoveLogButton")->click();
  EXPECT_EQ(chart.Series(4)->count(), 0);
  EXPECT_EQ(chart.Series(5)->count(), 0);
  EXPECT_EQ(chart.Series(1)->count(), 4) << "the design alone, at its own points";
  EXPECT_EQ(chart.findChild<QLineEdit*>("LogFileNameDisplay")->text(), "");
}

TEST_F(EditChartWidget, DrawsTheProfileAndPassesPointClicksOn) {
  QSignalSpy messages(&chart, &EditChart::message);

  EXPECT_EQ(chart.Series(1)->count(), 4);
  EXPECT_EQ(chart.Series(2)->at(1), QPointF(400, 510));
  EXPECT_EQ(chart.Series(1)->name(), "Design Profile");
  EXPECT_EQ(chart.Series(2)->name(), "Design Alarm Limits");
  EXPECT_FALSE(chart.Chart()->legend()->markers(chart.Series(3)).front()->isVisible());

  // A double click on a design point names it, though the band's lines pass by as well.
  QTest::mouseDClick(chart.View()->viewport(), Qt::LeftButton, {}, Pixel(chart, 700, 500));
  EXPECT_EQ(messages.last()[0].toString(), "DataPoint: Time= 700  Temperature= 500");
}

}  // namespace
}  // namespace tarvel::ui
