// tarvel-cli --port DEVICE watch: the line service of the home in the foreground, on that one
// port -- the same sweep, recorder and alarms as the console's line overview, one line per
// reading, the readings and alarms published to an MQTT broker when --mqtt is given, and other
// tarvel-cli commands and the console served meanwhile. Runs until Ctrl-C (or SIGTERM) or N
// sweeps; a port that goes away is opened again, and one that stays away ends the watch with a
// failure (tarvel-line keeps trying instead: it has other ports to serve).
#include "cli/cli.h"
#include "cli/load_args.h"
#include "cli/service_line.h"
#include "service/serve.h"

namespace tarvel::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarvel-cli [--home DIR] [--port DEVICE] watch [--every SECONDS] [--count N] [--alarm-after N]\n"
    "         [--clear-after N] [--no-reply-after SECONDS]\n"
    "         [--no-block-reads] [--reopen-for SECONDS] [--listen [ADDRESS:]PORT] [--token-file FILE]\n"
    "         [--http [ADDRESS:]PORT [--http-password-file FILE] [--http-cert FILE --http-key FILE]\n"
    "          [--from-mqtt mqtt[s]://HOST[:PORT]/ROOT]]\n"
    "         [--mqtt mqtt[s]://HOST[:PORT]/PREFIX [--username USER] [--pw-file FILE] [--cafile FILE]\n"
    "          [--capath DIR] [--cert FILE] [--key FILE] [--tls-version VERSION] [--insecure] [--id CLIENT]]\n";

int Usage(Context& ctx, const std::string& why = "") {
  if (!why.empty()) ctx.err << why << "\n";
  ctx.err << kUsage;
  return kExitUsage;
}

}  // namespace

int WatchVerb(Context& ctx, const Args& args) {
  service::ServeOptions options;
  options.port.watch.period = std::chrono::seconds(15);
  options.port.watch.blockReads = ctx.blockReads;
  // By hand, a port that stays away ends the watch (and a unit manager starts it anew).
  options.port.giveUpAfter = watch::PortKeeper::kDefaultGiveUp;
  options.printReadings = true;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string why;
    if (!service::TakeServeOption(args, i, options, why))
      return Usage(ctx, why.empty() ? "Unknown option " + args[i] : why);
  }
  // Without a line of its own, a watch given the plant's broker serves the plant view alone.
  options.plantOnly = ctx.port.empty() && !options.fromMqttUrl.empty();
  if (ctx.port.empty() && !options.plantOnly) return Usage(ctx, "watch needs the line: --port DEVICE");
  if (auto why = service::CheckServeOptions(options)) return Usage(ctx, *why);
  if (!options.plantOnly) options.ports = {ctx.port};
  options.workflows = VerbRunner(ctx.folder, ctx.blockReads);
  if (options.web) {
    options.web->fallbackUser = LoginName();
    options.reports = LoadReports(ctx.folder);
  }
  return service::Serve(ctx.folder, std::move(options), ctx.out, ctx.err);
}

}  // namespace tarvel::cli
