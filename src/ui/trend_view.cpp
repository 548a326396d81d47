#include "ui/trend_view.h"

#include <QCategoryAxis>
#include <QChart>
#include <QGraphicsLayout>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMetaObject>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <limits>

#include "profile/chart_data.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "ui/chart_view.h"

namespace tarvel::ui {
namespace {

QString TimeUnit(char scale) {
  switch (scale) {
    case 'S': return "Seconds";
    case 'H': return "Hours";
    default: return "Minutes";
  }
}

double MinutesPerUnit(char scale) {
  switch (scale) {
    case 'S': return 1.0 / 60;
    case 'H': return 60;
    default: return 1;
  }
}

QLineSeries* Line(const QString& name, const QColor& colour, int width) {
  auto* series = new QLineSeries;
  series->setName(name);
  QPen pen(colour);
  pen.setWidth(width);
  series->setPen(pen);
  return series;
}

}  // namespace

TrendView::TrendView(QWidget* parent) : QWidget(parent) {
  setObjectName("RunTrend");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  // No title: the caption stands in the tool row, so the plot keeps the height.
  auto* chart = new QChart;
  chart->setMargins(QMargins(2, 0, 2, 0));
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  chart->setBackgroundRoundness(0);
  timeAxis_ = new QCategoryAxis;
  temperatureAxis_ = new QValueAxis;
  view_ = new ChartView(chart, timeAxis_, temperatureAxis_);
  view_->setObjectName("RunTrendChart");
  view_->setMinimumHeight(120);  // room for the axes' labels and three ticks
  layout->addWidget(view_, 1);
  layout->addWidget(view_->ToolRow());

  chart->addAxis(timeAxis_, Qt::AlignBottom);
  chart->addAxis(temperatureAxis_, Qt::AlignLeft);
  // The design first, so the run is drawn over it.
  design_ = Line("Design Profile", QColor(170, 170, 210), 5);
  chart->addSeries(design_);
  design_->attachAxis(timeAxis_);
  design_->attachAxis(temperatureAxis_);
  Leg(setPoint_, 0);
  Leg(process_, 0);
  chart->legend()->setAlignment(Qt::AlignRight);  // beside the plot: the height is the plot's
  view_->SetCaption("Run trend: monitoring on records each reading");
  view_->SetClockTime(1, "Minutes");
  Redraw();
}

QLineSeries* TrendView::Leg(std::vector<QLineSeries*>& legs, std::size_t n) {
  while (legs.size() <= n) {
    const bool setPoint = &legs == &setPoint_;
    QLineSeries* series =
        setPoint ? Line("Set Point", QColor(0, 0, 200), 2) : Line("Process Value", QColor(220, 60, 0), 2);
    view_->chart()->addSeries(series);
    series->attachAxis(timeAxis_);
    series->attachAxis(temperatureAxis_);
    if (!legs.empty())
      for (QLegendMarker* marker : view_->chart()->legend()->markers(series)) marker->setVisible(false);
    legs.push_back(series);
    // The read-out takes the newest piece first: after a jump back it lies over older ones.
    std::vector<ChartView::Trace> traces{{design_, "Design Profile"}};
    for (auto* pieces : {&setPoint_, &process_})
      for (auto it = pieces->rbegin(); it != pieces->rend(); ++it)
        traces.push_back({*it, pieces == &setPoint_ ? "Set Point" : "Process Value"});
    view_->SetTraces(traces);
  }
  return legs[n];
}

void TrendView::Follow(controller::RunRecorder& recorder) {
  recorder.OnPoint([this](const controller::RunTrace& trace, const controller::RunPoint& point) {
    QMetaObject::invokeMethod(
        this, [this, trace, point] { Add(trace, point); }, Qt::QueuedConnection);
  });
}

std::size_t TrendView::DesignPointCount() const { return static_cast<std::size_t>(design_->count()); }

std::vector<QLineSeries*> TrendView::SetPointLegs() const {
  return {setPoint_.begin(), setPoint_.begin() + static_cast<std::ptrdiff_t>(std::max<std::size_t>(legsShown_, 1))};
}

void TrendView::StartTrace(const controller::RunTrace& trace) {
  trace_ = trace;
  points_.Clear();
  QList<QPointF> design;
  if (!trace.profileFile.empty()) {
    if (auto text = profile::LoadProfileFile(trace.profileFile); text.ok()) {
      const profile::ProfileTable table = profile::ParseProfileText(text.value());
      if (auto rows = profile::PlotLoResProfile(table, profile::LastProfileRow(table)); rows.ok())
        for (const profile::ChartRow& row : rows.value()) design.append(QPointF(row[0], row[1]));
    }
  }
  design_->replace(design);
  design_->setVisible(!design.isEmpty());
  const QString profile =
      QString::fromStdString(trace.profileName.empty() ? "no executing profile" : trace.profileName);
  view_->SetCaption(QString("Channel %1 - %2").arg(trace.channel).arg(profile));
  if (trace.profileName.empty())
    view_->SetClockTime(1, "Minutes since monitoring began");
  else
    view_->SetClockTime(MinutesPerUnit(trace.timeScale), TimeUnit(trace.timeScale));
  temperatureAxis_->setTitleText(trace.temperatureScale == 'F'   ? "Deg-F"
                                 : trace.temperatureScale == 'C' ? "Deg-C"
                                                                 : QString());
}

void TrendView::Add(const controller::RunTrace& trace, const controller::RunPoint& point) {
  if (!trace_ || !(*trace_ == trace)) StartTrace(trace);
  points_.Add(point);
  Redraw();
  emit pointAdded();
}

void TrendView::Redraw() {
  // One piece per leg of the run: a gap is never bridged by a line.
  std::vector<QList<QPointF>> setPoints, process;
  double xHigh = 1, yLow = std::numeric_limits<double>::max(), yHigh = std::numeric_limits<double>::lowest();
  for (const controller::RunPoint& p : points_.Points()) {
    if (setPoints.empty() || p.breakBefore) {
      setPoints.emplace_back();
      process.emplace_back();
    }
    setPoints.back().append(QPointF(p.time, p.setPoint));
    process.back().append(QPointF(p.time, p.processValue));
    xHigh = std::max(xHigh, p.time);
    yLow = std::min({yLow, double(p.setPoint), double(p.processValue)});
    yHigh = std::max({yHigh, double(p.setPoint), double(p.processValue)});
  }
  for (int i = 0; i < design_->count(); ++i) {
    const QPointF p = design_->at(i);
    xHigh = std::max(xHigh, p.x());
    yLow = std::min(yLow, p.y());
    yHigh = std::max(yHigh, p.y());
  }
  const std::size_t legs = std::max(setPoints.size(), legsShown_);
  for (std::size_t n = 0; n < legs; ++n) {
    Leg(setPoint_, n)->replace(n < setPoints.size() ? setPoints[n] : QList<QPointF>());
    Leg(process_, n)->replace(n < process.size() ? process[n] : QList<QPointF>());
  }
  legsShown_ = setPoints.size();
  if (yLow > yHigh) yLow = 0, yHigh = 100;
  view_->SetDataRange({0, xHigh}, {yLow, yHigh});
}

}  // namespace tarvel::ui
