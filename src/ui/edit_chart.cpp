#include "ui/edit_chart.h"

#include <QAction>
#include <QCheckBox>
#include <QChart>
#include <QChartView>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarvel::ui {
namespace {

// The chart routines write to the editor's message area through the widget's signals.
class SignalSink final : public profile::MessageSink {
 public:
  explicit SignalSink(EditChart& chart) : chart_(chart) {}
  void Clear() override { emit chart_.clearMessages(); }
  void Display(std::string_view text) override {
    emit chart_.message(QString::fromStdString(std::string(text)));
  }

 private:
  EditChart& chart_;
};

QString TimeTitle(profile::TimeScale scale) {
  switch (scale) {
    case profile::TimeScale::Seconds: return "Seconds";
    case profile::TimeScale::Minutes: return "Minutes";
    case profile::TimeScale::Hours: return "Hours";
  }
  return "Minutes";
}

// A range with a little room around it, and some width when all points share one value.
std::pair<double, double> Padded(double low, double high) {
  if (!(low <= high)) return {0, 1};
  double room = (high - low) * 0.05;
  if (room == 0) room = std::max(1.0, std::abs(high) * 0.05);
  return {low - room, high + room};
}

}  // namespace

EditChart::EditChart(AppFolder folder, QWidget* parent) : QWidget(parent), folder_(std::move(folder)) {
  setObjectName("EditChartPanel");
  // The frames stack: beside the worksheet the panel is narrow, and the log's name needs the width.
  auto* layout = new QVBoxLayout(this);

  auto* logFrame = new QGroupBox("Log File");
  logFrame->setObjectName("frameLogFile");
  auto* logLayout = new QHBoxLayout(logFrame);
  logFileName_ = new QLineEdit;
  logFileName_->setObjectName("LogFileNameDisplay");
  logFileName_->setReadOnly(true);
  auto* loadButton = new QPushButton("Load Log File");
  loadButton->setObjectName("LoadLogFileButton");
  logLayout->addWidget(logFileName_, 1);
  logLayout->addWidget(loadButton);
  layout->addWidget(logFrame);

  auto* selectFrame = new QGroupBox("Plot Trace Selection");
  selectFrame->setObjectName("framePlotTraceSelection");
  auto* selectLayout = new QHBoxLayout(selectFrame);
  const std::pair<const char*, const char*> boxes[] = {{"Design Profile", "DesignProfilePlotSelect"},
                                                       {"Alarm Limits", "DesignProfileLimitsPlotSelect"},
                                                       {"Recorded Profile", "RecordedProfilePlotSelect"},
                                                       {"Temp Record", "RecordedTempDataPlotSelect"}};
  for (std::size_t i = 0; i < plotSelect_.size(); ++i) {
    plotSelect_[i] = new QCheckBox(boxes[i].first);
    plotSelect_[i]->setObjectName(boxes[i].second);
    plotSelect_[i]->setChecked(true);
    selectLayout->addWidget(plotSelect_[i]);
    connect(plotSelect_[i], &QCheckBox::toggled, this, [this] { ApplyPlotSelection(); });
  }
  layout->addWidget(selectFrame);

  auto* chartFrame = new QGroupBox("Design Profile");
  chartFrame->setObjectName("frameDesignProfile");
  auto* chartLayout = new QVBoxLayout(chartFrame);
  auto* chart = new QChart;
  view_ = new QChartView(chart);
  view_->setObjectName("EditChart");
  view_->setRenderHint(QPainter::Antialiasing);
  view_->setMinimumSize(480, 300);
  chartLayout->addWidget(view_);
  layout->addWidget(chartFrame, 1);

  timeAxis_ = new QValueAxis;
  temperatureAxis_ = new QValueAxis;
  timeAxis_->setTitleText("Minutes");
  temperatureAxis_->setTitleText("Deg-F");
  chart->addAxis(timeAxis_, Qt::AlignBottom);
  chart->addAxis(temperatureAxis_, Qt::AlignLeft);
  const QColor colours[] = {QColor(0, 0, 200), QColor(220, 0, 0), QColor(220, 0, 0), QColor(0, 150, 0),
                            QColor(230, 120, 0)};
  for (int s = 1; s <= profile::kChartSeriesCount; ++s) {
    auto* series = new QLineSeries;
    series->setName(QString::fromUtf8(profile::SeriesLegends()[s - 1].data(),
                                      static_cast<int>(profile::SeriesLegends()[s - 1].size())));
    QPen pen(colours[s - 1]);
    pen.setWidth(2);
    if (s == 2 || s == 3) pen.setStyle(Qt::DashLine);
    series->setPen(pen);
    chart->addSeries(series);
    series->attachAxis(timeAxis_);
    series->attachAxis(temperatureAxis_);
    series_[s - 1] = series;
    connect(series, &QLineSeries::clicked, this, [this, s](const QPointF& at) { Clicked(s, at, false); });
    connect(series, &QLineSeries::doubleClicked, this, [this, s](const QPointF& at) { Clicked(s, at, true); });
  }
  // The lower band shares the upper one's legend entry.
  for (QLegendMarker* marker : chart->legend()->markers(series_[2])) marker->setVisible(false);
  chart->legend()->setAlignment(Qt::AlignBottom);

  loadLogFileAction_ = new QAction("Load Log File", this);
  loadLogFileAction_->setObjectName("mnuLoadLogFile");
  connect(loadLogFileAction_, &QAction::triggered, this, &EditChart::ChooseLogFile);
  connect(loadButton, &QPushButton::clicked, this, &EditChart::ChooseLogFile);
  Redraw();
}

