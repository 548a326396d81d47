#include "ui/chart_view.h"

#include <QCategoryAxis>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QRubberBand>
#include <QSvgGenerator>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace tarvel::ui {
namespace {

using profile::AxisRange;

constexpr double kClockFromMinutes = 120;  // a shorter span reads better in plain numbers
constexpr int kPrintWidth = 1600;          // pixels a printed page's chart is laid out in, then scaled

QString& LastFolder() {
  static QString folder;
  return folder;
}

// A name for the files of a caption: "Channel 1 - Demo drying.txt" -> "Channel 1 - Demo drying".
QString FileStem(const QString& caption) {
  QString stem = caption.isEmpty() ? QString("Tarvel chart") : caption;
  if (stem.endsWith(".txt", Qt::CaseInsensitive)) stem.chop(4);
  stem.replace(QRegularExpression("[/\\\\:*?\"<>|]"), "_");
  return stem;
}

// The read-out: a strip of one line whose size never depends on its text, which is cut with
// "..." to the room it has. So moving the mouse over the chart never moves anything else.
class Readout final : public QLabel {
 public:
  Readout() { setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed); }
  QSize sizeHint() const override { return {fontMetrics().averageCharWidth() * 30, Height()}; }
  QSize minimumSizeHint() const override { return {0, Height()}; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect room = contentsRect();
    painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(text(), Qt::ElideRight, room.width()));
  }

 private:
  int Height() const { return fontMetrics().height() + 6; }
};

constexpr int kDragStart = 6;         // pixels a press must move before it draws a rubber band
constexpr double kPickTolerance = 8;  // pixels between the cursor and a trace it means
constexpr double kWheelStep = 0.8;    // one wheel notch in
constexpr int kTimeTickPixels = 70;
constexpr int kValueTickPixels = 24;

AxisRange RangeOf(const QValueAxis* axis) { return {axis->min(), axis->max()}; }

void SetRange(QValueAxis* axis, AxisRange range) { axis->setRange(range.low, range.high); }

}  // namespace

ChartView::ChartView(QChart* chart, QValueAxis* time, QValueAxis* value, QWidget* parent)
    : QChartView(chart, parent), time_(time), value_(value) {
  setRenderHint(QPainter::Antialiasing);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setRubberBand(QChartView::NoRubberBand);  // ours: a click on a point must stay a click
  band_ = new QRubberBand(QRubberBand::Rectangle, viewport());
  for (QValueAxis* axis : {time_, value_}) {
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setMinorTickCount(0);
    connect(axis, &QValueAxis::rangeChanged, this, &ChartView::ApplyTicks);
  }
  // The plot area settles after the chart's own layout, later than a resize: the ticks follow it.
  connect(chart, &QChart::plotAreaChanged, this, &ChartView::ApplyTicks);
}

QWidget* ChartView::ToolRow() {
  auto* row = new QWidget;
  row->setObjectName("ChartToolRow");
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  auto button = [&](const char* caption, const char* name, const char* tip) {
    auto* b = new QPushButton(caption);
    b->setObjectName(name);
    b->setToolTip(tip);
    layout->addWidget(b);
    return b;
  };
  connect(button("Reset Zoom", "ResetZoomButton", "Show the whole chart again (Home)"), &QPushButton::clicked, this,
          &ChartView::ResetZoom);
  connect(button("Save Chart Image...", "SaveChartImageButton", "Save the chart as a PNG or SVG picture"),
          &QPushButton::clicked, this, &ChartView::AskSaveImage);
  connect(button("Print...", "PrintChartButton", "Print the chart, or print it to a PDF file"), &QPushButton::clicked,
          this, &ChartView::AskPrint);
  readout_ = new Readout;
  readout_->setObjectName("ChartReadout");
  readout_->setToolTip("Wheel: zoom; drag: zoom to a box; right or middle drag, arrows: pan; Home: whole chart");
  readout_->setText(caption_);
  layout->addWidget(readout_, 1);
  connect(this, &ChartView::readoutChanged, readout_,
          [this](const QString& text) { readout_->setText(text.isEmpty() ? caption_ : text); });
  return row;
}

int ChartView::Intervals(bool time) const {
  const QRectF area = chart()->plotArea();
  const double pixels = time ? area.width() : area.height();
  // A plot area not laid out yet can be any size: never more ticks than a screen could hold.
  return std::clamp(static_cast<int>(pixels / (time ? kTimeTickPixels : kValueTickPixels)), 2, 30);
}

