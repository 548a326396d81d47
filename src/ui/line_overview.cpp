#include "ui/line_overview.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

Q_DECLARE_METATYPE(QList<QPointF>)

namespace tarvel::ui {
namespace {

using watch::ChannelStatus;
using watch::RunState;

constexpr int kHistoryRole = Qt::UserRole + 1;
constexpr int kAlarmRole = Qt::UserRole + 2;
const QColor kAlarmColour(255, 150, 150);
const QColor kAlarmStateColour(200, 0, 0);

// The state cell of a channel in alarm: white on red, also on the selected row, whose
// highlight would otherwise hide it.
class StateCell final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (!index.data(kAlarmRole).toBool()) return QStyledItemDelegate::paint(painter, option, index);
    painter->save();
    painter->fillRect(option.rect, kAlarmStateColour);
    QFont bold = option.font;
    bold.setBold(true);
    painter->setFont(bold);
    painter->setPen(Qt::white);
    painter->drawText(option.rect.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, index.data().toString());
    painter->restore();
  }
};

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The process value over the last hour as a line in its cell.
class Sparkline final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    const auto points = index.data(kHistoryRole).value<QList<QPointF>>();
    if (points.size() < 2) return;
    auto [low, high] = std::minmax_element(points.begin(), points.end(),
                                           [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
    const double t0 = points.back().x() - LineOverview::kHistorySeconds;
    const double span = std::max(1.0, high->y() - low->y());
    const QRectF area = QRectF(option.rect).adjusted(2, 3, -2, -3);
    QPolygonF line;
    for (const QPointF& p : points)
      line << QPointF(area.left() + area.width() * (p.x() - t0) / LineOverview::kHistorySeconds,
                      area.bottom() - area.height() * (p.y() - low->y()) / span);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(option.palette.color(QPalette::Text), 1));
    painter->drawPolyline(line);
    painter->restore();
  }
};

QString Duration(double seconds) {
  if (seconds < 90) return QString::number(seconds, 'f', 0) + " s";
  if (seconds < 5400) return QString::number(seconds / 60, 'f', 0) + " min";
  return QString::number(seconds / 3600, 'f', 1) + " h";
}

}  // namespace

LineOverview::LineOverview(QWidget* parent) : QWidget(parent) {
  setObjectName("LineOverview");
  auto* layout = new QVBoxLayout(this);
  grid_ = new QTableWidget(0, kColumns);
  grid_->setObjectName("LineOverviewGrid");
  grid_->setHorizontalHeaderLabels({"Channel", "State", "Nickname", "Process Value", "Set Point", "Deviation", "Band",
                                    "Last Hour", "Age", "Step", "Step Time", "Profile", "Zone", "Relays", "Run Mode",
                                    "Address"});
  grid_->verticalHeader()->hide();
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setItemDelegateForColumn(kLastHour, new Sparkline(grid_));
  grid_->setItemDelegateForColumn(kState, new StateCell(grid_));
  grid_->setColumnWidth(kLastHour, 140);
  grid_->horizontalHeader()->setStretchLastSection(true);
  grid_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
  grid_->setWordWrap(false);
  grid_->setMinimumHeight(grid_->horizontalHeader()->sizeHint().height() + 3 * (fontMetrics().height() + 8) + 4);
  connect(grid_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    if (QTableWidgetItem* item = grid_->item(row, kChannel)) emit channelChosen(item->text().toInt());
  });
  layout->addWidget(grid_);

  sweepLabel_ = new QLabel("Waiting for the first sweep");
  sweepLabel_->setObjectName("LineOverviewSweep");
  zonesLabel_ = new QLabel;
  zonesLabel_->setObjectName("LineOverviewZones");
  messageLabel_ = new QLabel;
  messageLabel_->setObjectName("LineOverviewMessage");
  // A long message (a file's path) is cut, never widening the dock.
  messageLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  auto* labels = new QHBoxLayout;
  labels->addWidget(sweepLabel_);
  labels->addWidget(zonesLabel_, 1);
  layout->addLayout(labels);
  layout->addWidget(BuildZoneBar());
  layout->addWidget(messageLabel_);

  ageTimer_ = new QTimer(this);
  ageTimer_->setInterval(1000);
  connect(ageTimer_, &QTimer::timeout, this, &LineOverview::RefreshAges);
  ageTimer_->start();
}

