#pragma once
// ui: a chart the user explores -- ticks on 1-2-5 steps (on a clock's steps, read as h:mm, for a
// long run), wheel and rubber-band zoom, pan, reset (Home, or the tool row's button), a read-out
// of the time and each trace's value under the mouse in a strip of fixed size, and a picture or
// a print of it with its caption and date. Both windows' charts are one of these; the arithmetic
// is profile::chart_axes, so it is tested without a display.

#include <QChartView>
#include <QPointer>

#include <optional>
#include <vector>

#include "profile/chart_axes.h"

class QLabel;
class QLineSeries;
class QPrinter;
class QPushButton;
class QRubberBand;
class QValueAxis;

namespace tarvel::ui {

class ChartView : public QChartView {
  Q_OBJECT

 public:
  ChartView(QChart* chart, QValueAxis* time, QValueAxis* value, QWidget* parent = nullptr);

  struct Trace {
    QLineSeries* series = nullptr;
    QString name;  // as the read-out names it
  };
  // The traces a click and the read-out consider, first = first choice; hidden ones are passed over.
  void SetTraces(std::vector<Trace> traces) { traces_ = std::move(traces); }

  // The extent of the data. Shown (widened to whole ticks) while the user has not zoomed; what
  // Reset goes back to.
  void SetDataRange(profile::AxisRange time, profile::AxisRange value);
  void ResetZoom();
  void ZoomTo(profile::AxisRange time, profile::AxisRange value);
  bool Zoomed() const { return zoomed_; }
  profile::AxisRange TimeRange() const;
  profile::AxisRange ValueRange() const;
  // What the read-out shows for a point of the plot area (viewport coordinates).
  QString ReadoutAt(const QPointF& at) const;

  // What the chart shows ("Channel 1 - Demo drying.txt"): the title of its pictures and printed
  // pages, and the read-out strip's text while the mouse is elsewhere.
  void SetCaption(const QString& caption);
  QString Caption() const { return caption_; }
  // A time axis made as a QCategoryAxis is read in hours and minutes while it spans two hours or
  // more; minutesPerUnit says how many minutes one unit of it is (0: always plain numbers), and
  // unitTitle is its title while it shows plain numbers.
  void SetClockTime(double minutesPerUnit, const QString& unitTitle);

  // A PNG of size pixels, or SVG when the name ends in .svg: the caption over the chart, the
  // date under it. False, with the reason, when it could not be written.
  bool SaveImage(const QString& file, QSize size, QString& why);
  // One page: the caption as its title, the chart, the date.
  void Print(QPrinter& printer);
  // Where Save Chart Image... and Print... start: here at first, then where the user last saved.
  static void SetStartFolder(const QString& folder);
  static QString StartFolder();

  // The row under a chart: Reset Zoom, Save Chart Image..., Print... and the read-out.
  QWidget* ToolRow();

 public slots:
  void AskSaveImage();
  void AskPrint();

 signals:
  // A click (or double click) on the point `index` of trace `trace` (index into the traces given).
  void pointClicked(int trace, int index, bool doubleClick);
  void readoutChanged(const QString& text);

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ApplyTicks();
  void ApplyClockTicks();
  void ShowFull();
  // Caption, chart and date in the rectangle target, the chart laid out at `logical` pixels.
  void RenderPage(QPainter& painter, const QRectF& target, QSize logical);
  QPointF ValueAt(const QPointF& at) const;
  std::optional<profile::PickedPoint> Pick(const QPointF& at) const;
  void ZoomAt(const QPointF& at, double factor, bool time, bool value);
  void Pan(double timeFraction, double valueFraction);
  int Intervals(bool time) const;

  QValueAxis* time_;
  QValueAxis* value_;
  std::vector<Trace> traces_;
  profile::AxisRange dataTime_, dataValue_;
  bool zoomed_ = false;
  QRubberBand* band_ = nullptr;
  QPoint pressed_;
  std::optional<QPoint> panFrom_;
  QPointer<QLabel> readout_;
  QString caption_;
  double clockMinutesPerUnit_ = 0;
  QString unitTitle_;        // the time axis's title while it shows plain numbers
  bool clockShown_ = false;  // the time axis reads h:mm now
  bool applyingTicks_ = false;
};

}  // namespace tarvel::ui
