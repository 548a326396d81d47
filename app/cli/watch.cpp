// tarvel-cli --port DEVICE watch: the line watch without a display -- the same sweep, recorder
// and alarms as the console's line overview, one line per reading, the readings and alarms
// published to an MQTT broker when --mqtt is given. Runs until Ctrl-C (or SIGTERM) or N sweeps;
// a port that goes away is opened again, and one that stays away ends the watch with a failure.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <map>
#include <memory>
#include <optional>

#include "cli/args.h"
#include "cli/cli.h"
#include "link/modbus_rtu_line.h"
#include "publish/mqtt_publisher.h"
#include "store/config_store.h"
#include "util/text.h"
#include "watch/line_watch.h"
#include "watch/port_keeper.h"

namespace tarvel::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarvel-cli [--home DIR] --port DEVICE watch [--every SECONDS] [--count N] [--alarm-after N]\n"
    "         [--no-block-reads] [--reopen-for SECONDS]\n"
    "         [--mqtt mqtt[s]://HOST[:PORT]/PREFIX [--username USER] [--pw PASSWORD] [--cafile FILE]\n"
    "          [--capath DIR] [--cert FILE] [--key FILE] [--tls-version VERSION] [--insecure] [--id CLIENT]]\n";

int stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const char byte = 1;
  (void)!write(stopPipe[1], &byte, 1);
}

bool StopRequested(int waitMs) {
  pollfd fd{stopPipe[0], POLLIN, 0};
  return poll(&fd, 1, waitMs) > 0;
}

int Usage(Context& ctx, const std::string& why = "") {
  if (!why.empty()) ctx.err << why << "\n";
  ctx.err << kUsage;
  return kExitUsage;
}

}  // namespace

