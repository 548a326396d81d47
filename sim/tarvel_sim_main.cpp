// tarvel-sim: a line of simulated controllers on a pseudo-terminal, for demos and for
// any Modbus master. Prints the device path on one line and serves until SIGINT/SIGTERM.
#include <algorithm>
#include <csignal>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include <filesystem>

#include "sim/simulated_line.h"
#include "util/published_line.h"
#include "util/text.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: tarvel-sim --units 1,2,5 [--speed N] [--turnaround MS] [--unpaced] [--echo] [--auto-start]\n"
    "                  [--write-model first|both] [--max-read N] [--fault KIND:RATE[,KIND:RATE...]]\n"
    "                  [--late-delay MS] [--duplicate-delay MS] [--seed N]\n";

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
               "  --unpaced          bytes as fast as the pseudo-terminal carries them, not at 9600 baud,\n"
               "                     as a virtual null-modem pair or a buffering USB adapter delivers them\n"
               "  --echo             every byte the master sends comes back to it before the reply, as on a\n"
               "                     two-wire adapter without echo suppression\n"
               "  --auto-start       start a program as soon as a ramp/soak run mode is written\n"
               "  --write-model M    both: a write stores both of its registers (default);\n"
               "                     first: only the first, the second is ignored\n"
               "  --max-read N       the most registers one read may ask for, 2..125 (default 2: only\n"
               "                     reads of two registers); a larger read gets exception 03\n"
               "  --fault LIST       spoil replies at random, KIND:RATE with RATE 0..1, comma separated;\n"
               "                     kinds: no-reply, bad-crc, late, wrong-address, exception, stray-byte,\n"
               "                     duplicate (the reply again 20 ms later), stale (an earlier reply 20 ms later);\n"
               "                     duplicate:1 makes a line that repeats every reply\n"
               "  --late-delay MS    how long after the request a late reply comes (default 300)\n"
               "  --duplicate-delay MS  how long after a reply its duplicate or stale frame follows (default 20);\n"
               "                     it lands when its time comes, also after the next request went out\n"
               "  --seed N           of the random faults, so a run can be repeated (default 1)\n"
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

