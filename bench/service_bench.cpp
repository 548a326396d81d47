// The line service against two paced simulated lines of 32 running controllers each, swept at
// once by one service: each port's sweep against the wire floor of the exchanges it made (target
// 1.10), both ports' sweeps together against the slower one's floor plus 10%, and a command
// through the service against the same command on the port itself, in exchanges (target: at
// most one more -- the sweep's exchange in progress when the command came) and in time.
#include <cstdio>
#include <filesystem>
#include <map>

#include "bench_console.h"
#include "bench_line.h"
#include "link/commands.h"
#include "link/transfers.h"
#include "service/api.h"
#include "service/remote_line.h"
#include "service/service.h"

namespace {

using namespace tarvel;
using Clock = std::chrono::steady_clock;
using bench::ExchangeFloor;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The floor of the exchanges a line heard, from its request frames: functions 3, 5 and 16.
double FloorOf(const std::vector<std::vector<std::uint8_t>>& requests) {
  double floor = 0;
  for (const auto& r : requests) {
    if (r.size() < 6) continue;
    const int count = (r[4] << 8) | r[5];
    floor += ExchangeFloor(static_cast<int>(r.size()), r[1] == 3 ? 5 + 2 * count : 8);
  }
  return floor;
}

// A download of three steps of unit 1: the exchanges the line heard and the time it took.
std::pair<std::size_t, double> Command(sim::SimulatedLine& sim, link::Line& line) {
  link::CommandSet commands(line);
  sim.ClearRequests();
  const auto start = Clock::now();
  const link::RangeRead read = link::ReadStepRange(commands, 1, 1, 3);
  const double took = Seconds(Clock::now() - start);
  if (!read.ok())
    std::fprintf(stderr, "the download failed: %s\n", std::string(link::Describe(read.fault.outcome)).c_str());
  return {sim.Requests().size(), took};
}

using Sims = std::map<std::string, sim::SimulatedLine*>;  // by device path

// Units 1 to 32 on the first line, 33 to 64 on the second, each running three steps.
void AddChannels(const AppFolder& folder, sim::SimulatedLine& simA, sim::SimulatedLine& simB) {
  store::ConfigStore store(folder.ConfigDatabase());
  (void)store.ClearChannelMap();
  for (int unit = 1; unit <= 64; ++unit) {
    (void)store.AddChannel(
        {unit, unit, "Unit " + std::to_string(unit), "set64rs", unit <= 32 ? simA.DevicePath() : simB.DevicePath()});
    (void)store.ResetControllerMemory(unit);
    bench::RunThreeSteps(unit <= 32 ? simA : simB, unit);
  }
}

// Sweep times as each port's worker reports them. The requests a line heard are taken when its
// last counted sweep is reported: at most the first exchange of the next sweep comes in as well,
// which makes the floor a little larger.
class SweepWatch {
 public:
  SweepWatch(service::Service& service, Sims& sims) : service_(service), sims_(sims), after_(service.Events().Last()) {}

  // Until every port has reported `count` sweeps since the last Forget; false after 10 minutes.
  bool Await(std::size_t count) {
    const auto deadline = Clock::now() + std::chrono::minutes(10);
    while (Clock::now() < deadline && floors.size() < sims_.size()) {
      std::vector<std::string> events;
      after_ = service_.Events().Since(after_, events, std::chrono::seconds(1));
      for (const std::string& e : events) {
        if (!e.starts_with("event: sweep\n")) continue;
        auto data = nlohmann::json::parse(e.substr(e.find("data: ") + 6));
        const std::string port = data["port"].get<std::string>();
        auto& times = took[port];
        if (times.size() >= count) continue;
        times.push_back(data["took"].get<double>());
        if (times.size() == count) floors[port] = FloorOf(sims_[port]->Requests());
      }
    }
    return floors.size() == sims_.size();
  }
  void Forget() {
    took.clear();
    floors.clear();
  }

  std::map<std::string, std::vector<double>> took;
  std::map<std::string, double> floors;