void ChartView::ApplyTicks() {
  for (QValueAxis* axis : {time_, value_}) {
    const profile::AxisTicks ticks = profile::TicksOf(RangeOf(axis), Intervals(axis == time_));
    axis->setTickAnchor(ticks.first);
    axis->setTickInterval(ticks.step);
    axis->setLabelFormat(QString("%.%1f").arg(profile::TickDecimals(ticks.step)));
  }
  ApplyClockTicks();
}

void ChartView::ApplyClockTicks() {
  auto* axis = qobject_cast<QCategoryAxis*>(time_);
  if (!axis || applyingTicks_) return;
  applyingTicks_ = true;  // the categories' own range changes must not come back here
  const AxisRange range = RangeOf(axis);
  const double unit = clockMinutesPerUnit_;
  const bool clock = unit > 0 && range.Span() * unit >= kClockFromMinutes;
  // A category axis labels its categories' ends: one category per tick.
  const profile::AxisTicks ticks = clock ? profile::ClockTicksOf({range.low * unit, range.high * unit}, Intervals(true))
                                         : profile::TicksOf(range, Intervals(true));
  for (const QString& label : axis->categoriesLabels()) axis->remove(label);
  axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  axis->setStartValue(range.low);
  const int decimals = profile::TickDecimals(ticks.step);
  for (int i = 0; i < ticks.count; ++i) {
    const double at = ticks.first + i * ticks.step;
    axis->append(clock ? QString::fromStdString(profile::ClockText(at)) : QString::number(at, 'f', decimals),
                 clock ? at / unit : at);
  }
  axis->setRange(range.low, range.high);
  if (clock != clockShown_) axis->setTitleText(clock ? QString("Time (h:mm)") : unitTitle_);
  clockShown_ = clock;
  applyingTicks_ = false;
}

void ChartView::SetClockTime(double minutesPerUnit, const QString& unitTitle) {
  clockMinutesPerUnit_ = minutesPerUnit;
  unitTitle_ = unitTitle;
  clockShown_ = false;
  time_->setTitleText(unitTitle);
  ApplyClockTicks();
}

void ChartView::SetCaption(const QString& caption) {
  caption_ = caption;
  if (readout_ && !underMouse()) readout_->setText(caption_);
}

void ChartView::ShowFull() {
  // Widened to the next tenth-ish step, not to the next labelled tick: a narrow chart would
  // otherwise lose a third of its width to empty axis.
  SetRange(time_, profile::NiceRange(dataTime_.low, dataTime_.high, std::max(8, Intervals(true))));
  SetRange(value_, profile::NiceRange(dataValue_.low, dataValue_.high, std::max(8, Intervals(false))));
  ApplyTicks();
}

void ChartView::SetDataRange(AxisRange time, AxisRange value) {
  dataTime_ = time;
  dataValue_ = value;
  if (!zoomed_) ShowFull();
}

void ChartView::ResetZoom() {
  zoomed_ = false;
  ShowFull();
}

void ChartView::ZoomTo(AxisRange time, AxisRange value) {
  zoomed_ = true;
  SetRange(time_, time);
  SetRange(value_, value);
  ApplyTicks();
}

AxisRange ChartView::TimeRange() const { return RangeOf(time_); }
AxisRange ChartView::ValueRange() const { return RangeOf(value_); }

QPointF ChartView::ValueAt(const QPointF& at) const { return chart()->mapToValue(mapToScene(at.toPoint())); }

void ChartView::ZoomAt(const QPointF& at, double factor, bool time, bool value) {
  const QPointF v = ValueAt(at);
  const AxisRange fullTime = profile::NiceRange(dataTime_.low, dataTime_.high, 8);
  const AxisRange fullValue = profile::NiceRange(dataValue_.low, dataValue_.high, 8);
  ZoomTo(time ? profile::ZoomAround(TimeRange(), v.x(), factor, fullTime) : TimeRange(),
         value ? profile::ZoomAround(ValueRange(), v.y(), factor, fullValue) : ValueRange());
}

void ChartView::Pan(double timeFraction, double valueFraction) {
  ZoomTo(profile::PanBy(TimeRange(), timeFraction), profile::PanBy(ValueRange(), valueFraction));
}

std::optional<profile::PickedPoint> ChartView::Pick(const QPointF& at) const {
  std::vector<std::vector<profile::ChartPoint>> onScreen;
  for (const Trace& trace : traces_) {
    std::vector<profile::ChartPoint> points;
    if (trace.series->isVisible()) {
      const QList<QPointF> values = trace.series->points();
      points.reserve(static_cast<std::size_t>(values.size()));
      for (const QPointF& p : values) {
        const QPointF pixel = mapFromScene(chart()->mapToPosition(p, trace.series));
        points.push_back({pixel.x(), pixel.y()});
      }
    }
    onScreen.push_back(std::move(points));
  }
  return profile::PickPoint(onScreen, {at.x(), at.y()}, kPickTolerance);
}