QWidget* LineOverview::BuildZoneBar() {
  auto* bar = new QWidget;
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(new QLabel("Zone"));
  zoneSelect_ = new QComboBox;
  zoneSelect_->setObjectName("ZoneSelect");
  row->addWidget(zoneSelect_);
  const std::pair<const char*, console::ZoneVerb> commands[] = {{"Upload...", console::ZoneVerb::Upload},
                                                                {"Select...", console::ZoneVerb::Select},
                                                                {"Start", console::ZoneVerb::Start},
                                                                {"Pause", console::ZoneVerb::Pause},
                                                                {"Restart", console::ZoneVerb::Restart}};
  for (auto [caption, verb] : commands) {
    auto* button = new QPushButton(caption);
    QString name = QString("Zone") + console::ZoneVerbName(verb) + "Button";
    name[4] = name[4].toUpper();
    button->setObjectName(name);
    connect(button, &QPushButton::clicked, this, [this, verb] {
      if (!zoneSelect_->currentText().isEmpty()) emit zoneCommand(zoneSelect_->currentText(), verb);
    });
    row->addWidget(button);
  }
  auto* setZone = new QPushButton("Set Zone...");
  setZone->setObjectName("SetZoneButton");
  connect(setZone, &QPushButton::clicked, this, [this] {
    const int current = grid_->currentRow();
    if (current < 0) return;
    bool ok = false;
    const QString zone = QInputDialog::getText(
        this, "Set Zone", "Zone of channel " + grid_->item(current, kChannel)->text() + " (empty: none)",
        QLineEdit::Normal, grid_->item(current, kZone)->text(), &ok);
    if (ok) emit zoneChange(grid_->item(current, kChannel)->text().toInt(), zone.trimmed());
  });
  row->addWidget(setZone);
  auto* ack = new QPushButton("Acknowledge");
  ack->setObjectName("AcknowledgeAlarmButton");
  connect(ack, &QPushButton::clicked, this, [this] {
    const int current = grid_->currentRow();
    if (current < 0) return;
    const int channel = grid_->item(current, kChannel)->text().toInt();
    const auto status = statuses_.find(channel);
    if (status == statuses_.end() || !status->second.alarm)
      ShowMessage(QString("No open alarm on channel %1").arg(channel));
    else if (!status->second.alarmAcked)
      emit acknowledge(channel);
  });
  row->addWidget(ack);
  row->addStretch(1);
  return bar;
}

int LineOverview::RowOf(int channel) const {
  for (int row = 0; row < grid_->rowCount(); ++row)
    if (grid_->item(row, kChannel)->text().toInt() == channel) return row;
  return -1;
}

