#include "ui/edit_chart.h"

#include <QAction>
#include <QChart>
#include <QCheckBox>
#include <QFileDialog>
#include <QGraphicsLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

#include "ui/chart_view.h"

namespace tarvel::ui {
namespace {

// The chart routines write to the editor's message area through the widget's signals.
class SignalSink final : public profile::MessageSink {
 public:
  explicit SignalSink(EditChart& chart) : chart_(chart) {}
  void Clear() override { emit chart_.clearMessages(); }
  void Display(std::string_view text) override { emit chart_.message(QString::fromStdString(std::string(text))); }

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

}  // namespace

EditChart::EditChart(AppFolder folder, QWidget* parent) : QWidget(parent), folder_(std::move(folder)) {
  setObjectName("EditChartPanel");
  // The frames stack: beside the worksheet the panel is narrow, and the log's name needs the width.
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(LogFileFrame());
  layout->addWidget(PlotSelectionFrame());
  layout->addWidget(ChartFrame(), 1);
  AddSeries();
  BuildActions();
  Redraw();
}

QGroupBox* EditChart::LogFileFrame() {
  auto* logFrame = new QGroupBox("Log File");
  logFrame->setObjectName("frameLogFile");
  auto* logLayout = new QHBoxLayout(logFrame);
  logFileName_ = new QLineEdit;
  logFileName_->setObjectName("LogFileNameDisplay");
  logFileName_->setReadOnly(true);
  auto* loadButton = new QPushButton("Load Log File");
  loadButton->setObjectName("LoadLogFileButton");
  auto* removeButton = new QPushButton("Remove Log");
  removeButton->setObjectName("RemoveLogButton");
  removeButton->setToolTip("Take the log file off the chart");
  logLayout->addWidget(logFileName_, 1);
  logLayout->addWidget(loadButton);
  logLayout->addWidget(removeButton);
  connect(loadButton, &QPushButton::clicked, this, &EditChart::ChooseLogFile);
  connect(removeButton, &QPushButton::clicked, this, &EditChart::RemoveLog);
  return logFrame;
}

QGroupBox* EditChart::PlotSelectionFrame() {
  auto* selectFrame = new QGroupBox("Plot Trace Selection");
  selectFrame->setObjectName("framePlotTraceSelection");
  auto* selectLayout = new QGridLayout(selectFrame);  // two by two: the panel stays narrow
  const std::pair<const char*, const char*> boxes[] = {{"Design Profile", "DesignProfilePlotSelect"},
                                                       {"Alarm Limits", "DesignProfileLimitsPlotSelect"},
                                                       {"Recorded Profile", "RecordedProfilePlotSelect"},
                                                       {"Temp Record", "RecordedTempDataPlotSelect"}};
  for (std::size_t i = 0; i < plotSelect_.size(); ++i) {
    plotSelect_[i] = new QCheckBox(boxes[i].first);
    plotSelect_[i]->setObjectName(boxes[i].second);
    plotSelect_[i]->setChecked(true);
    selectLayout->addWidget(plotSelect_[i], static_cast<int>(i) / 2, static_cast<int>(i) % 2);
    connect(plotSelect_[i], &QCheckBox::toggled, this, [this] { ApplyPlotSelection(); });
  }
  return selectFrame;
}

QGroupBox* EditChart::ChartFrame() {
  auto* chartFrame = new QGroupBox("Design Profile");
  chartFrame->setObjectName("frameDesignProfile");
  auto* chartLayout = new QVBoxLayout(chartFrame);
  auto* chart = new QChart;
  timeAxis_ = new QValueAxis;
  temperatureAxis_ = new QValueAxis;
  view_ = new ChartView(chart, timeAxis_, temperatureAxis_);
  view_->setObjectName("EditChart");
  view_->setMinimumSize(320, 200);
  chartLayout->addWidget(view_, 1);
  chartLayout->addWidget(view_->ToolRow());
  return chartFrame;
}

void EditChart::AddSeries() {
  QChart* chart = view_->chart();
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
  }
  // Clicks and the read-out: the design before its band, the band before the log.
  view_->SetTraces({{series_[0], "Design Profile"},
                    {series_[1], "Alarm High"},
                    {series_[2], "Alarm Low"},
                    {series_[3], "Recorded Profile"},
                    {series_[4], "Temp Record"}});
  connect(view_, &ChartView::pointClicked, this,
          [this](int trace, int index, bool doubleClick) { Clicked(trace + 1, index, doubleClick); });
  // The lower band shares the upper one's legend entry.
  for (QLegendMarker* marker : chart->legend()->markers(series_[2])) marker->setVisible(false);
  chart->legend()->setAlignment(Qt::AlignBottom);
}

void EditChart::BuildActions() {
  loadLogFileAction_ = new QAction("Load Log File", this);
  loadLogFileAction_->setObjectName("mnuLoadLogFile");
  connect(loadLogFileAction_, &QAction::triggered, this, &EditChart::ChooseLogFile);
  auto chartAction = [this](const char* caption, const char* name, auto slot) {
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, slot);
    chartActions_.append(action);
  };
  chartAction("Remove Log", "mnuRemoveLog", [this] { RemoveLog(); });
  chartAction("Save Chart Image...", "mnuSaveChartImage", [this] { view_->AskSaveImage(); });
  chartAction("Print...", "mnuPrintChart", [this] { view_->AskPrint(); });
}

