#include "report/load_report.h"

#include <QFile>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPolygonF>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace tarvel::report {
namespace {

using namespace tarvel::watch;

constexpr int kDpi = 300;
double Mm(double mm) { return mm * kDpi / 25.4; }
QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

const QColor kDesign(40, 80, 200), kBand(205, 235, 205), kProcess(200, 30, 30), kGrid(225, 225, 225);
const QColor kPass(0, 120, 40), kFail(190, 0, 0), kRule(150, 150, 150);

// The report as blocks of fixed height, placed on pages before anything is drawn, so that every
// page's foot can say how many pages there are.
class Pages {
 public:
  using Draw = std::function<void(QPainter&, const QRectF&)>;
  Pages(double width, double height) : width_(width), height_(height) { pages_.emplace_back(); }

  void Add(double height, Draw draw) {
    if (y_ + height > height_ && !pages_.back().empty()) Break();
    pages_.back().push_back({QRectF(0, y_, width_, height), std::move(draw)});
    y_ += height;
  }
  void Space(double height) { y_ = std::min(y_ + height, height_); }
  void Break() {
    pages_.emplace_back();
    y_ = 0;
  }
  double Width() const { return width_; }
  std::size_t Count() const { return pages_.size(); }
  void Paint(QPainter& painter, std::size_t page) const {
    for (const auto& [rect, draw] : pages_[page]) draw(painter, rect);
  }

 private:
  double width_, height_, y_ = 0;
  std::vector<std::vector<std::pair<QRectF, Draw>>> pages_;
};

// A controller's samples and what its chart spans: the values padded, at least a minute.
struct ChartSpan {
  std::vector<const LoadSample*> samples;
  SystemClock::time_point opened;
  double lo = 1e9, hi = -1e9, hours = 0;

  QPointF At(const QRectF& plot, SystemClock::time_point t, double v) const {
    const double since = std::chrono::duration<double>(t - opened).count() / 3600;
    return QPointF(plot.left() + since / hours * plot.width(), plot.bottom() - (v - lo) / (hi - lo) * plot.height());
  }
};

class Writer {
 public:
  explicit Writer(QPdfWriter& pdf) : pdf_(pdf) {
    body_ = QFont("DejaVu Sans", 8);
    bold_ = body_;
    bold_.setBold(true);
    title_ = QFont("DejaVu Sans", 15, QFont::Bold);
    heading_ = QFont("DejaVu Sans", 11, QFont::Bold);
    mono_ = QFont("DejaVu Sans Mono", 7);
  }

  double TextHeight(const QFont& font, double width, const QString& text) const {
    return QFontMetricsF(font, &pdf_).boundingRect(QRectF(0, 0, width, 1e7), Qt::TextWordWrap, text).height();
  }

  void Line(Pages& pages, const QFont& font, const QString& text, QColor color = Qt::black) {
    pages.Add(TextHeight(font, pages.Width(), text) + Mm(1), [=](QPainter& p, const QRectF& r) {
      p.setFont(font);
      p.setPen(color);
      p.drawText(r, Qt::TextWordWrap, text);
    });
  }

  void Heading(Pages& pages, const QString& text) {
    pages.Space(Mm(3));
    Line(pages, heading_, text);
  }

  // Label on the left, the value wrapped beside it.
  void Pair(Pages& pages, const QString& label, const QString& value, const QFont* font = nullptr) {
    const double labelWidth = Mm(38);
    const QFont valueFont = font ? *font : body_;
    const double h =
        std::max(TextHeight(bold_, labelWidth, label), TextHeight(valueFont, pages.Width() - labelWidth, value));
    pages.Add(h + Mm(0.6), [=, this](QPainter& p, const QRectF& r) {
      p.setPen(Qt::black);
      p.setFont(bold_);
      p.drawText(QRectF(r.left(), r.top(), labelWidth, r.height()), Qt::TextWordWrap, label);
      p.setFont(valueFont);
      p.drawText(QRectF(r.left() + labelWidth, r.top(), r.width() - labelWidth, r.height()), Qt::TextWordWrap, value);
    });
  }