void LineOverview::Show(const ChannelStatus& s) {
  int row = RowOf(s.id.channel);
  if (row < 0) {
    // Rows in channel order.
    row = 0;
    while (row < grid_->rowCount() && grid_->item(row, kChannel)->text().toInt() < s.id.channel) ++row;
    grid_->insertRow(row);
    for (int c = 0; c < kColumns; ++c) grid_->setItem(row, c, new QTableWidgetItem);
  }
  statuses_[s.id.channel] = s;
  const bool good = s.lastGood.has_value();
  auto number = [good](int value) { return good ? QString::number(value) : QString(); };
  const auto deviation = s.Deviation();
  QString texts[kColumns];
  texts[kChannel] = QString::number(s.id.channel);
  texts[kState] = s.alarm ? QString("ALARM") : QString(watch::RunStateName(s.state));
  texts[kNickName] = Q(s.id.nickName);
  texts[kProcessValue] = number(s.processValue);
  texts[kSetPoint] = number(s.setPoint);
  texts[kDeviation] = deviation ? QString("%1%2").arg(*deviation > 0 ? "+" : "").arg(*deviation) : QString();
  texts[kBand] = s.band == watch::Band::None
                     ? QString()
                     : QString("%1 (%2..%3)").arg(watch::BandName(s.band)).arg(*s.bandLow).arg(*s.bandHigh);
  texts[kAge] = grid_->item(row, kAge)->text();
  texts[kStep] = number(s.step);
  texts[kStepTime] = number(s.stepTime);
  texts[kProfile] = Q(s.profile);
  texts[kZone] = Q(s.zone);
  texts[kRelays] =
      good ? QString("%1 / %2").arg(s.relays.relay1 == 1 ? "on" : "off", s.relays.relay2 == 1 ? "on" : "off")
           : QString();
  texts[kRunMode] = number(s.runMode);
  texts[kAddress] = QString::number(s.id.address);
  // Words first: the alarm's own text, or why the unit did not answer, on the state cell.
  const QString why =
      s.alarm ? Q(s.alarmText) +
                    (s.alarmAcked ? Q("; acknowledged by " + s.alarmAckedBy + " at " + watch::IsoTime(*s.alarmAcked))
                                  : QString())
      : s.state == RunState::NoReply ? Q(std::string(link::Describe(s.failure)))
                                     : QString();
  for (int c = 0; c < kColumns; ++c) {
    QTableWidgetItem* item = grid_->item(row, c);
    item->setText(texts[c]);
    item->setBackground(s.alarm ? QBrush(kAlarmColour) : QBrush());
    item->setToolTip(why);
  }
  grid_->item(row, kState)->setData(kAlarmRole, s.alarm);
  if (good) {
    lastGood_[s.id.channel] = *s.lastGood;
    auto history = grid_->item(row, kLastHour)->data(kHistoryRole).value<QList<QPointF>>();
    const double now = std::chrono::duration<double>(s.lastGood->time_since_epoch()).count();
    if (history.isEmpty() || history.back().x() < now) history.append(QPointF(now, s.processValue));
    while (!history.isEmpty() && history.front().x() < now - kHistorySeconds) history.removeFirst();
    grid_->item(row, kLastHour)->setData(kHistoryRole, QVariant::fromValue(history));
  }
  RefreshAges();
}

void LineOverview::ShowSweep(const watch::SweepSummary& sweep) {
  for (int row = grid_->rowCount() - 1; row >= 0; --row) {
    const int channel = grid_->item(row, kChannel)->text().toInt();
    if (std::find(sweep.channels.begin(), sweep.channels.end(), channel) == sweep.channels.end()) {
      grid_->removeRow(row);
      lastGood_.erase(channel);
      statuses_.erase(channel);
    }
  }
  const double took = std::chrono::duration<double>(sweep.took).count();
  const double period = std::chrono::duration<double>(sweep.period).count();
  const int periodDecimals = period < 10 ? 1 : 0;  // a quick period is not "0 s"
  sweepLabel_->setText(sweep.saturated ? QString("Line saturated: a sweep takes %1 s, longer than the %2 s period")
                                             .arg(took, 0, 'f', 1)
                                             .arg(period, 0, 'f', periodDecimals)
                                       : QString("Sweep %1 took %2 s of %3 s")
                                             .arg(sweep.number)
                                             .arg(took, 0, 'f', 1)
                                             .arg(period, 0, 'f', periodDecimals));
  sweepLabel_->setStyleSheet(sweep.saturated ? "color: #b00000; font-weight: bold" : "");
  grid_->resizeColumnsToContents();
  grid_->setColumnWidth(kLastHour, 140);
  QStringList zones;
  const QString chosen = zoneSelect_->currentText();
  zoneSelect_->clear();
  for (const watch::ZoneSpread& zone : sweep.zones) {
    zoneSelect_->addItem(Q(zone.zone));
    auto spread = zone.Spread();
    zones << QString("%1: spread %2").arg(Q(zone.zone), spread ? QString::number(*spread) : QString("-"));
  }
  if (int index = zoneSelect_->findText(chosen); index >= 0) zoneSelect_->setCurrentIndex(index);
  zonesLabel_->setText(zones.join("   "));
}

void LineOverview::ShowMessage(const QString& text) { messageLabel_->setText(text); }

void LineOverview::RefreshAges() {
  const auto now = watch::SystemClock::now();
  for (int row = 0; row < grid_->rowCount(); ++row) {
    auto found = lastGood_.find(grid_->item(row, kChannel)->text().toInt());
    grid_->item(row, kAge)->setText(
        found == lastGood_.end() ? QString() : Duration(std::chrono::duration<double>(now - found->second).count()));
  }
}

}  // namespace tarvel::ui