QChart* EditChart::Chart() const { return view_->chart(); }

void EditChart::SetProfile(const profile::ProfileTable& table, const profile::ProfileSettings& settings) {
  timeAxis_->setTitleText(TimeTitle(settings.timeScale));
  temperatureAxis_->setTitleText(settings.temperatureScale == profile::TemperatureScale::Fahrenheit ? "Deg-F"
                                                                                                    : "Deg-C");
  SignalSink sink(*this);
  model_.PlotDesignProfile(table, sink);
  Redraw();
  if (auto cell = model_.ProblemCell()) emit cellInTheWay(cell->row, cell->column);
}

void EditChart::ChooseLogFile() {
  emit clearMessages();
  const QString start = QString::fromStdString(folder_.LogFiles().string());
  const QString path =
      QFileDialog::getOpenFileName(this, "Load Log File", start, "Log files (*.log *.txt);;All files (*)");
  if (!path.isEmpty()) LoadLogFile(path);
}

void EditChart::LoadLogFile(const QString& path) {
  SignalSink sink(*this);
  model_.LoadLogFile(path.toStdString(), sink);
  logFileName_->setText(QString::fromStdString(model_.LogFileName()));
  UpdateCaption();
  view_->ResetZoom();  // a new log: its whole extent
  Redraw();
  if (auto cell = model_.ProblemCell()) emit cellInTheWay(cell->row, cell->column);
}

void EditChart::SetProfileName(const QString& name) {
  profileName_ = name;
  UpdateCaption();
}

void EditChart::UpdateCaption() {
  const QString log = logFileName_->text();
  view_->SetCaption(log.isEmpty() ? profileName_ : profileName_ + ", log " + log);
}

void EditChart::RemoveLog() {
  if (!model_.HiRes()) return;
  SignalSink sink(*this);
  model_.ClearLogFile(sink);
  logFileName_->clear();
  UpdateCaption();
  view_->ResetZoom();
  Redraw();
  emit message(QString("Log file removed from the chart"));
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
  // Time starts at 0 unless a log holds earlier times.
  if (xLow <= xHigh && xLow >= 0) xLow = 0;
  if (xLow <= xHigh && xHigh == xLow) xHigh = xLow + 1;  // a profile of one row: no negative time
  view_->SetDataRange({xLow, xHigh}, {yLow, yHigh});
  ApplyPlotSelection();
}

void EditChart::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FitLegend();
}

void EditChart::FitLegend() {
  QLegend* legend = Chart()->legend();
  const QFontMetrics metrics(legend->font());
  // Below the plot the legend gives each entry the same width: the longest text decides.
  int widest = 0, shown = 0;
  for (QLegendMarker* marker : legend->markers())
    if (marker->isVisible()) widest = std::max(widest, metrics.horizontalAdvance(marker->label())), ++shown;
  const int needed = shown * (widest + 3 * metrics.height()) + 40;
  const Qt::Alignment alignment = needed <= view_->width() ? Qt::AlignBottom : Qt::AlignRight;
  if (legend->alignment() != alignment) legend->setAlignment(alignment);
  // Beside the plot Qt would give the legend less than its longest text.
  legend->setMinimumWidth(alignment == Qt::AlignRight ? widest + 3 * metrics.height() + 10 : 0);
}

void EditChart::ApplyPlotSelection() {
  const std::array<bool, 4> selection = PlotSelection();
  series_[0]->setVisible(selection[0]);
  series_[1]->setVisible(selection[1]);
  series_[2]->setVisible(selection[1]);
  series_[3]->setVisible(selection[2]);
  series_[4]->setVisible(selection[3]);
  // The legend names what is drawn: not the lower band (the upper one names both), nor a trace
  // without points (no log loaded).
  bool changed = false;
  for (int s = 0; s < profile::kChartSeriesCount; ++s)
    for (QLegendMarker* marker : Chart()->legend()->markers(series_[s])) {
      const bool shown = s != 2 && series_[s]->isVisible() && series_[s]->count() > 0;
      changed |= marker->isVisible() != shown;
      marker->setVisible(shown);
    }
  // The legend lays its entries out again only when told.
  if (changed && Chart()->legend()->layout()) Chart()->legend()->layout()->invalidate();
  FitLegend();
}

void EditChart::Clicked(int series, int index, bool activated) {
  SignalSink sink(*this);
  if (activated) {
    model_.PointActivated(series, index, sink);
  } else if (auto row = model_.PointSelected(series, index, sink)) {
    emit rowMarked(*row);
  }
}

}  // namespace tarvel::ui
