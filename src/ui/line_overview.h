#pragma once
// ui: the line overview -- one row per mapped channel with what the line watch last read of
// it (state, step, set point, process value, deviation from the design, band, relays, run
// mode, age of the last good reading, zone, a sparkline of the last hour), rows in alarm in
// red, the sweep's timing (saturated when it takes longer than its period) and each zone's
// spread, with the zone commands. Fed on its own thread; holds no rule: the watch decides.

#include <QWidget>

#include <map>

#include "watch/line_watch.h"
#include "watch/zone_run.h"

class QComboBox;
class QLabel;
class QTableWidget;
class QTimer;

namespace tarvel::ui {

class LineOverview : public QWidget {
  Q_OBJECT

 public:
  enum Column {
    kChannel, kNickName, kAddress, kProfile, kStep, kStepTime, kSetPoint, kProcessValue, kDeviation, kBand,
    kRelays, kRunMode, kAge, kState, kZone, kLastHour, kColumns
  };
  explicit LineOverview(QWidget* parent = nullptr);

  void Show(const watch::ChannelStatus& status);
  void ShowSweep(const watch::SweepSummary& sweep);
  void ShowMessage(const QString& text);
  int RowOf(int channel) const;  // -1 when the channel has no row
  QTableWidget* Grid() const { return grid_; }
  static constexpr int kHistorySeconds = 3600;

 signals:
  void channelChosen(int channel);  // a row was double-clicked
  void zoneCommand(const QString& zone, watch::ZoneVerb verb);
  void zoneChange(int channel, const QString& zone);  // empty zone: out of its zone

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
};

}  // namespace tarvel::ui
