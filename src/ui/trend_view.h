#pragma once
// ui: the live run trend on the console -- set point and process value of the current channel
// over the run, with the executing profile's design drawn behind when its file is in
// Profiles/. Points come from the console's recorder on the command thread and are posted to
// this widget's thread; console::TrendPoints keeps their number bounded. A gap in the run (lost
// readings, a pause, a jump, a new start) is a gap in its lines, never a line across it; a long
// run's time axis reads in hours and minutes.

#include <QWidget>

#include <optional>
#include <vector>

#include "console/trend_points.h"
#include "controller/run_recorder.h"

class QCategoryAxis;
class QLineSeries;
class QValueAxis;

namespace tarvel::ui {

class ChartView;

// Zooms, pans, reads out, saves and prints like the editor's chart (ChartView).
class TrendView : public QWidget {
  Q_OBJECT

 public:
  explicit TrendView(QWidget* parent = nullptr);

  // Takes the recorder's points from now on (any thread in, this widget's thread out).
  void Follow(controller::RunRecorder& recorder);
  // One point of a run, on this widget's thread; a new trace starts a new trend.
  void Add(const controller::RunTrace& trace, const controller::RunPoint& point);

  std::size_t PointCount() const { return points_.Points().size(); }
  std::size_t DesignPointCount() const;
  // The pieces the set point is drawn in: one per leg of the run.
  std::vector<QLineSeries*> SetPointLegs() const;
  ChartView* View() const { return view_; }

 signals:
  void pointAdded();

 private:
  void StartTrace(const controller::RunTrace& trace);
  void Redraw();
  // The n-th piece of a trace, made when first needed; only the first has a legend entry.
  QLineSeries* Leg(std::vector<QLineSeries*>& legs, std::size_t n);

  console::TrendPoints points_;
  std::optional<controller::RunTrace> trace_;
  ChartView* view_ = nullptr;
  QLineSeries* design_ = nullptr;
  std::vector<QLineSeries*> setPoint_, process_;  // legs, in the order of the run
  std::size_t legsShown_ = 0;
  QCategoryAxis* timeAxis_ = nullptr;
  QValueAxis* temperatureAxis_ = nullptr;
};

}  // namespace tarvel::ui