  // A table: column shares of the width, titles, rows; a cell's colour by a rule of the caller.
  void Table(Pages& pages, const std::vector<double>& shares, const QStringList& titles,
             const std::vector<QStringList>& rows, std::function<QColor(int row, int column)> colour = {}) {
    std::vector<double> widths;
    for (double share : shares) widths.push_back(share * pages.Width());
    auto row = [&, widths](const QStringList& cells, const QFont& font, std::function<QColor(int)> cellColour,
                           bool rule) {
      double h = 0;
      for (int c = 0; c < cells.size(); ++c) h = std::max(h, TextHeight(font, widths[c] - Mm(1), cells[c]));
      pages.Add(h + Mm(1.2), [=](QPainter& p, const QRectF& r) {
        double x = r.left();
        p.setFont(font);
        for (int c = 0; c < cells.size(); ++c) {
          p.setPen(cellColour ? cellColour(c) : QColor(Qt::black));
          p.drawText(QRectF(x, r.top() + Mm(0.4), widths[c] - Mm(1), r.height()), Qt::TextWordWrap, cells[c]);
          x += widths[c];
        }
        if (rule) {
          p.setPen(QPen(kRule, 0));
          p.drawLine(r.bottomLeft(), r.bottomRight());
        }
      });
    };
    row(titles, bold_, {}, true);
    for (int i = 0; i < static_cast<int>(rows.size()); ++i)
      row(rows[i], body_, colour ? std::function<QColor(int)>([=](int c) { return colour(i, c); }) : nullptr, false);
  }

  void Chart(Pages& pages, const LoadRecord& record, const LoadController& controller);

  QFont body_, bold_, title_, heading_, mono_;

 private:
  void Legend(QPainter& p, const QRectF& r, const QString& title) const;
  void Axes(QPainter& p, const QRectF& r, const QRectF& plot, const ChartSpan& span, const QString& unit) const;

  QPdfWriter& pdf_;
};

// Lines through the values of the samples, broken at gaps and where there is no value, and
// thinned to the lowest and highest value of each pixel column.
std::vector<QPolygonF> Lines(const std::vector<const LoadSample*>& samples,
                             const std::function<std::optional<int>(const LoadSample&)>& value,
                             const std::function<QPointF(SystemClock::time_point, double)>& at) {
  std::vector<QPolygonF> lines(1);
  long long column = std::numeric_limits<long long>::min();
  double low = 0, high = 0, last = 0;
  auto flush = [&] {
    if (column == std::numeric_limits<long long>::min()) return;
    const double x = static_cast<double>(column);
    lines.back() << QPointF(x, low);
    if (high != low) lines.back() << QPointF(x, high) << QPointF(x, last);
  };
  for (const LoadSample* s : samples) {
    const auto v = s->gap ? std::nullopt : value(*s);
    if (!v) {
      flush();
      column = std::numeric_limits<long long>::min();
      if (!lines.back().isEmpty()) lines.emplace_back();
      continue;
    }
    const QPointF point = at(s->at, *v);
    const auto c = static_cast<long long>(std::floor(point.x()));
    if (c != column) {
      flush();
      column = c;
      low = high = point.y();
    }
    low = std::min(low, point.y());
    high = std::max(high, point.y());
    last = point.y();
  }
  flush();
  return lines;
}

double NiceStep(double range, int ticks) {
  const double raw = range / std::max(ticks, 1);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (raw <= m * power) return m * power;
  return 10 * power;
}

ChartSpan SpanOf(const LoadRecord& record, const LoadController& c) {
  const LoadHeader& h = record.header;
  ChartSpan span;
  span.opened = h.opened;
  double& lo = span.lo;
  double& hi = span.hi;
  SystemClock::time_point end = h.opened;
  for (const LoadSample& s : record.samples) {
    if (s.channel != c.channel) continue;
    span.samples.push_back(&s);
    end = std::max(end, s.at);
    if (s.gap) continue;
    for (auto v : {std::optional<int>(s.processValue), s.design, s.low, s.high})
      if (v) lo = std::min(lo, double(*v)), hi = std::max(hi, double(*v));
  }
  if (lo > hi) lo = 0, hi = 100;
  const double pad = std::max(5.0, (hi - lo) * 0.05);
  lo -= pad;
  hi += pad;
  span.hours = std::max(std::chrono::duration<double>(end - h.opened).count() / 3600, 1.0 / 60);
  return span;
}

// The band, the design and the process value, clipped to the plot.
void Curves(QPainter& p, const QRectF& plot, const ChartSpan& span) {
  const auto at = [&](SystemClock::time_point t, double v) { return span.At(plot, t, v); };
  const auto& samples = span.samples;
  p.save();
  p.setClipRect(plot);
  // The band: the upper limit along, the lower back.
  const auto upper = Lines(
      samples, [](const LoadSample& s) { return s.low ? s.high : std::nullopt; }, at);
  const auto lower = Lines(
      samples, [](const LoadSample& s) { return s.high ? s.low : std::nullopt; }, at);
  for (std::size_t i = 0; i < upper.size() && i < lower.size(); ++i) {
    QPolygonF band = upper[i];
    for (auto it = lower[i].rbegin(); it != lower[i].rend(); ++it) band << *it;
    p.setPen(Qt::NoPen);
    p.setBrush(kBand);
    p.drawPolygon(band);
  }
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kDesign, Mm(0.25)));
  for (const QPolygonF& line : Lines(
           samples, [](const LoadSample& s) { return s.design; }, at))
    p.drawPolyline(line);
  p.setPen(QPen(kProcess, Mm(0.25)));
  for (const QPolygonF& line : Lines(
           samples, [](const LoadSample& s) { return std::optional<int>(s.processValue); }, at))
    p.drawPolyline(line);
  p.restore();
}