 private:
  service::Service& service_;
  Sims& sims_;
  long long after_;
};

// Each port's sweeps against the floor of its exchanges, and both at once against the slower
// port's floor: true when all are within 1.10.
bool PrintSweeps(const Sims& sims, SweepWatch& watch, int sweeps, double together) {
  std::printf("9600 baud, 10 ms turnaround, 2 ports x 32 running controllers, %d sweeps each\n", sweeps);
  double slowerFloor = 0;
  bool within = true;
  for (const auto& [device, sim] : sims) {
    double measured = 0;
    for (double t : watch.took[device]) measured += t;
    const double floor = watch.floors[device];
    const double ratio = measured / floor;
    slowerFloor = std::max(slowerFloor, floor);
    within = within && ratio <= 1.10;
    std::printf("port %-12s %d sweeps %7.3f s  floor of its exchanges %7.3f s  ratio %.3f%s\n", device.c_str(), sweeps,
                measured, floor, ratio, ratio <= 1.10 ? "" : "  OVER 1.10");
  }
  const double togetherRatio = together / slowerFloor;
  within = within && togetherRatio <= 1.10;
  std::printf("both ports at once      %7.3f s  against the slower port's floor %7.3f s  ratio %.3f%s\n", together,
              slowerFloor, togetherRatio, togetherRatio <= 1.10 ? "" : "  OVER 1.10");
  return within;
}

}  // namespace

int main(int argc, char** argv) {
  const int sweeps = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 3;
  std::vector<std::uint8_t> a, b;
  for (int unit = 1; unit <= 32; ++unit) a.push_back(static_cast<std::uint8_t>(unit));
  for (int unit = 33; unit <= 64; ++unit) b.push_back(static_cast<std::uint8_t>(unit));
  sim::SimulatedLine simA(bench::PacedLine(a)), simB(bench::PacedLine(b));
  Sims sims;
  for (auto* sim : {&simA, &simB}) {
    auto device = sim->Start();
    if (!device) return std::fprintf(stderr, "simulator: %s\n", device.status().message().c_str()), 1;
    sims[*device] = sim;
  }
  AppFolder folder = bench::BenchHome("tarvel-service-bench");
  AddChannels(folder, simA, simB);

  // The command on the port itself, before the service owns it.
  std::pair<std::size_t, double> direct;
  {
    link::ModbusRtuLine line;
    if (!line.Open(simA.DevicePath()).ok())
      return std::fprintf(stderr, "cannot open %s\n", simA.DevicePath().c_str()), 1;
    direct = Command(simA, line);
  }

  service::PortOptions options;
  options.watch.period = std::chrono::milliseconds(0);  // sweep after sweep: the line as busy as it gets
  auto started = service::Service::Start(folder, options);
  if (auto* refusal = std::get_if<service::Service::Refusal>(&started))
    return std::fprintf(stderr, "%s\n", refusal->message.c_str()), 1;
  auto& lineService = *std::get<std::unique_ptr<service::Service>>(started);
  service::ApiServer api(lineService);
  if (Status listening = api.Start({service::SocketPath(folder), std::nullopt, ""}); !listening.ok())
    return std::fprintf(stderr, "%s\n", listening.message().c_str()), 1;

  // The first sweep of each port (probes, log files) left out.
  SweepWatch watch(lineService, sims);
  if (!watch.Await(1)) return std::fprintf(stderr, "no first sweep\n"), 1;
  watch.Forget();
  simA.ClearRequests();
  simB.ClearRequests();
  const auto start = Clock::now();
  if (!watch.Await(static_cast<std::size_t>(sweeps))) return std::fprintf(stderr, "the sweeps did not end\n"), 1;
  const double together = Seconds(Clock::now() - start);
  const bool within = PrintSweeps(sims, watch, sweeps, together);

  std::pair<std::size_t, double> through;
  {
    service::RemoteLine remote(service::SocketPath(folder).string(), simA.DevicePath());
    if (auto refused = remote.Open()) return std::fprintf(stderr, "%s\n", refused->c_str()), 1;
    through = Command(simA, remote);
  }
  const bool oneMore = through.first <= direct.first + 1;
  std::printf("download of 3 steps: direct %zu exchanges %.3f s; through the service %zu exchanges %.3f s%s\n",
              direct.first, direct.second, through.first, through.second, oneMore ? "" : "  MORE THAN ONE MORE");
  api.Stop();
  std::filesystem::remove_all(folder.Root());
  return within && oneMore ? 0 : 1;
}