int WatchVerb(Context& ctx, const Args& args) {
  int every = 15;
  long long count = 0;
  int consecutive = watch::kDefaultConsecutive;
  std::chrono::seconds reopenFor = watch::PortKeeper::kDefaultGiveUp;
  std::string url;
  publish::MqttOptions mqtt;
  const std::map<std::string, std::string*> texts = {
      {"--username", &mqtt.username}, {"--pw", &mqtt.password},  {"--cafile", &mqtt.cafile},
      {"--capath", &mqtt.capath},     {"--cert", &mqtt.certfile}, {"--key", &mqtt.keyfile},
      {"--tls-version", &mqtt.tlsVersion}, {"--id", &mqtt.clientId}, {"--mqtt", &url}};
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--insecure") {
      mqtt.insecure = true;
    } else if (arg == "--no-block-reads") {
      ctx.blockReads = false;
    } else if (arg == "--every" && hasValue) {
      // Whole seconds, as every number of tarvel-cli; a sweep at most each second.
      auto seconds = ParseWholeArg(args[++i], kSweepEveryArg.low, kSweepEveryArg.high);
      if (!seconds)
        return Usage(ctx, std::string(kSweepEveryArg.name) + " must be a whole number from " +
                              std::to_string(kSweepEveryArg.low) + " to " + std::to_string(kSweepEveryArg.high) +
                              ", not \"" + args[i] + "\"");
      every = static_cast<int>(*seconds);
    } else if (arg == "--count" && hasValue) {
      auto n = ToWholeNumber(args[++i], 1, 1'000'000'000);
      if (!n) return Usage(ctx, "--count takes a whole number of sweeps from 1");
      count = *n;
    } else if (arg == "--reopen-for" && hasValue) {
      auto s = ToWholeNumber(args[++i], 0, 7 * 86400);
      if (!s) return Usage(ctx, "--reopen-for takes whole seconds from 0 to 604800");
      reopenFor = std::chrono::seconds(*s);
    } else if (arg == "--alarm-after" && hasValue) {
      auto n = ToWholeNumber(args[++i], 1, 1000);
      if (!n) return Usage(ctx, "--alarm-after takes a whole number of readings from 1 to 1000");
      consecutive = static_cast<int>(*n);
    } else if (texts.contains(arg) && hasValue) {
      *texts.at(arg) = args[++i];
    } else {
      return Usage(ctx, "Unknown option " + arg);
    }
  }
  if (ctx.port.empty()) return Usage(ctx, "watch needs the line: --port DEVICE");
  std::unique_ptr<publish::MqttPublisher> publisher;
  if (!url.empty()) {
    auto parsed = publish::ParseMqttUrl(url);
    if (!parsed) return Usage(ctx, parsed.status().message());
    mqtt.host = parsed->host;
    mqtt.port = parsed->port;
    mqtt.prefix = parsed->prefix;
    mqtt.tls = parsed->tls;
    publisher = std::make_unique<publish::MqttPublisher>(mqtt);
  } else if (!mqtt.username.empty() || !mqtt.cafile.empty() || !mqtt.certfile.empty()) {
    return Usage(ctx, "The MQTT options need --mqtt URL");
  }

  store::ConfigStore store(ctx.folder.ConfigDatabase());
  link::ModbusRtuLine line;
  if (auto opened = line.Open(ctx.port); !opened.ok()) {
    ctx.err << ctx.port << ": " << opened.message << "\n";
    return kExitFailed;
  }
  if (publisher) {
    publisher->OnProblem([&ctx](const std::string& text) { ctx.err << text << "\n"; });
    if (Status started = publisher->Start(); !started.ok()) {
      ctx.err << started.message() << "\n";
      return kExitFailed;
    }
  }

  watch::LineWatch lineWatch(ctx.folder, store, line);
  lineWatch.Apply({std::chrono::seconds(every), consecutive, ctx.blockReads});
  lineWatch.OnStatus([&](const watch::ChannelStatus& status) {
    ctx.out << watch::StatusLine(status) << "\n";
    ctx.out.flush();
    if (publisher) publisher->PublishState(status);
  });
  lineWatch.OnAlarm([&](const watch::AlarmEvent& event) {
    ctx.out << watch::IsoTime(event.at) << "  ch " << event.id.channel << " " << event.id.nickName << "  ALARM "
            << (event.raised ? "raised: " : "cleared: ") << event.text << "\n";
    if (publisher) publisher->PublishAlarm(event);
  });
  lineWatch.OnSweep([&](const watch::SweepSummary& sweep) {
    for (const watch::ZoneSpread& zone : sweep.zones)
      if (auto spread = zone.Spread()) ctx.out << "zone " << zone.zone << " spread " << *spread << "\n";
    if (sweep.saturated)
      ctx.err << "line saturated: sweep " << sweep.number << " took "
              << std::chrono::duration<double>(sweep.took).count() << " s, longer than the period\n";
  });
  lineWatch.OnMessage([&ctx](const std::string& text) { ctx.err << text << "\n"; });
  if (store.ChannelMapIsEmpty().value_or(false)) ctx.err << "The channel map is empty: nothing to watch\n";

  if (pipe(stopPipe) != 0) return kExitFailed;
  struct sigaction action{};
  action.sa_handler = OnStopSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  int exitCode = kExitOk;
  watch::PortKeeper keeper(line, ctx.port, reopenFor, [&ctx](const std::string& text) { ctx.err << text << "\n"; });
  while (count == 0 || lineWatch.SweepsFinished() < count) {
    const auto away = keeper.Tend();
    if (keeper.GaveUp()) {
      exitCode = kExitFailed;
      break;
    }
    // The reading the lost port broke off starts again whole.
    if (keeper.Reopened()) lineWatch.CommandCameBetween();
    if (away.count() > 0) {
      if (StopRequested(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(away).count()))) break;
      continue;
    }
    const watch::SweepStep step = lineWatch.Step();
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(step.wait).count();
    if (StopRequested(step.again ? 0 : static_cast<int>(std::min<long long>(wait, 60000)))) break;
  }
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  close(stopPipe[0]);
  close(stopPipe[1]);
  publisher.reset();  // "offline", once the queue is out (a few seconds at most)
  line.Close();
  return exitCode;
}

}  // namespace tarvel::cli
