#pragma once
// ui: the line watch in the console. Its sweep runs as the command runner's background work
// (a user command waits at most for one exchange); the console's monitor shows the sweep's
// readings of its channel instead of reading it again; the line overview docks on the console
// (SetUp > Line Overview) and its settings are under SetUp > Line Watch Settings...; alarms
// are written to the console's message area, show the tray icon and become desktop
// notifications; readings and alarms go to an MQTT broker when one is set; Exit asks while runs
// are recorded or alarms are open.
// The watch itself is Qt-free (src/watch); this binds it to the windows.

#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "console/console.h"
#include "console/zone_run.h"
#include "publish/mqtt_publisher.h"
#include "util/app_folder.h"
#include "watch/line_watch.h"

class QDockWidget;

namespace tarvel::ui {

class CommandRunner;
class ConsoleWindow;
class LineOverview;

// What SetUp > Line Watch Settings... keeps in Setup/LineWatch.ini.
struct LineWatchOptions {
  watch::WatchSettings watch;
  bool notify = true;         // desktop notifications of alarms
  std::string mqttUrl;        // empty: nothing is published
  publish::MqttOptions mqtt;  // credentials and TLS files; host, port and prefix come from the URL
};
LineWatchOptions LoadLineWatchOptions(const AppFolder& folder);
void SaveLineWatchOptions(const AppFolder& folder, const LineWatchOptions& options);

class LineWatchBinding : public QObject {
  Q_OBJECT

 public:
  // The watch must run on the console's line; both are used on the runner's thread only.
  LineWatchBinding(ConsoleWindow& window, console::Console& console, watch::LineWatch& watch, AppFolder folder);
  ~LineWatchBinding() override;

  // Starts sweeping, behind whatever the console has queued (its start-up).
  void Start();
  void Apply(const LineWatchOptions& options);
  const LineWatchOptions& Options() const { return options_; }
  LineOverview* Overview() const { return overview_; }
  QDockWidget* Dock() const { return dock_; }

 signals:
  void alarmNotified(const QString& title, const QString& text);

 private:
  void BuildDock();        // the overview's dock and its SetUp menu entries
  void ConnectOverview();  // the overview's commands to the console, the store and the watch
  void ListenToWatch();    // the watch's statuses, sweeps, messages, alarms and loads
  // The channel's open alarm acknowledged in the user's name.
  void Acknowledge(int channel);
  std::shared_ptr<publish::MqttPublisher> Publisher();  // the one in use now, if any
  void Sweep();                                         // the sweep as the runner's background work, from now
  // An alarm raised or cleared: the signal, a line in the console's message area, the tray icon
  // while alarms are open, and a desktop notification when the options want one.
  void Notify(const watch::AlarmEvent& event);
  // What Exit must ask about: runs being recorded, alarms open; empty when nothing.
  QString ExitReasons() const;
  void RunZoneCommand(const QString& zone, console::ZoneVerb verb);
  void EditSettings();

  ConsoleWindow& window_;
  CommandRunner& runner_;  // outlives the window
  console::Console& console_;
  watch::LineWatch& watch_;
  AppFolder folder_;
  LineWatchOptions options_;
  QDockWidget* dock_ = nullptr;
  LineOverview* overview_ = nullptr;
  bool started_ = false;
  QObject* tray_ = nullptr;            // a QSystemTrayIcon where the desktop has a tray
  std::map<int, QString> openAlarms_;  // by channel
  std::mutex publisherMutex_;          // the runner's thread publishes, the window's thread replaces
  std::shared_ptr<publish::MqttPublisher> publisher_;
};

}  // namespace tarvel::ui
