// tarvel-line: the line service of a home -- every port of its channel map swept (recorded,
// alarms, zones, MQTT as tarvel-cli watch does) and served to tarvel-cli, the console and other
// clients over a local API. Runs until SIGINT or SIGTERM.
#include <iostream>

#include "cli/load_args.h"
#include "cli/service_line.h"
#include "service/serve.h"
#include "service/service.h"
#include "store/config_store.h"
#include "store/home.h"

namespace {

using namespace tarvel;

constexpr const char* kUsage =
    "usage: tarvel-line [--home DIR] [--listen [ADDRESS:]PORT] [--token-file FILE] [--every SECONDS] [--count N]\n"
    "         [--http [ADDRESS:]PORT [--http-password-file FILE] [--http-cert FILE --http-key FILE]\n"
    "          [--from-mqtt mqtt[s]://HOST[:PORT]/ROOT]]\n"
    "         [--alarm-after N] [--clear-after N] [--no-reply-after SECONDS] [--no-block-reads] [--reopen-for "
    "SECONDS]\n"
    "         [--mqtt mqtt[s]://HOST[:PORT]/PREFIX [--username USER] [--pw-file FILE] [--cafile FILE]\n"
    "          [--capath DIR] [--cert FILE] [--key FILE] [--tls-version VERSION] [--insecure] [--id CLIENT]]\n";

int Refuse(const std::string& why, int code = service::kExitConfig) {
  std::cerr << "tarvel-line: " << why << "\n";
  return code;
}

int Run(int argc, char** argv) {
  std::filesystem::path home = AppFolder::DefaultRoot();
  service::ServeOptions options;
  options.name = "tarvel-line";
  const std::vector<std::string> args(argv, argv + argc);
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string why;
    if (args[i] == "--version") {
      std::cout << "tarvel-line " TARVEL_VERSION "\n";
      return 0;
    } else if (args[i] == "--home" && i + 1 < args.size() && !args[i + 1].empty()) {
      home = args[++i];
    } else if (!service::TakeServeOption(args, i, options, why)) {
      return Refuse((why.empty() ? "unknown or incomplete option " + args[i] : why) + "\n" + kUsage);
    }
  }
  if (auto why = service::CheckServeOptions(options)) return Refuse(*why);

  AppFolder folder(home);
  store::HomeReport report = store::PrepareHome(folder);
  for (const auto& problem : report.problems) std::cerr << problem << "\n";
  if (!report.fatal.ok()) return service::kExitRefused;
  // A PC with no line of its own, given the plant's broker, serves the plant view alone.
  options.plantOnly =
      !options.fromMqttUrl.empty() && store::ConfigStore(folder.ConfigDatabase()).ChannelMapIsEmpty().value_or(false);
  options.workflows = cli::VerbRunner(folder, options.port.watch.blockReads);
  if (options.web) {
    options.web->fallbackUser = cli::LoginName();
    options.reports = cli::LoadReports(folder);
  }
  return service::Serve(folder, std::move(options), std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv) { return Run(argc, argv); }
