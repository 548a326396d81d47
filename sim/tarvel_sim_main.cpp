// tarvel-sim: a line of simulated controllers on a pseudo-terminal, for demos and for
// any Modbus master. Prints the device path on one line and serves until SIGINT/SIGTERM.
#include <csignal>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/simulated_line.h"
#include "util/text.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage = "usage: tarvel-sim --units 1,2,5 [--speed N] [--turnaround MS] [--auto-start]\n";

int Usage() {
  std::cerr << kUsage;
  return kExitUsage;
}

int Help() {
  std::cout << kUsage
            << "Serves simulated temperature controllers (Modbus RTU, 9600 8N1) on a pseudo-terminal;\n"
               "prints its device path on one line and serves until Ctrl-C or SIGTERM.\n"
               "  --units LIST       controller addresses, 1..247, comma separated\n"
               "  --speed N          simulated time runs N times faster (default 1)\n"
               "  --turnaround MS    delay before a controller answers (default 10)\n"
               "  --auto-start       start a program as soon as a ramp/soak run mode is written\n"
               "  --help, --version  this text, or the version\n";
  return kExitOk;
}

// "1,2,5": addresses 1..247, each once.
std::optional<std::vector<std::uint8_t>> ParseUnits(std::string_view text) {
  std::vector<std::uint8_t> addresses;
  std::size_t begin = 0;
  while (begin <= text.size()) {
    const std::size_t comma = std::min(text.find(',', begin), text.size());
    const std::string_view item = text.substr(begin, comma - begin);
    const auto address = tarvel::ToWholeNumber(item, 1, 247);
    if (!address || item.find('.') != std::string_view::npos || item.find_first_of("eE") != std::string_view::npos)
      return std::nullopt;
    for (std::uint8_t known : addresses)
      if (known == *address) return std::nullopt;
    addresses.push_back(static_cast<std::uint8_t>(*address));
    begin = comma + 1;
  }
  return addresses;
}

}  // namespace

int main(int argc, char** argv) {
  tarvel::sim::Options options;
  options.addresses.clear();
  std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--help") return Help();
  if (args.size() == 1 && args[0] == "--version") {
    std::cout << "tarvel-sim " TARVEL_VERSION "\n";
    return kExitOk;
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--auto-start") {
      options.autoStart = true;
    } else if (arg == "--units" && hasValue) {
      auto units = ParseUnits(args[++i]);
      if (!units) return Usage();
      options.addresses = *units;
    } else if (arg == "--speed" && hasValue) {
      const auto speed = tarvel::ParseNumber(args[++i]);
      if (!speed || !(*speed > 0) || *speed > 1e6) return Usage();
      options.speed = *speed;
    } else if (arg == "--turnaround" && hasValue) {
      const auto ms = tarvel::ParseNumber(args[++i]);
      if (!ms || *ms < 0 || *ms > 10000) return Usage();
      options.turnaround = std::chrono::microseconds(static_cast<long long>(*ms * 1000));
    } else {
      return Usage();
    }
  }
  if (options.addresses.empty()) return Usage();

  // Block the stop signals before the serving thread starts, so only sigwait sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  tarvel::sim::SimulatedLine line(options);
  auto path = line.Start();
  if (!path) {
    std::cerr << "tarvel-sim: " << path.status().message() << "\n";
    return kExitFailed;
  }
  std::cout << path.value() << std::endl;

  std::ostringstream units;
  for (std::uint8_t address : options.addresses) units << (units.tellp() > 0 ? "," : "") << int{address};
  std::cerr << "tarvel-sim: units " << units.str() << " at 9600 baud, speed " << options.speed << "x, turnaround "
            << options.turnaround.count() / 1000.0 << " ms" << (options.autoStart ? ", auto-start" : "")
            << "; Ctrl-C stops\n";

  int received = 0;
  sigwait(&stopSignals, &received);
  line.Stop();
  return kExitOk;
}
