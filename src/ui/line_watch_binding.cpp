#include "ui/line_watch_binding.h"

#include <QAction>
#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QFormLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTableWidget>

#include <pwd.h>
#include <unistd.h>

#include "store/config_store.h"
#include "ui/console_window.h"
#include "ui/line_overview.h"
#include "util/text.h"
#include "watch/alarms.h"
#include "watch/zones.h"

namespace tarvel::ui {
namespace {

using namespace std::chrono_literals;

QString Q(const std::string& text) { return QString::fromStdString(text); }
QString SettingsFile(const AppFolder& folder) { return Q((folder.Setup() / "LineWatch.ini").string()); }

}  // namespace

LineWatchOptions LoadLineWatchOptions(const AppFolder& folder) {
  // A file an earlier version left readable by others is made the user's own before it is read.
  if (QFile settings(SettingsFile(folder)); settings.exists())
    settings.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  QSettings ini(SettingsFile(folder), QSettings::IniFormat);
  LineWatchOptions o;
  o.watch.period = std::chrono::milliseconds(
      std::clamp(ini.value("Sweep/PeriodMs", qint64(o.watch.period.count())).toLongLong(), 0LL, 86'400'000LL));
  o.watch.consecutive = std::clamp(ini.value("Alarms/Consecutive", o.watch.consecutive).toInt(), 1, 1000);
  o.watch.blockReads = ini.value("Line/BlockReads", true).toBool();
  o.notify = ini.value("Alarms/Notify", true).toBool();
  o.mqttUrl = ini.value("Mqtt/Url").toString().toStdString();
  o.mqtt.username = ini.value("Mqtt/Username").toString().toStdString();
  o.mqtt.password = ini.value("Mqtt/Password").toString().toStdString();
  o.mqtt.cafile = ini.value("Mqtt/CaFile").toString().toStdString();
  o.mqtt.certfile = ini.value("Mqtt/CertFile").toString().toStdString();
  o.mqtt.keyfile = ini.value("Mqtt/KeyFile").toString().toStdString();
  o.mqtt.insecure = ini.value("Mqtt/Insecure", false).toBool();
  return o;
}

void SaveLineWatchOptions(const AppFolder& folder, const LineWatchOptions& o) {
  // It may hold the broker password: the user's own, from before the first byte is written (the
  // settings are written over a file of these permissions, which they keep).
  QFile settings(SettingsFile(folder));
  if (settings.open(QIODevice::Append)) settings.close();
  settings.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  QSettings ini(SettingsFile(folder), QSettings::IniFormat);
  ini.setValue("Sweep/PeriodMs", qint64(o.watch.period.count()));
  ini.setValue("Alarms/Consecutive", o.watch.consecutive);
  ini.setValue("Line/BlockReads", o.watch.blockReads);
  ini.setValue("Alarms/Notify", o.notify);
  ini.setValue("Mqtt/Url", Q(o.mqttUrl));
  ini.setValue("Mqtt/Username", Q(o.mqtt.username));
  ini.setValue("Mqtt/Password", Q(o.mqtt.password));
  ini.setValue("Mqtt/CaFile", Q(o.mqtt.cafile));
  ini.setValue("Mqtt/CertFile", Q(o.mqtt.certfile));
  ini.setValue("Mqtt/KeyFile", Q(o.mqtt.keyfile));
  ini.setValue("Mqtt/Insecure", o.mqtt.insecure);
  ini.sync();
  settings.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

LineWatchBinding::LineWatchBinding(ConsoleWindow& window, console::Console& console, watch::LineWatch& watch,
                                   AppFolder folder)
    : QObject(&window),
      window_(window),
      runner_(window.Runner()),
      console_(console),
      watch_(watch),
      folder_(std::move(folder)) {
  BuildDock();
  ConnectOverview();
  ListenToWatch();
  window.SetMonitorFedByLineWatch(true);
  window.SetExitQuestion([this] { return ExitReasons(); });
}

void LineWatchBinding::BuildDock() {
  dock_ = new QDockWidget("Line Overview", &window_);
  dock_->setObjectName("LineOverviewDock");
  overview_ = new LineOverview(dock_);
  dock_->setWidget(overview_);
  window_.AddDock(dock_);  // listed in the View menu too

  if (auto* setup = window_.findChild<QMenu*>("mnuSetUp")) {
    QAction* show = dock_->toggleViewAction();
    show->setText("Line Overview");
    show->setObjectName("mnuLineOverview");
    setup->addAction(show);
    QAction* settings = setup->addAction("Line Watch Settings...");
    settings->setObjectName("mnuLineWatchSettings");
    connect(settings, &QAction::triggered, this, &LineWatchBinding::EditSettings);
  }
}

void LineWatchBinding::ConnectOverview() {
  // Double click: that channel in the console, as if chosen in its selector.
  connect(overview_, &LineOverview::channelChosen, this, [this](int channel) {
    runner_.Run([c = &console_, text = std::to_string(channel)] {
      const auto& channels = c->Selection().Current().channels;
      if (auto found = std::find(channels.begin(), channels.end(), text); found != channels.end())
        c->Selection().ChooseChannel(static_cast<int>(found - channels.begin()));
    });
    window_.raise();
    window_.activateWindow();
  });
  connect(overview_, &LineOverview::zoneCommand, this, &LineWatchBinding::RunZoneCommand);
  connect(overview_, &LineOverview::acknowledge, this, &LineWatchBinding::Acknowledge);
  connect(overview_, &LineOverview::zoneChange, this, [this](int channel, const QString& zone) {
    runner_.Run([w = &watch_, c = &console_, channel, zone = zone.toStdString()] {
      if (const Status done = w->SetZone(channel, zone); !done.ok()) c->Messages().Display(done.message());
    });
  });
}

// Left in the store for whichever process watches the line (this one, or the line service).
void LineWatchBinding::Acknowledge(int channel) {
  const passwd* user = getpwuid(getuid());
  runner_.Run([o = overview_, folder = folder_, channel,
               who = std::string(user && *user->pw_name ? user->pw_name : "console")] {
    store::ConfigStore store(folder.ConfigDatabase());
    auto acked = watch::AcknowledgeAlarm(store, channel, who);
    const QString text = acked.ok()
                             ? QString("Alarm on channel %1 acknowledged by %2").arg(channel).arg(Q(acked->row.ackedBy))
                             : Q(acked.status().message());
    QMetaObject::invokeMethod(
        o, [o, text] { o->ShowMessage(text); }, Qt::QueuedConnection);
  });
}

std::shared_ptr<publish::MqttPublisher> LineWatchBinding::Publisher() {
  std::lock_guard lock(publisherMutex_);
  return publisher_;
}

void LineWatchBinding::ListenToWatch() {
  // The watch calls these on the runner's thread: hand over, never wait.
  watch_.OnStatus([this](const watch::ChannelStatus& status) {
    QMetaObject::invokeMethod(
        overview_, [o = overview_, status] { o->Show(status); }, Qt::QueuedConnection);
    if (auto publisher = Publisher()) publisher->PublishState(status);
  });
  watch_.OnSweep([this](const watch::SweepSummary& sweep) {
    QMetaObject::invokeMethod(
        overview_, [o = overview_, sweep] { o->ShowSweep(sweep); }, Qt::QueuedConnection);
  });
  watch_.OnMessage([this](const std::string& text) {
    QMetaObject::invokeMethod(
        overview_, [o = overview_, t = Q(text)] { o->ShowMessage(t); }, Qt::QueuedConnection);
  });
  watch_.OnAlarm([this](const watch::AlarmEvent& event) {
    QMetaObject::invokeMethod(
        this, [this, event] { Notify(event); }, Qt::QueuedConnection);
    if (auto publisher = Publisher()) publisher->PublishAlarm(event);
  });
  watch_.OnLoad([this](const watch::LoadRecord& record) {
    if (auto publisher = Publisher()) publisher->PublishLoad(record);
  });
}

QString LineWatchBinding::ExitReasons() const {
  QStringList recording, alarms;
  for (const auto& [channel, status] : overview_->Statuses()) {
    const QString name = QString("%1 %2").arg(channel).arg(Q(status.id.nickName));
    if (!status.recording.empty()) recording << name;
    if (status.alarm) alarms << name + ": " + Q(status.alarmText);
  }
  QStringList reasons;
  if (!recording.isEmpty())
    reasons << QString("%1 being recorded (channel %2); the line watch stops recording when Tarvel ends.")
                   .arg(recording.size() == 1 ? QString("A run is") : QString("%1 runs are").arg(recording.size()))
                   .arg(recording.join(", channel "));
  if (!alarms.isEmpty())
    reasons << QString("%1 open: channel %2.")
                   .arg(alarms.size() == 1 ? QString("An alarm is") : QString("%1 alarms are").arg(alarms.size()))
                   .arg(alarms.join("; channel "));
  return reasons.join("\n");
}

LineWatchBinding::~LineWatchBinding() {
  runner_.Shutdown();  // the watch's listeners point here: no step may run after
  std::lock_guard lock(publisherMutex_);
  publisher_.reset();
}

void LineWatchBinding::Start() {
  Apply(LoadLineWatchOptions(folder_));
  runner_.Run([c = &console_, w = &watch_] {
    c->RunMonitor().SetRunsRecordedElsewhere(true);
    w->SetMonitorView([c](int channel, std::uint8_t address, const controller::RunStateReading& reading) {
      return c->RunMonitor().ShowReading(channel, address, reading);
    });
  });
  started_ = true;
  Sweep();
}

void LineWatchBinding::Sweep() {
  runner_.SetBackground([w = &watch_](bool commandCameBetween) {
    if (commandCameBetween) w->CommandCameBetween();
    const watch::SweepStep step = w->Step();
    if (step.again) return 0ms;
    return std::max(1ms, std::chrono::ceil<std::chrono::milliseconds>(step.wait));
  });
}

void LineWatchBinding::Apply(const LineWatchOptions& options) {
  options_ = options;
  // The console's transfers and readings follow the same block-read setting as the sweep.
  runner_.Run([w = &watch_, c = &console_, settings = options.watch] {
    w->Apply(settings);
    c->SetBlockReads(settings.blockReads);
  });
  if (started_) Sweep();  // a wait for the old period ends now
  std::shared_ptr<publish::MqttPublisher> publisher;
  if (!options.mqttUrl.empty()) {
    auto parsed = publish::ParseMqttUrl(options.mqttUrl);
    if (!parsed) {
      overview_->ShowMessage(Q(parsed.status().message()));
    } else {
      publish::MqttOptions mqtt = options.mqtt;
      mqtt.host = parsed->host;
      mqtt.port = parsed->port;
      mqtt.prefix = parsed->prefix;
      mqtt.tls = parsed->tls;
      publisher = std::make_shared<publish::MqttPublisher>(mqtt);
      publisher->OnProblem([o = overview_](const std::string& text) {
        QMetaObject::invokeMethod(
            o, [o, t = Q(text)] { o->ShowMessage(t); }, Qt::QueuedConnection);
      });
      if (Status started = publisher->Start(); !started.ok()) {
        overview_->ShowMessage(Q(started.message()));
        publisher.reset();
      }
    }
  }
  std::lock_guard lock(publisherMutex_);
  publisher_ = std::move(publisher);  // the one it replaces says "offline" as it goes
}

void LineWatchBinding::Notify(const watch::AlarmEvent& event) {
  const QString title = QString("%1 channel %2 %3: %4")
                            .arg(event.kind == watch::AlarmKind::Band ? "Temperature alarm" : "Controller alarm")
                            .arg(event.id.channel)
                            .arg(Q(event.id.nickName))
                            .arg(event.raised ? "raised" : "cleared");
  const QString text = Q(event.text);
  emit alarmNotified(title, text);
  // In the console's message area too, where the user looks after a command.
  console_.Messages().Display(QString("%1 channel %2 %3: %4")
                                  .arg(event.raised ? "ALARM" : "Alarm cleared")
                                  .arg(event.id.channel)
                                  .arg(Q(event.id.nickName))
                                  .arg(text)
                                  .toStdString());
  // The tray icon, where the desktop has a tray, stays while an alarm is open and names them.
  if (event.raised)
    openAlarms_[event.id.channel] =
        QString("channel %1 %2: %3").arg(event.id.channel).arg(Q(event.id.nickName)).arg(text);
  else
    openAlarms_.erase(event.id.channel);
  auto* tray = qobject_cast<QSystemTrayIcon*>(tray_);
  if (!tray && !openAlarms_.empty() && QSystemTrayIcon::isSystemTrayAvailable()) {
    tray = new QSystemTrayIcon(window_.windowIcon(), this);
    tray_ = tray;
  }
  if (tray) {
    QStringList open;
    for (const auto& [channel, line] : openAlarms_) open << line;
    tray->setToolTip(open.isEmpty() ? QString("Tarvel line watch: no alarm open")
                                    : "Tarvel line watch, ALARM:\n" + open.join("\n"));
    tray->setVisible(!openAlarms_.empty());
  }
  if (!options_.notify) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered("org.freedesktop.Notifications")) {
    QDBusInterface notifications("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                 "org.freedesktop.Notifications", bus);
    notifications.asyncCall("Notify", QString("Tarvel"), 0u, QString("tarvel"), title, text, QStringList(),
                            QVariantMap(), event.raised ? 0 : 10000);
    return;
  }
  if (tray) tray->showMessage(title, text, event.raised ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
}

void LineWatchBinding::RunZoneCommand(const QString& zone, console::ZoneVerb verb) {
  console::ZoneCommand command;
  command.verb = verb;
  if (verb == console::ZoneVerb::Upload) {
    command.profile = QFileDialog::getOpenFileName(&window_, "Upload to zone " + zone, Q(folder_.Profiles().string()),
                                                   "Temperature Profile  (*.txt)")
                          .toStdString();
    if (command.profile.empty()) return;
    bool ok = false;
    const int start = QInputDialog::getInt(&window_, "Upload to zone " + zone, "Start step", 1, 1, 64, 1, &ok);
    if (!ok) return;
    command.startStep = std::to_string(start);
    command.progression =
        QInputDialog::getItem(&window_, "Upload to zone " + zone, "Progression", {"SV", "PV"}, 0, false, &ok)
            .toStdString();
    if (!ok) return;
  } else if (verb == console::ZoneVerb::Select) {
    bool ok = false;
    command.profile = QInputDialog::getText(&window_, "Select in zone " + zone, "Profile name (as in the profile log)",
                                            QLineEdit::Normal, {}, &ok)
                          .trimmed()
                          .toStdString();
    if (!ok || command.profile.empty()) return;
  }
  runner_.Run([w = &watch_, c = &console_, zone = zone.toStdString(), command] {
    console::RunZone(*c, zone, w->MembersOf(zone), command);
  });
}

void LineWatchBinding::EditSettings() {
  QDialog dialog(&window_);
  dialog.setObjectName("LineWatchSettings");
  dialog.setWindowTitle("Line Watch Settings");
  auto* form = new QFormLayout(&dialog);
  auto* period = new QSpinBox;
  period->setObjectName("SweepPeriod");
  period->setRange(1, 86400);
  period->setSuffix(" s");
  period->setValue(static_cast<int>(std::max<long long>(1, options_.watch.period.count() / 1000)));
  auto* consecutive = new QSpinBox;
  consecutive->setObjectName("AlarmConsecutive");
  consecutive->setRange(1, 1000);
  consecutive->setValue(options_.watch.consecutive);
  auto* notify = new QCheckBox("Desktop notification of alarms");
  notify->setChecked(options_.notify);
  auto* url = new QLineEdit(Q(options_.mqttUrl));
  url->setObjectName("MqttUrl");
  url->setPlaceholderText("mqtt://HOST[:PORT]/PREFIX (empty: no publishing)");
  auto* user = new QLineEdit(Q(options_.mqtt.username));
  auto* password = new QLineEdit(Q(options_.mqtt.password));
  password->setEchoMode(QLineEdit::Password);
  auto* cafile = new QLineEdit(Q(options_.mqtt.cafile));
  form->addRow("Sweep period", period);
  form->addRow("Alarm after readings outside the band", consecutive);
  form->addRow(notify);
  auto* blockReads = new QCheckBox("Block reads where a controller answers them");
  blockReads->setObjectName("BlockReads");
  blockReads->setChecked(options_.watch.blockReads);
  form->addRow(blockReads);
  form->addRow("MQTT broker", url);
  form->addRow("MQTT user name", user);
  form->addRow("MQTT password", password);
  form->addRow("CA certificate file", cafile);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (dialog.exec() != QDialog::Accepted) return;
  LineWatchOptions options = options_;
  options.watch.period = std::chrono::seconds(period->value());
  options.watch.consecutive = consecutive->value();
  options.notify = notify->isChecked();
  options.watch.blockReads = blockReads->isChecked();
  options.mqttUrl = url->text().trimmed().toStdString();
  options.mqtt.username = user->text().toStdString();
  options.mqtt.password = password->text().toStdString();
  options.mqtt.cafile = cafile->text().trimmed().toStdString();
  if (!options.mqttUrl.empty()) {
    if (auto parsed = publish::ParseMqttUrl(options.mqttUrl); !parsed) {
      overview_->ShowMessage(Q(parsed.status().message()));
      return;
    }
  }
  SaveLineWatchOptions(folder_, options);
  Apply(options);
}

}  // namespace tarvel::ui