// A link to the pseudo-terminal under $XDG_RUNTIME_DIR/tarvel/, so a port scan lists this
// line like an adapter; removed again when the simulator stops.
class Publication {
 public:
  explicit Publication(const std::string& device) {
    const std::filesystem::path folder = tarvel::PublishedLineFolder();
    if (folder.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::filesystem::path link = folder / tarvel::PublishedLineName(getpid());
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(device, link, ec);
    if (ec) {
      std::cerr << "tarvel-sim: could not publish " << link.string() << ": " << ec.message() << "\n";
      return;
    }
    link_ = link;
  }
  ~Publication() {
    std::error_code ec;
    if (!link_.empty()) std::filesystem::remove(link_, ec);
  }
  Publication(const Publication&) = delete;
  Publication& operator=(const Publication&) = delete;
  const std::filesystem::path& Link() const { return link_; }

 private:
  std::filesystem::path link_;
};

struct FaultName {
  std::string_view name;
  tarvel::sim::Fault fault;
};
constexpr FaultName kFaultNames[] = {
    {"no-reply", tarvel::sim::Fault::NoReply},    {"bad-crc", tarvel::sim::Fault::BadCrc},
    {"late", tarvel::sim::Fault::LateReply},      {"wrong-address", tarvel::sim::Fault::WrongAddress},
    {"exception", tarvel::sim::Fault::Exception}, {"stray-byte", tarvel::sim::Fault::StrayByte},
    {"duplicate", tarvel::sim::Fault::Duplicate}, {"stale", tarvel::sim::Fault::Stale},
};

// "no-reply:0.05,late:0.01": each kind once, rates 0..1 that add up to at most 1.
std::optional<std::vector<tarvel::sim::FaultRate>> ParseFaults(std::string_view text) {
  std::vector<tarvel::sim::FaultRate> rates;
  double total = 0;
  std::size_t begin = 0;
  while (begin <= text.size()) {
    const std::size_t comma = std::min(text.find(',', begin), text.size());
    const std::string_view item = text.substr(begin, comma - begin);
    const std::size_t colon = item.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto* kind = std::find_if(std::begin(kFaultNames), std::end(kFaultNames),
                                    [&](const FaultName& f) { return f.name == item.substr(0, colon); });
    const auto rate = tarvel::ParseNumber(item.substr(colon + 1));
    if (kind == std::end(kFaultNames) || !rate || *rate < 0 || *rate > 1) return std::nullopt;
    for (const auto& known : rates)
      if (known.fault == kind->fault) return std::nullopt;
    rates.push_back({kind->fault, *rate});
    total += *rate;
    begin = comma + 1;
  }
  if (total > 1 + 1e-9) return std::nullopt;
  return rates;
}

std::string Describe(const tarvel::sim::Options& options) {
  std::ostringstream text;
  text << (options.baud == 0 ? "unpaced" : "paced at 9600 baud") << (options.echo ? ", echoing" : "")
       << ", write model " << (options.writeModel == tarvel::sim::WriteModel::Both ? "both" : "first")
       << ", reads of up to " << options.maxRead << " registers";
  for (const auto& rate : options.faultRates) {
    const auto* kind = std::find_if(std::begin(kFaultNames), std::end(kFaultNames),
                                    [&](const FaultName& f) { return f.fault == rate.fault; });
    text << ", " << kind->name << " " << rate.rate;
    if (rate.fault == tarvel::sim::Fault::Duplicate || rate.fault == tarvel::sim::Fault::Stale)
      text << " after " << options.secondFrameDelay.count() << " ms";
  }
  return text.str();
}

// The command line into options: false at the first option that is unknown, lacks its value or
// has a bad one.
bool TakeOptions(const std::vector<std::string_view>& args, tarvel::sim::Options& options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--auto-start") {
      options.autoStart = true;
    } else if (arg == "--unpaced") {
      options.baud = 0;
    } else if (arg == "--echo") {
      options.echo = true;
    } else if (arg == "--units" && hasValue) {
      auto units = ParseUnits(args[++i]);
      if (!units) return false;
      options.addresses = *units;
    } else if (arg == "--speed" && hasValue) {
      const auto speed = tarvel::ParseNumber(args[++i]);
      if (!speed || !(*speed > 0) || *speed > 1e6) return false;
      options.speed = *speed;
    } else if (arg == "--turnaround" && hasValue) {
      const auto ms = tarvel::ParseNumber(args[++i]);
      if (!ms || *ms < 0 || *ms > 10000) return false;
      options.turnaround = std::chrono::microseconds(static_cast<long long>(*ms * 1000));
    } else if (arg == "--write-model" && hasValue) {
      const std::string_view model = args[++i];
      if (model != "first" && model != "both") return false;
      options.writeModel = model == "both" ? tarvel::sim::WriteModel::Both : tarvel::sim::WriteModel::First;
    } else if (arg == "--max-read" && hasValue) {
      const auto most = tarvel::ToWholeNumber(args[++i], 2, 125);
      if (!most) return false;
      options.maxRead = static_cast<int>(*most);
    } else if (arg == "--fault" && hasValue) {
      auto rates = ParseFaults(args[++i]);
      if (!rates) return false;
      options.faultRates = *rates;
    } else if (arg == "--late-delay" && hasValue) {
      const auto ms = tarvel::ToWholeNumber(args[++i], 1, 10000);
      if (!ms) return false;
      options.lateReplyDelay = std::chrono::milliseconds(*ms);
    } else if (arg == "--duplicate-delay" && hasValue) {
      const auto ms = tarvel::ToWholeNumber(args[++i], 0, 10000);
      if (!ms) return false;
      options.secondFrameDelay = std::chrono::milliseconds(*ms);
    } else if (arg == "--seed" && hasValue) {
      const auto seed = tarvel::ToWholeNumber(args[++i], 0, 1'000'000'000);
      if (!seed) return false;
      options.seed = static_cast<unsigned>(*seed);
    } else {
      return false;
    }
  }
  return true;
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
  if (!TakeOptions(args, options) || options.addresses.empty()) return Usage();

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
  Publication publication(path.value());  // before the path is printed: a reader finds it published
  std::cout << path.value() << std::endl;

  std::ostringstream units;
  for (std::uint8_t address : options.addresses) units << (units.tellp() > 0 ? "," : "") << int{address};
  std::cerr << "tarvel-sim: units " << units.str() << ", speed " << options.speed << "x, turnaround "
            << options.turnaround.count() / 1000.0 << " ms" << (options.autoStart ? ", auto-start" : "") << ", "
            << Describe(options) << "; Ctrl-C stops\n";
  if (!publication.Link().empty()) std::cerr << "tarvel-sim: published as " << publication.Link().string() << "\n";

  int received = 0;
  sigwait(&stopSignals, &received);
  line.Stop();
  return kExitOk;
}