void Writer::Chart(Pages& pages, const LoadRecord& record, const LoadController& c) {
  const ChartSpan span = SpanOf(record, c);
  const QString title =
      Q("Channel " + std::to_string(c.channel) + "  " + c.nickname + "  (address " + std::to_string(c.address) + ")");
  const QString unit = QString("°") + QChar(record.header.temperatureScale);

  pages.Add(Mm(62), [=, this](QPainter& p, const QRectF& r) {
    Legend(p, r, title);
    const QRectF plot(r.left() + Mm(13), r.top() + Mm(6), r.width() - Mm(15), r.height() - Mm(14));
    Axes(p, r, plot, span, unit);
    Curves(p, plot, span);
    p.setPen(QPen(Qt::black, 0));
    p.drawRect(plot);
  });
}

// The title, and the legend right of it.
void Writer::Legend(QPainter& p, const QRectF& r, const QString& title) const {
  p.setFont(bold_);
  p.setPen(Qt::black);
  p.drawText(QRectF(r.left(), r.top(), r.width(), Mm(5)), Qt::AlignLeft, title);
  double x = r.right();
  p.setFont(body_);
  for (const auto& [text, colour] :
       {std::pair<QString, QColor>{"process value", kProcess}, {"band", QColor(120, 180, 120)}, {"design", kDesign}}) {
    const double w = QFontMetricsF(body_, p.device()).horizontalAdvance(text);
    x -= w;
    p.setPen(colour);
    p.drawText(QPointF(x, r.top() + Mm(3.5)), text);
    p.fillRect(QRectF(x - Mm(5), r.top() + Mm(2), Mm(4), Mm(1.2)), colour);
    x -= Mm(9);
  }
}

// Grid and axes.
void Writer::Axes(QPainter& p, const QRectF& r, const QRectF& plot, const ChartSpan& span, const QString& unit) const {
  const double lo = span.lo, hi = span.hi, hours = span.hours;
  p.setFont(body_);
  const double vStep = NiceStep(hi - lo, 6), tStep = NiceStep(hours, 8);
  for (double v = std::ceil(lo / vStep) * vStep; v <= hi; v += vStep) {
    const double y = span.At(plot, span.opened, v).y();
    p.setPen(QPen(kGrid, 0));
    p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    p.setPen(Qt::black);
    p.drawText(QRectF(r.left(), y - Mm(2), Mm(12), Mm(4)), Qt::AlignRight | Qt::AlignVCenter,
               QString::number(v) + unit);
  }
  for (double t = 0; t <= hours + 1e-9; t += tStep) {
    const double px = plot.left() + t / hours * plot.width();
    p.setPen(QPen(kGrid, 0));
    p.drawLine(QPointF(px, plot.top()), QPointF(px, plot.bottom()));
    p.setPen(Qt::black);
    const int minutes = static_cast<int>(std::lround(t * 60));
    p.drawText(QRectF(px - Mm(8), plot.bottom() + Mm(0.5), Mm(16), Mm(4)), Qt::AlignHCenter,
               QString("%1:%2").arg(minutes / 60).arg(minutes % 60, 2, 10, QChar('0')));
  }
  p.drawText(QRectF(plot.left(), plot.bottom() + Mm(4), plot.width(), Mm(4)), Qt::AlignHCenter,
             "hours since the start (h:mm)");
}

