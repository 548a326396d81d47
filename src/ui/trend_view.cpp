#include "ui/trend_view.h"

#include <QChart>
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
  auto* chart = new QChart;
  chart->setTitle("Run trend: monitoring on records each reading");
  chart->setMargins(QMargins(4, 2, 4, 2));
  timeAxis_ = new QValueAxis;
  temperatureAxis_ = new QValueAxis;
  view_ = new ChartView(chart, timeAxis_, temperatureAxis_);
  view_->setObjectName("RunTrendChart");
  view_->setMinimumHeight(150);  // room for the axes' labels
  layout->addWidget(view_, 1);
  layout->addWidget(view_->ToolRow());

  timeAxis_->setTitleText("Minutes");
  chart->addAxis(timeAxis_, Qt::AlignBottom);
  chart->addAxis(temperatureAxis_, Qt::AlignLeft);
  // The design first, so the run is drawn over it.
  design_ = Line("Design Profile", QColor(170, 170, 210), 5);
  setPoint_ = Line("Set Point", QColor(0, 0, 200), 2);
  process_ = Line("Process Value", QColor(220, 60, 0), 2);
  for (QLineSeries* series : {design_, setPoint_, process_}) {
    chart->addSeries(series);
    series->attachAxis(timeAxis_);
    series->attachAxis(temperatureAxis_);
  }
  chart->legend()->setAlignment(Qt::AlignRight);
  view_->SetTraces({{design_, "Design Profile"}, {setPoint_, "Set Point"}, {process_, "Process Value"}});
  Redraw();
}

void TrendView::Follow(console::RunRecorder& recorder) {
  recorder.OnPoint([this](const console::RunTrace& trace, const console::RunPoint& point) {
    QMetaObject::invokeMethod(this, [this, trace, point] { Add(trace, point); }, Qt::QueuedConnection);
  });
}

std::size_t TrendView::DesignPointCount() const { return static_cast<std::size_t>(design_->count()); }

void TrendView::StartTrace(const console::RunTrace& trace) {
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
  const QString profile = QString::fromStdString(trace.profileName.empty() ? "no executing profile" : trace.profileName);
  view_->chart()->setTitle(QString("Channel %1 - %2").arg(trace.channel).arg(profile));
  timeAxis_->setTitleText(trace.profileName.empty() ? "Minutes since monitoring began" : TimeUnit(trace.timeScale));
}

void TrendView::Add(const console::RunTrace& trace, const console::RunPoint& point) {
  if (!trace_ || !(*trace_ == trace)) StartTrace(trace);
  points_.Add(point);
  Redraw();
  emit pointAdded();
}

void TrendView::Redraw() {
  QList<QPointF> setPoints, process;
  double xHigh = 1, yLow = std::numeric_limits<double>::max(), yHigh = std::numeric_limits<double>::lowest();
  for (const console::RunPoint& p : points_.Points()) {
    setPoints.append(QPointF(p.time, p.setPoint));
    process.append(QPointF(p.time, p.processValue));
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
  setPoint_->replace(setPoints);
  process_->replace(process);
  if (yLow > yHigh) yLow = 0, yHigh = 100;
  view_->SetDataRange({0, xHigh}, {yLow, yHigh});
}

}  // namespace tarvel::ui
