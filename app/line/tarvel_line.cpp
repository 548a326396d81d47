// tarvel-line: the line service of a home -- every port of its channel map swept and served to
// tarvel-cli, the console and other clients over a local API. Runs until SIGINT or SIGTERM;
// under systemd (Type=notify) it says READY=1 once every port is open or being retried, a STATUS=
// line per port, and WATCHDOG=1 while its loop runs.
#include <poll.h>
#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>

#include "service/api.h"
#include "service/service.h"
#include "store/home.h"

namespace {

using namespace tarvel;

constexpr const char* kUsage = "usage: tarvel-line [--home DIR] [--listen [ADDRESS:]PORT] [--token-file FILE]\n";
int stopPipe[2] = {-1, -1};

void OnStop(int) {
  const char byte = 1;
  (void)!write(stopPipe[1], &byte, 1);
}

int Refuse(const std::string& why, int code = service::kExitConfig) {
  std::cerr << "tarvel-line: " << why << "\n";
  return code;
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

int Run(int argc, char** argv) {
  std::filesystem::path home = AppFolder::DefaultRoot();
  service::ApiOptions api;
  std::string tokenFile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc && *argv[i + 1] != '\0';
    if (arg == "--version") {
      std::cout << "tarvel-line " TARVEL_VERSION "\n";
      return 0;
    } else if (arg == "--home" && hasValue) {
      home = argv[++i];
    } else if (arg == "--listen" && hasValue) {
      auto listen = service::ParseListen(argv[++i]);
      if (auto* why = std::get_if<std::string>(&listen)) return Refuse(*why + "\n" + kUsage);
      api.tcp = std::get<service::Listen>(listen);
    } else if (arg == "--token-file" && hasValue) {
      tokenFile = argv[++i];
    } else {
      return Refuse("unknown or incomplete option " + arg + "\n" + kUsage);
    }
  }
  if (!tokenFile.empty()) {
    std::ifstream in(tokenFile);
    if (!in || !(in >> api.token) || api.token.empty())
      return Refuse("Cannot read a token from " + tokenFile + ": " + (in ? "it is empty" : std::strerror(errno)));
  }
  if (api.tcp && !service::IsLoopback(api.tcp->address) && api.token.empty())
    return Refuse("--listen " + api.tcp->address + " reaches beyond this computer: give --token-file FILE");

  AppFolder folder(home);
  store::HomeReport report = store::PrepareHome(folder);
  for (const auto& problem : report.problems) std::cerr << problem << "\n";
  if (!report.fatal.ok()) return service::kExitRefused;

  auto started = service::Service::Start(folder, {});
  if (auto* refusal = std::get_if<service::Service::Refusal>(&started)) return Refuse(refusal->message, refusal->exitCode);
  auto& lineService = *std::get<std::unique_ptr<service::Service>>(started);
  api.socket = service::SocketPath(folder);
  service::ApiServer server(lineService);
  if (Status listening = server.Start(api); !listening.ok()) return Refuse(listening.message(), service::kExitRefused);
  std::cerr << "tarvel-line: serving " << lineService.Ports().size() << " port(s) of " << folder.Root().string()
            << " on " << api.socket.string() << "\n";

  if (pipe(stopPipe) != 0) return service::kExitRefused;
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  std::uint64_t watchdogUsec = 0;
  const bool watchdog = sd_watchdog_enabled(0, &watchdogUsec) > 0;
  const int tickMs = watchdog ? static_cast<int>(std::max<std::uint64_t>(watchdogUsec / 2000, 100)) : 1000;
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
    if (watchdog) sd_notify(0, "WATCHDOG=1");
    pollfd fd{stopPipe[0], POLLIN, 0};
    if (poll(&fd, 1, ready ? tickMs : 50) > 0) break;
  }
  sd_notify(0, "STOPPING=1");
  server.Stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return Run(argc, argv); }
