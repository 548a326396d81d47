#pragma once
// ui: the line overview -- one row per mapped channel with what the line watch last read of
// it, what is read at a glance first (state in words -- running, held, finished, idle, no
// reply, ALARM --, process value, set point, deviation from the design, band, a sparkline of
// the last hour, age of the last good reading), then step, profile, zone, relays, run mode and
// address; an alarm's state cell red even on the selected row; the sweep's timing (saturated
// when it takes longer than its period) and each zone's spread, with the zone commands and the
// acknowledgement of the selected row's alarm. Fed on
// its own thread; holds no rule: the watch decides.

#include <QWidget>

#include <map>

#include "console/zone_run.h"
#include "watch/line_watch.h"

class QComboBox;
class QLabel;
class QTableWidget;
class QTimer;

namespace tarvel::ui {

class LineOverview : public QWidget {
  Q_OBJECT

 public:
  enum Column {
    kChannel,
    kState,
    kNickName,
    kProcessValue,
    kSetPoint,
    kDeviation,
    kBand,
    kLastHour,
    kAge,
    kStep,
    kStepTime,
    kProfile,
    kZone,
    kRelays,
    kRunMode,
    kAddress,
    kColumns
  };
  explicit LineOverview(QWidget* parent = nullptr);

  void Show(const watch::ChannelStatus& status);
  void ShowSweep(const watch::SweepSummary& sweep);
  void ShowMessage(const QString& text);
  int RowOf(int channel) const;  // -1 when the channel has no row
  QTableWidget* Grid() const { return grid_; }
  // The latest status of each channel shown.
  const std::map<int, watch::ChannelStatus>& Statuses() const { return statuses_; }
  static constexpr int kHistorySeconds = 3600;

 signals:
  void channelChosen(int channel);  // a row was double-clicked
  void zoneCommand(const QString& zone, console::ZoneVerb verb);
  void zoneChange(int channel, const QString& zone);  // empty zone: out of its zone
  void acknowledge(int channel);  // Acknowledge on the selected row of an alarm nobody has acknowledged

 private:
  void RefreshAges();
  QWidget* BuildZoneBar();

  QTableWidget* grid_ = nullptr;
  QLabel* sweepLabel_ = nullptr;
  QLabel* zonesLabel_ = nullptr;
  QLabel* messageLabel_ = nullptr;
  QComboBox* zoneSelect_ = nullptr;
  QTimer* ageTimer_ = nullptr;
  std::map<int, watch::SystemClock::time_point> lastGood_;
  std::map<int, watch::ChannelStatus> statuses_;
};

}  // namespace tarvel::ui