QString EventText(const LoadEvent& e) {
  std::string text = e.what;
  if (!e.oldValue.empty() || !e.newValue.empty())
    text += (text.empty() ? "" : " ") + ("(" + e.oldValue + " -> " + e.newValue + ")");
  if (e.from && e.to) text += (text.empty() ? "" : "; ") + ("from " + UtcTime(*e.from) + " to " + UtcTime(*e.to));
  return Q(text);
}

// The title, the result and what the load was: who, where, which profile and program, how sampled.
void WriteSummary(Writer& w, Pages& pages, const LoadRecord& record, const LoadResult& result) {
  const LoadHeader& h = record.header;
  w.Line(pages, w.title_, Q("Load record " + h.loadId));
  const bool closed = record.close.has_value();
  w.Line(pages, w.title_,
         closed ? Q(std::string("Result: ") + ResultWord(*record.close))
                : Q(std::string("Under way: provisional result ") + (result.pass ? "PASS" : "FAIL")),
         result.pass ? kPass : kFail);
  pages.Space(Mm(2));
  w.Pair(pages, "Opened", Q(UtcTime(h.opened) + ", started from the " + h.startedBy));
  w.Pair(pages, "Closed", closed ? Q(UtcTime(record.close->at) + ", " + record.close->ended) : QString("under way"));
  w.Pair(pages, "Operator", Q(h.operatorName.empty() ? "(none: started from the front panel)" : h.operatorName));
  for (const ShopField& f : h.fields) w.Pair(pages, Q(f.name), Q(f.value));
  for (const std::string& name : h.missing) w.Pair(pages, Q(name), "(not given)");
  if (!h.furnace.empty()) w.Pair(pages, "Furnace", Q(h.furnace));
  for (const LoadController& c : h.controllers)
    w.Pair(pages, Q("Channel " + std::to_string(c.channel)),
           Q(c.nickname + ", address " + std::to_string(c.address) + (c.port.empty() ? "" : ", port " + c.port)));
  w.Pair(pages, "Profile",
         Q(h.profileName + " (times in " +
           (h.timeScale == 'S'   ? "seconds"
            : h.timeScale == 'H' ? "hours"
                                 : "minutes") +
           ", degrees " + std::string(1, h.temperatureScale) + ")"));
  w.Pair(pages, "Profile SHA-256", Q(h.profileSha256.empty() ? "(the file could not be read)" : h.profileSha256),
         &w.mono_);
  std::string steps = "steps " + std::to_string(h.lowStep) + " to " + std::to_string(h.highStep) + ":";
  for (const LoadStep& s : h.program)
    steps += " " + std::to_string(s.step) + " (PID " + std::to_string(s.pidSet) + ", time " +
             std::to_string(s.duration) + ", " + std::to_string(s.temperature) + ");";
  w.Pair(pages, "Program", Q(steps));
  long long gaps = 0;
  for (const LoadSample& s : record.samples) gaps += s.gap;
  w.Pair(pages, "Samples",
         Q(std::to_string(record.samples.size() - gaps) + " readings, " + std::to_string(gaps) +
           " failed, one sweep every " + std::to_string(static_cast<int>(h.sweepPeriod)) + " s"));
  for (const LoadEvent& e : record.events)
    if (e.kind == event::kNotWritten) w.Pair(pages, "Written late", EventText(e), nullptr);
}

