#include "service/serve.h"

#include <poll.h>
#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>

#include "service/service.h"
#include "store/config_store.h"
#include "util/text.h"

namespace tarvel::service {
namespace {

int stopPipe[2] = {-1, -1};

void OnStop(int) {
  const char byte = 1;
  (void)!write(stopPipe[1], &byte, 1);
}

// Digits only: "1.5" or "+2" is refused, not rounded.
std::optional<long long> Whole(const std::string& text, long long low, long long high) {
  if (text.empty() || text.size() > 12 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const long long value = std::stoll(text);
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::string PortLines(const nlohmann::json& info) {
  std::string lines;
  for (const auto& port : info["ports"]) {
    if (!lines.empty()) lines += "\n";
    lines += port["port"].get<std::string>() + ": " + port["state"].get<std::string>();
    if (port.contains("why")) lines += " (" + port["why"].get<std::string>() + ")";
  }
  return lines;
}

using Say = std::function<void(const std::string&)>;

// SIGINT and SIGTERM end the loop through a pipe, which poll waits on beside its tick.
bool CatchStopSignals() {
  if (pipe(stopPipe) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return true;
}

void ReleaseStopSignals() {
  sd_notify(0, "STOPPING=1");
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  close(stopPipe[0]);
  close(stopPipe[1]);
}

// Under a systemd watchdog the loop ticks at half its interval (100 ms at least), else each second.
struct Watchdog {
  bool on = false;
  int tickMs = 1000;
};

Watchdog SystemdWatchdog() {
  std::uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) <= 0) return {};
  return {true, static_cast<int>(std::max<std::uint64_t>(usec / 2000, 100))};
}

// The web view of shown (the broker's plant when fromBroker) on --http: false when it cannot listen.
bool StartWeb(std::unique_ptr<web::WebServer>& webServer, web::Plant& shown, const ServeOptions& o, bool fromBroker,
              const Say& say) {
  webServer = std::make_unique<web::WebServer>(shown);
  if (Status listening = webServer->Start(*o.web); !listening.ok()) {
    say(listening.message());
    return false;
  }
  if (!web::IsLoopback(o.web->address) && o.web->certFile.empty())
    say("--http " + o.web->address + " without --http-cert: logins cross the network readable by anyone on it");
  say(std::string("web view on ") + (o.web->certFile.empty() ? "http" : "https") + "://" +
      (o.web->address.find(':') != std::string::npos ? "[" + o.web->address + "]" : o.web->address) + ":" +
      std::to_string(webServer->Port()) + "/" + (fromBroker ? " (the plant on " + o.fromMqttUrl + ")" : ""));
  return true;
}

// The web view of the broker's plant, with no line of our own, until SIGINT or SIGTERM.
int ServePlantView(web::MqttPlant& plant, const ServeOptions& o, std::unique_ptr<web::WebServer>& webServer,
                   const Say& say) {
  if (!StartWeb(webServer, plant, o, true, say)) return kExitConfig;
  if (!CatchStopSignals()) return kExitRefused;
  sd_notify(0, "READY=1");
  const Watchdog watchdog = SystemdWatchdog();
  for (;;) {
    if (watchdog.on) sd_notify(0, "WATCHDOG=1");
    pollfd fd{stopPipe[0], POLLIN, 0};
    if (poll(&fd, 1, watchdog.tickMs) > 0) break;
  }
  ReleaseStopSignals();
  webServer->Stop();
  webServer.reset();
  return 0;
}

// What every port's line watch tells: printed on out with --print (a line at a time among the
// other threads' lines), and published over MQTT.
decltype(PortOptions::watching) Watching(bool print, publish::MqttPublisher* mqtt, std::mutex& lines, std::ostream& out,
                                         const Say& say) {
  return [print, mqtt, &lines, &out, say](watch::LineWatch& lineWatch, const std::string& port) {
    lineWatch.OnStatus([print, mqtt, &lines, &out](const watch::ChannelStatus& status) {
      if (print) {
        std::lock_guard lock(lines);
        out << watch::StatusLine(status) << "\n";
        out.flush();
      }
      if (mqtt) mqtt->PublishState(status);
    });
    lineWatch.OnAlarm([print, mqtt, &lines, &out](const watch::AlarmEvent& event) {
      if (print) {
        std::lock_guard lock(lines);
        out << watch::IsoTime(event.at) << "  ch " << event.id.channel << " " << event.id.nickName << "  ALARM "
            << (event.raised ? "raised: " : "cleared: ") << event.text << "\n";
        out.flush();
      }
      if (mqtt) mqtt->PublishAlarm(event);
    });
    lineWatch.OnSweep([print, mqtt, &lines, &out, say, port](const watch::SweepSummary& sweep) {
      if (mqtt) {
        std::vector<std::string> zones;
        for (const watch::ZoneSpread& zone : sweep.zones) zones.push_back(zone.zone);
        mqtt->MappedChannels(port, sweep.channels, zones);
        const auto now = watch::SystemClock::now();
        for (const watch::ZoneSpread& zone : sweep.zones) mqtt->PublishZone(zone, now);
      }
      if (print) {
        std::lock_guard lock(lines);
        for (const watch::ZoneSpread& zone : sweep.zones)
          if (auto spread = zone.Spread()) out << "zone " << zone.zone << " spread " << *spread << "\n";
        out.flush();
      }
      if (sweep.saturated)
        say((std::ostringstream() << "line saturated: sweep " << sweep.number << " took "
                                  << std::chrono::duration<double>(sweep.took).count() << " s, longer than the period")
                .str());
    });
    lineWatch.OnLoad([mqtt](const watch::LoadRecord& record) {
      if (mqtt) mqtt->PublishLoad(record);
    });
    lineWatch.OnMessage(say);
  };
}

bool StartPublishing(publish::MqttPublisher& publisher, const ServeOptions& o, std::size_t ports, const Say& say) {
  // --pw stays for the units written with it, with a word of its cost.
  if (o.passwordFile.empty() && !o.mqtt.password.empty())
    say("--pw shows the MQTT password to every user of this computer (ps): use --pw-file FILE");
  publisher.ExpectSources(ports);
  publisher.OnProblem(say);
  if (Status publishing = publisher.Start(); !publishing.ok()) {
    say(publishing.message());
    return false;
  }
  return true;
}

// The API on the home's socket (and on --listen): false when the service cannot go on without it.
bool StartApi(ApiServer& server, const ServeOptions& o, const Say& say) {
  const Status listening = server.Start(o.api);
  if (listening.ok()) return true;
  say(listening.message());
  // A watch run by hand still watches when only its socket cannot be made (a home path too
  // long for one): other commands are then refused the port, as without a service.
  if (!o.printReadings || o.api.tcp) return false;
  server.Stop();
  return true;
}

// Until a stop signal, --count sweeps or a port given up: READY once every port has settled, a
// STATUS line whenever a port's state changes, the watchdog fed. The exit code.
int ServeUntilEnd(Service& lineService, const ServeOptions& o) {
  const Watchdog watchdog = SystemdWatchdog();
  int tickMs = watchdog.tickMs;
  // An end the loop must notice soon: N sweeps done, a port given up.
  if (o.count > 0 || o.port.giveUpAfter) tickMs = std::min(tickMs, 100);
  bool ready = false;
  std::string status;
  for (;;) {
    if (!ready && lineService.AllSettled()) {
      ready = true;
      sd_notify(0, "READY=1");
    }
    if (std::string now = PortLines(lineService.Info()); now != status) {
      status = now;
      sd_notify(0, ("STATUS=" + status).c_str());
    }
    if (watchdog.on) sd_notify(0, "WATCHDOG=1");
    if (lineService.AnyGaveUp()) return kExitRefused;
    if (o.count > 0 && lineService.SweepsFinished() >= o.count) return 0;
    pollfd fd{stopPipe[0], POLLIN, 0};
    if (poll(&fd, 1, ready ? tickMs : 50) > 0) return 0;
  }
}

// The options that take a whole number: their range, what a value outside it is told, where it goes.
struct WholeOption {
  long long low, high;
  const char* refusal;
  bool quotesValue;  // the refusal ends with the value given
  void (*take)(ServeOptions&, long long);
};

const std::map<std::string, WholeOption> kWholeOptions = {
    // Whole seconds, as every number of tarvel-cli; a sweep at most each second.
    {"--every",
     {1, 24 * 60 * 60, "--every SECONDS must be a whole number from 1 to 86400", true,
      [](ServeOptions& o, long long n) { o.port.watch.period = std::chrono::seconds(n); }}},
    {"--count",
     {1, 1'000'000'000, "--count takes a whole number of sweeps from 1", false,
      [](ServeOptions& o, long long n) { o.count = o.port.sweeps = n; }}},
    {"--reopen-for",
     {0, 7 * 86400, "--reopen-for takes whole seconds from 0 to 604800", false,
      [](ServeOptions& o, long long n) { o.port.giveUpAfter = std::chrono::seconds(n); }}},
    {"--alarm-after",
     {1, 1000, "--alarm-after takes a whole number of readings from 1 to 1000", false,
      [](ServeOptions& o, long long n) { o.port.watch.consecutive = static_cast<int>(n); }}},
    {"--clear-after",
     {1, 1000, "--clear-after takes a whole number of readings from 1 to 1000", false,
      [](ServeOptions& o, long long n) { o.port.watch.clearAfter = static_cast<int>(n); }}},
    {"--no-reply-after",
     {0, 7 * 86400, "--no-reply-after takes whole seconds from 0 to 604800", false,
      [](ServeOptions& o, long long n) { o.port.watch.noReplyAfter = std::chrono::seconds(n); }}},
};

std::string* TextOption(ServeOptions& o, const std::string& arg) {
  const std::map<std::string, std::string*> texts = {{"--username", &o.mqtt.username},
                                                     {"--pw", &o.mqtt.password},
                                                     {"--cafile", &o.mqtt.cafile},
                                                     {"--capath", &o.mqtt.capath},
                                                     {"--cert", &o.mqtt.certfile},
                                                     {"--key", &o.mqtt.keyfile},
                                                     {"--tls-version", &o.mqtt.tlsVersion},
                                                     {"--id", &o.mqtt.clientId},
                                                     {"--mqtt", &o.mqttUrl},
                                                     {"--from-mqtt", &o.fromMqttUrl},
                                                     {"--token-file", &o.tokenFile},
                                                     {"--pw-file", &o.passwordFile},
                                                     {"--http-password-file", &o.httpPasswordFile}};
  auto text = texts.find(arg);
  return text == texts.end() ? nullptr : text->second;
}

// --http (the web view) or --listen (the API over TCP): why, when the value is not [ADDRESS:]PORT.
std::string TakeListen(const std::string& arg, const std::string& value, ServeOptions& o) {
  auto listen = ParseListen(value);
  if (arg == "--listen") {
    if (auto* bad = std::get_if<std::string>(&listen)) return *bad;
    o.api.tcp = std::get<Listen>(listen);
    return "";
  }
  if (std::holds_alternative<std::string>(listen))
    return "--http takes [ADDRESS:]PORT, PORT from 1 to 65535, not \"" + value + "\"";
  if (!o.web) o.web.emplace();
  o.web->address = std::get<Listen>(listen).address;
  o.web->port = std::get<Listen>(listen).port;
  return "";
}

}  // namespace

bool TakeServeOption(const std::vector<std::string>& args, std::size_t& i, ServeOptions& o, std::string& why) {
  const std::string& arg = args[i];
  why.clear();
  if (arg == "--insecure") {
    o.mqtt.insecure = true;
    return true;
  }
  if (arg == "--no-block-reads") {
    o.port.watch.blockReads = false;
    return true;
  }
  if (arg == "--http-cert" || arg == "--http-key") {
    if (i + 1 >= args.size()) {
      why = arg + " needs a FILE";
      return false;
    }
    if (!o.web) o.web.emplace();
    (arg == "--http-cert" ? o.web->certFile : o.web->keyFile) = args[++i];
    return true;
  }
  std::string* text = TextOption(o, arg);
  const auto whole = kWholeOptions.find(arg);
  const bool listen = arg == "--listen" || arg == "--http";
  if (!text && whole == kWholeOptions.end() && !listen) return false;
  if (i + 1 >= args.size()) {
    why = arg + " needs a value";
    return false;
  }
  const std::string& value = args[++i];
  if (text) {
    *text = value;
  } else if (listen) {
    why = TakeListen(arg, value, o);
  } else if (auto n = Whole(value, whole->second.low, whole->second.high)) {
    whole->second.take(o, *n);
  } else {
    why = std::string(whole->second.refusal) + (whole->second.quotesValue ? ", not \"" + value + "\"" : "");
  }
  return why.empty();
}

std::optional<std::string> CheckServeOptions(ServeOptions& o) {
  if (!o.mqttUrl.empty()) {
    auto parsed = publish::ParseMqttUrl(o.mqttUrl);
    if (!parsed) return parsed.status().message();
    o.mqtt.host = parsed->host;
    o.mqtt.port = parsed->port;
    o.mqtt.prefix = parsed->prefix;
    o.mqtt.tls = parsed->tls;
  } else if (o.fromMqttUrl.empty() && (!o.mqtt.username.empty() || !o.mqtt.cafile.empty() || !o.mqtt.certfile.empty() ||
                                       !o.passwordFile.empty())) {
    return std::string("The MQTT options need --mqtt URL");
  }
  if (!o.passwordFile.empty()) {
    if (!o.mqtt.password.empty()) return std::string("Give the MQTT password once: --pw-file or --pw");
    std::ifstream in(o.passwordFile);
    // The first line, as typed: a password may hold spaces.
    const bool read = in && std::getline(in, o.mqtt.password);
    if (!o.mqtt.password.empty() && o.mqtt.password.back() == '\r') o.mqtt.password.pop_back();
    if (!read || o.mqtt.password.empty())
      return "Cannot read a password from " + o.passwordFile + ": " + (in ? "it is empty" : std::strerror(errno));
  }
  if (!o.fromMqttUrl.empty()) {
    if (!o.web) return std::string("--from-mqtt URL is a source for the web view: give --http [ADDRESS:]PORT");
    auto parsed = publish::ParseMqttUrl(o.fromMqttUrl);
    if (!parsed) return parsed.status().message();
    o.plantMqtt = o.mqtt;
    o.plantMqtt.host = parsed->host;
    o.plantMqtt.port = parsed->port;
    o.plantMqtt.prefix = parsed->prefix;
    o.plantMqtt.tls = parsed->tls;
    o.plantMqtt.clientId.clear();  // a second client: the publisher's id would throw it off the broker
  }
  if (!o.tokenFile.empty()) {
    std::ifstream in(o.tokenFile);
    if (!in || !(in >> o.api.token) || o.api.token.empty())
      return "Cannot read a token from " + o.tokenFile + ": " + (in ? "it is empty" : std::strerror(errno));
  }
  if (o.api.tcp && !web::IsLoopback(o.api.tcp->address) && o.api.token.empty())
    return "--listen " + o.api.tcp->address + " reaches beyond this computer: give --token-file FILE";
  if (o.web && o.web->port == 0) return std::string("--http-cert and --http-key need --http [ADDRESS:]PORT");
  if (!o.httpPasswordFile.empty()) {
    if (!o.web) return std::string("--http-password-file needs --http [ADDRESS:]PORT");
    auto users = web::ReadPasswordFile(o.httpPasswordFile);
    if (!users.ok()) return users.status().message();
    o.web->users = *users;
  }
  if (o.web && !web::IsLoopback(o.web->address) && o.web->users.empty())
    return "--http " + o.web->address +
           " reaches beyond this computer: give --http-password-file FILE (lines user:password)";
  if (o.web && o.web->certFile.empty() != o.web->keyFile.empty())
    return std::string("HTTPS needs both --http-cert FILE and --http-key FILE");
  return std::nullopt;
}

int Serve(const AppFolder& folder, ServeOptions o, std::ostream& out, std::ostream& err) {
  // Lines come from every port's thread and the publisher's: one at a time.
  std::mutex lines;
  const std::string prefix = o.name.empty() ? "" : o.name + ": ";
  auto say = [&](const std::string& text) {
    std::lock_guard lock(lines);
    err << prefix << text << "\n";
    err.flush();
  };
  std::unique_ptr<web::MqttPlant> brokerPlant;
  if (!o.fromMqttUrl.empty()) {
    brokerPlant = std::make_unique<web::MqttPlant>(o.plantMqtt);
    brokerPlant->OnProblem(say);
    if (Status reading = brokerPlant->Start(); !reading.ok()) {
      say(reading.message());
      return kExitRefused;
    }
  }
  std::unique_ptr<web::WebServer> webServer;
  if (o.plantOnly) return ServePlantView(*brokerPlant, o, webServer, say);

  std::unique_ptr<publish::MqttPublisher> publisher;
  if (!o.mqttUrl.empty()) publisher = std::make_unique<publish::MqttPublisher>(o.mqtt);
  o.port.say = say;
  o.port.watching = Watching(o.printReadings, publisher.get(), lines, out, say);
  if (!o.ports.empty()) o.port.alsoUnported = true;

  auto started = Service::Start(folder, o.port, o.ports);
  if (auto* refusal = std::get_if<Service::Refusal>(&started)) {
    say(refusal->message);
    return refusal->exitCode;
  }
  auto lineService = std::move(std::get<std::unique_ptr<Service>>(started));
  if (publisher && !StartPublishing(*publisher, o, lineService->Ports().size(), say)) return kExitRefused;
  if (o.printReadings && store::ConfigStore(folder.ConfigDatabase()).ChannelMapIsEmpty().value_or(false))
    say("The channel map is empty: nothing to watch");
  o.api.socket = SocketPath(folder);
  ApiServer server(*lineService, o.workflows);
  if (!StartApi(server, o, say)) return kExitRefused;
  std::unique_ptr<ServicePlant> plant;
  if (o.web) {
    if (!brokerPlant) plant = std::make_unique<ServicePlant>(*lineService, o.reports);
    if (!StartWeb(webServer, brokerPlant ? static_cast<web::Plant&>(*brokerPlant) : *plant, o, brokerPlant != nullptr,
                  say))
      return kExitConfig;
  }
  if (!o.name.empty())
    say("serving " + std::to_string(lineService->Ports().size()) + " port(s) of " + folder.Root().string() + " on " +
        o.api.socket.string());

  if (!CatchStopSignals()) return kExitRefused;
  int exitCode = ServeUntilEnd(*lineService, o);
  ReleaseStopSignals();
  if (webServer) webServer->Stop();
  webServer.reset();
  plant.reset();
  server.Stop();
  lineService.reset();  // every port closed after the exchange in progress
  // A counted run is a check that the readings got out: nothing delivered is a failure.
  if (publisher && o.count > 0 && !publisher->Flush(std::chrono::seconds(5)) && publisher->Delivered() == 0) {
    say("MQTT: nothing was delivered to " + o.mqtt.host + ":" + std::to_string(o.mqtt.port));
    if (exitCode == 0) exitCode = kExitRefused;
  }
  publisher.reset();  // "offline", once the queue is out (a few seconds at most)
  return exitCode;
}

}  // namespace tarvel::service