QString ChartView::ReadoutAt(const QPointF& at) const {
  const QPointF v = ValueAt(at);
  std::vector<profile::ReadoutValue> values;
  for (const Trace& trace : traces_) {
    if (!trace.series->isVisible() || trace.name.isEmpty()) continue;
    std::vector<profile::ChartPoint> points;
    for (const QPointF& p : trace.series->points()) points.push_back({p.x(), p.y()});
    // A trace drawn in pieces (a run with gaps) is named once: its first piece with a value.
    const std::string name = trace.name.toStdString();
    auto named = std::find_if(values.begin(), values.end(), [&](const auto& r) { return r.name == name; });
    if (named == values.end())
      values.push_back({name, profile::ValueAt(points, v.x())});
    else if (!named->value)
      named->value = profile::ValueAt(points, v.x());
  }
  return QString::fromStdString(profile::ReadoutText(v.x(), values));
}

void ChartView::wheelEvent(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / 120.0;
  if (notches == 0) return;
  const bool timeOnly = event->modifiers() & Qt::ControlModifier;
  const bool valueOnly = event->modifiers() & Qt::ShiftModifier;
  ZoomAt(event->position(), std::pow(kWheelStep, notches), !valueOnly, !timeOnly);
  event->accept();
}

void ChartView::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  pressed_ = event->position().toPoint();
  if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
    panFrom_ = pressed_;
    viewport()->setCursor(Qt::ClosedHandCursor);
  }
  event->accept();
}

void ChartView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (panFrom_) {
    const QRectF area = chart()->plotArea();
    const QPoint moved = at - *panFrom_;
    panFrom_ = at;
    // Dragging the plot right shows earlier times; dragging it down shows higher values.
    Pan(-moved.x() / std::max(1.0, area.width()), moved.y() / std::max(1.0, area.height()));
  } else if (event->buttons() & Qt::LeftButton) {
    if ((at - pressed_).manhattanLength() >= kDragStart) {
      band_->setGeometry(QRect(pressed_, at).normalized());
      band_->show();
    }
  }
  emit readoutChanged(ReadoutAt(event->position()));
  event->accept();
}

void ChartView::mouseReleaseEvent(QMouseEvent* event) {
  if (panFrom_) {
    panFrom_.reset();
    viewport()->unsetCursor();
  } else if (event->button() == Qt::LeftButton && band_->isVisible()) {
    band_->hide();
    const QPointF a = ValueAt(band_->geometry().topLeft()), b = ValueAt(band_->geometry().bottomRight());
    auto time = profile::RangeBetween(a.x(), b.x(), TimeRange());
    auto value = profile::RangeBetween(a.y(), b.y(), ValueRange());
    if (time && value) ZoomTo(*time, *value);
  } else if (event->button() == Qt::LeftButton) {
    if (auto picked = Pick(event->position())) emit pointClicked(picked->trace, picked->index, false);
  }
  event->accept();
}

void ChartView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    if (auto picked = Pick(event->position())) emit pointClicked(picked->trace, picked->index, true);
  event->accept();
}

void ChartView::keyPressEvent(QKeyEvent* event) {
  const QPointF centre = chart()->plotArea().center();
  switch (event->key()) {
    case Qt::Key_Home: ResetZoom(); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: ZoomAt(mapFromScene(centre), kWheelStep, true, true); break;
    case Qt::Key_Minus: ZoomAt(mapFromScene(centre), 1 / kWheelStep, true, true); break;
    case Qt::Key_Left: Pan(-0.1, 0); break;
    case Qt::Key_Right: Pan(0.1, 0); break;
    case Qt::Key_Up: Pan(0, 0.1); break;
    case Qt::Key_Down: Pan(0, -0.1); break;
    default: QChartView::keyPressEvent(event); return;
  }
  event->accept();
}

void ChartView::leaveEvent(QEvent* event) {
  emit readoutChanged({});
  QChartView::leaveEvent(event);
}

void ChartView::resizeEvent(QResizeEvent* event) {
  QChartView::resizeEvent(event);
  if (zoomed_)
    ApplyTicks();
  else
    ShowFull();  // more room, more ticks: the full view follows
}

