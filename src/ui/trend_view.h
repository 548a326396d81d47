#pragma once
// ui: the live run trend on the console -- set point and process value of the current channel
// over the run, with the executing profile's design drawn behind when its file is in
// Profiles/. Points come from the console's recorder on the command thread and are posted to
// this widget's thread; console::TrendPoints keeps their number bounded.

#include <QWidget>

#include <optional>

#include "console/run_recording.h"
#include "console/trend_points.h"

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
  void Follow(console::RunRecorder& recorder);
  // One point of a run, on this widget's thread; a new trace starts a new trend.
  void Add(const console::RunTrace& trace, const console::RunPoint& point);

  std::size_t PointCount() const { return points_.Points().size(); }
  std::size_t DesignPointCount() const;
  ChartView* View() const { return view_; }

 signals:
  void pointAdded();

 private:
  void StartTrace(const console::RunTrace& trace);
  void Redraw();

  console::TrendPoints points_;
  std::optional<console::RunTrace> trace_;
  ChartView* view_ = nullptr;
  QLineSeries* design_ = nullptr;
  QLineSeries* setPoint_ = nullptr;
  QLineSeries* process_ = nullptr;
  QValueAxis* timeAxis_ = nullptr;
  QValueAxis* temperatureAxis_ = nullptr;
};

}  // namespace tarvel::ui