// The checks, a chart per controller, the events and the signatures.
void WriteSections(Writer& w, Pages& pages, const LoadRecord& record, const LoadResult& result) {
  const bool closed = record.close.has_value();
  w.Heading(pages, closed ? "Checks" : "Checks (provisional: the load is under way)");
  std::vector<QStringList> checkRows;
  for (const LoadCheck& c : result.checks)
    checkRows.push_back(
        {Q(c.name), c.channel ? QString::number(c.channel) : QString("all"), c.pass ? "PASS" : "FAIL", Q(c.reason)});
  w.Table(pages, {0.24, 0.06, 0.08, 0.62}, {"Check", "Ch", "Result", "Reason"}, checkRows, [&](int row, int column) {
    return column == 2 ? (result.checks[static_cast<std::size_t>(row)].pass ? kPass : kFail) : QColor(Qt::black);
  });

  w.Heading(pages, "Charts");
  for (const LoadController& c : record.header.controllers) w.Chart(pages, record, c);

  w.Heading(pages, "Events");
  std::vector<QStringList> eventRows;
  for (const LoadEvent& e : record.events)
    eventRows.push_back(
        {Q(UtcTime(e.at)), e.channel ? QString::number(e.channel) : QString("all"), Q(e.kind), Q(e.who), EventText(e)});
  w.Table(pages, {0.2, 0.05, 0.15, 0.14, 0.46}, {"Time (UTC)", "Ch", "Event", "Who", "What"}, eventRows);

  w.Heading(pages, "Signatures");
  std::vector<QStringList> signatureRows;
  // What was signed: the final hash at the foot (load verify has checked that it is).
  for (const LoadSignature& s : record.signatures)
    signatureRows.push_back({Q(s.name), Q(UtcTime(s.at)), Q(s.meaning), Q(s.sealed.substr(0, 16) + "...")});
  if (signatureRows.empty())
    w.Line(pages, w.body_, closed ? "Not signed yet." : "A load is signed once it is closed.");
  else
    w.Table(pages, {0.22, 0.2, 0.1, 0.48}, {"Name", "Time (UTC)", "Meaning", "Final hash signed"}, signatureRows);
}

// Every page with its foot: the load, its final hash, and the page of how many. False when the
// PDF cannot be started.
bool PaintPages(QPdfWriter& pdf, const Pages& pages, const QFont& font, const QString& foot, double footHeight) {
  QPainter painter;
  if (!painter.begin(&pdf)) return false;
  for (std::size_t page = 0; page < pages.Count(); ++page) {
    if (page > 0) pdf.newPage();
    pages.Paint(painter, page);
    const QRectF footRect(0, pdf.height() - footHeight + Mm(3), pdf.width(), footHeight - Mm(3));
    painter.setPen(QPen(kRule, 0));
    painter.drawLine(footRect.topLeft(), footRect.topRight());
    painter.setPen(Qt::black);
    painter.setFont(font);
    painter.drawText(footRect.adjusted(0, Mm(1), 0, 0), Qt::AlignLeft, foot);
    painter.drawText(footRect.adjusted(0, Mm(1), 0, 0), Qt::AlignRight,
                     QString("page %1 of %2").arg(page + 1).arg(pages.Count()));
  }
  painter.end();
  return true;
}

}  // namespace

Status WriteLoadPdf(const LoadRecord& record, const LoadResult& result, const std::filesystem::path& file) {
  const LoadHeader& h = record.header;
  QSaveFile out(QString::fromStdString(file.string()));
  if (!out.open(QIODevice::WriteOnly))
    return Status::Failed("Cannot write " + file.string() + ": " + out.errorString().toStdString());
  QPdfWriter pdf(&out);
  pdf.setResolution(kDpi);
  pdf.setPageSize(QPageSize(QPageSize::A4));
  pdf.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
  pdf.setTitle(Q("Load record " + h.loadId));
  pdf.setCreator("Tarvel");
  Writer w(pdf);
  const double footHeight = Mm(9);
  Pages pages(pdf.width(), pdf.height() - footHeight);
  WriteSummary(w, pages, record, result);
  WriteSections(w, pages, record, result);

  const QString foot = record.close ? Q("Load " + h.loadId + "   final hash " + record.close->finalHash)
                                    : Q("Load " + h.loadId + "   under way: no final hash yet");
  if (!PaintPages(pdf, pages, w.mono_, foot, footHeight))
    return Status::Failed("Cannot write " + file.string() + ": the PDF could not be started");
  if (!out.commit()) return Status::Failed("Cannot write " + file.string() + ": " + out.errorString().toStdString());
  return Status::Ok();
}

}  // namespace tarvel::report