void ChartView::RenderPage(QPainter& painter, const QRectF& target, QSize logical) {
  painter.save();
  painter.translate(target.topLeft());
  painter.scale(target.width() / logical.width(), target.height() / logical.height());
  painter.fillRect(QRect(QPoint(0, 0), logical), Qt::white);
  QFont titleFont = font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
  titleFont.setBold(true);
  const int titleHeight = QFontMetrics(titleFont).height() * 2;
  const int footHeight = fontMetrics().height() * 2;
  painter.setPen(Qt::black);
  painter.setFont(titleFont);
  painter.drawText(QRect(0, 0, logical.width(), titleHeight), Qt::AlignCenter,
                   caption_.isEmpty() ? QString("Tarvel chart") : caption_);
  painter.setFont(font());
  painter.drawText(QRect(12, logical.height() - footHeight, logical.width() - 24, footHeight),
                   Qt::AlignRight | Qt::AlignVCenter,
                   "Tarvel, " + QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm"));

  // The chart laid out at the page's size, not stretched from the screen's: labels keep their size.
  const QRectF area(0, titleHeight, logical.width(), logical.height() - titleHeight - footHeight);
  const QSizeF shown = chart()->size();
  const QPointF at = chart()->pos();
  chart()->setPos(0, 0);
  chart()->resize(area.size());
  scene()->render(&painter, area, QRectF(QPointF(0, 0), area.size()));
  chart()->resize(shown);
  chart()->setPos(at);
  painter.restore();
}

bool ChartView::SaveImage(const QString& file, QSize size, QString& why) {
  size = size.expandedTo(QSize(200, 150));
  QPainter painter;
  QSvgGenerator svg;
  QImage image(size, QImage::Format_ARGB32);
  const bool vector = file.endsWith(".svg", Qt::CaseInsensitive);
  if (vector) {
    svg.setFileName(file);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(caption_.isEmpty() ? QString("Tarvel chart") : caption_);
  }
  if (!(vector ? painter.begin(&svg) : painter.begin(&image))) {
    why = "cannot write " + file;
    return false;
  }
  painter.setRenderHint(QPainter::Antialiasing);
  RenderPage(painter, QRectF(QPointF(0, 0), size), size);
  painter.end();
  if (vector ? !QFileInfo(file).isFile() : !image.save(file, "PNG")) {
    why = "cannot write " + file;
    return false;
  }
  return true;
}

void ChartView::Print(QPrinter& printer) {
  QPainter painter(&printer);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF page = painter.viewport();
  RenderPage(painter, page, QSize(kPrintWidth, static_cast<int>(kPrintWidth * page.height() / page.width())));
}

void ChartView::SetStartFolder(const QString& folder) { LastFolder() = folder; }

QString ChartView::StartFolder() { return LastFolder(); }

void ChartView::AskSaveImage() {
  QString selected;
  const QString start = (LastFolder().isEmpty() ? QString() : LastFolder() + "/") + FileStem(caption_) + ".png";
  const QString file =
      QFileDialog::getSaveFileName(this, "Save Chart Image", start, "PNG image (*.png);;SVG image (*.svg)", &selected);
  if (file.isEmpty()) return;
  QString target = file;
  if (!target.endsWith(".png", Qt::CaseInsensitive) && !target.endsWith(".svg", Qt::CaseInsensitive))
    target += selected.startsWith("SVG") ? ".svg" : ".png";
  static int lastSize = 0;
  const QList<QSize> sizes = {{1600, 1000}, {1200, 750}, {1920, 1080}, {2400, 1500}, size()};
  QStringList names;
  for (const QSize& s : sizes) names << QString("%1 x %2").arg(s.width()).arg(s.height());
  names.back() += " (as on the screen)";
  bool ok = false;
  const QString size =
      QInputDialog::getItem(this, "Save Chart Image", "Picture size in pixels", names, lastSize, false, &ok);
  if (!ok) return;
  lastSize = std::max(0, static_cast<int>(names.indexOf(size)));
  QString why;
  if (!SaveImage(target, sizes[lastSize], why)) {
    QMessageBox::warning(this, "Save Chart Image", "The chart was not saved: " + why);
    return;
  }
  LastFolder() = QFileInfo(target).absolutePath();
}

void ChartView::AskPrint() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageOrientation(QPageLayout::Landscape);
  printer.setDocName(FileStem(caption_));
  // A PDF goes where the user last saved, named after what it shows.
  if (!LastFolder().isEmpty()) printer.setOutputFileName(LastFolder() + "/" + FileStem(caption_) + ".pdf");
  QPrintDialog dialog(&printer, this);
  dialog.setWindowTitle("Print Chart");
  if (dialog.exec() != QDialog::Accepted) return;
  Print(printer);
  if (!printer.outputFileName().isEmpty()) LastFolder() = QFileInfo(printer.outputFileName()).absolutePath();
}

}  // namespace tarvel::ui