QChart* EditChart::Chart() const { return view_->chart(); }

void EditChart::SetProfile(const profile::ProfileTable& table, const profile::ProfileSettings& settings) {
  timeAxis_->setTitleText(TimeTitle(settings.timeScale));
  temperatureAxis_->setTitleText(settings.temperatureScale == profile::TemperatureScale::Fahrenheit ? "Deg-F"
                                                                                                    : "Deg-C");
  SignalSink sink(*this);
  model_.PlotDesignProfile(table, sink);
  Redraw();
}

void EditChart::ChooseLogFile() {
  emit clearMessages();
  const QString start = QString::fromStdString(folder_.LogFiles().string());
  const QString path = QFileDialog::getOpenFileName(this, "Load Log File", start, "Log files (*.log *.txt);;All files (*)");
  if (!path.isEmpty()) LoadLogFile(path);
}

void EditChart::LoadLogFile(const QString& path) {
  SignalSink sink(*this);
  model_.LoadLogFile(path.toStdString(), sink);
  logFileName_->setText(QString::fromStdString(model_.LogFileName()));
  Redraw();
}

std::array<bool, 4> EditChart::PlotSelection() const {
  std::array<bool, 4> selection{};
  for (std::size_t i = 0; i < selection.size(); ++i) selection[i] = plotSelect_[i]->isChecked();
  return selection;
}

void EditChart::SetPlotSelection(const std::array<bool, 4>& selection) {
  for (std::size_t i = 0; i < selection.size(); ++i) plotSelect_[i]->setChecked(selection[i]);
}

void EditChart::Redraw() {
  double xLow = std::numeric_limits<double>::max(), xHigh = std::numeric_limits<double>::lowest();
  double yLow = xLow, yHigh = xHigh;
  for (int s = 1; s <= profile::kChartSeriesCount; ++s) {
    QList<QPointF> points;
    for (const profile::ChartPoint& p : model_.Series(s)) {
      points.append(QPointF(p.x, p.y));
      xLow = std::min(xLow, p.x), xHigh = std::max(xHigh, p.x);
      yLow = std::min(yLow, p.y), yHigh = std::max(yHigh, p.y);
    }
    series_[s - 1]->replace(points);
    // The low-resolution rows are the profile's own points: show them to click on.
    series_[s - 1]->setPointsVisible(!model_.HiRes() && s <= 3);
  }
  auto [x0, x1] = Padded(xLow, xHigh);
  auto [y0, y1] = Padded(yLow, yHigh);
  // Time starts at 0 unless a log holds earlier times.
  timeAxis_->setRange(xLow <= xHigh && xLow >= 0 ? 0.0 : x0, x1);
  temperatureAxis_->setRange(y0, y1);
  ApplyPlotSelection();
}

void EditChart::ApplyPlotSelection() {
  const std::array<bool, 4> selection = PlotSelection();
  series_[0]->setVisible(selection[0]);
  series_[1]->setVisible(selection[1]);
  series_[2]->setVisible(selection[1]);
  series_[3]->setVisible(selection[2]);
  series_[4]->setVisible(selection[3]);
  for (QLegendMarker* marker : Chart()->legend()->markers(series_[2])) marker->setVisible(false);
}

int EditChart::NearestPoint(int series, const QPointF& at) const {
  const std::vector<profile::ChartPoint> points = model_.Series(series);
  const QPointF target = Chart()->mapToPosition(at, series_[series - 1]);
  int best = -1;
  double bestDistance = std::numeric_limits<double>::max();
  for (int i = 0; i < static_cast<int>(points.size()); ++i) {
    const QPointF p = Chart()->mapToPosition(QPointF(points[i].x, points[i].y), series_[series - 1]);
    const double d = std::hypot(p.x() - target.x(), p.y() - target.y());
    if (d < bestDistance) bestDistance = d, best = i;
  }
  return best;
}

void EditChart::Clicked(int series, const QPointF& at, bool activated) {
  SignalSink sink(*this);
  const int index = NearestPoint(series, at);
  if (activated) {
    model_.PointActivated(series, index, sink);
  } else if (auto row = model_.PointSelected(series, index, sink)) {
    emit rowMarked(*row);
  }
}

}  // namespace tarvel::ui
