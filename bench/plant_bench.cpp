// The line service over one simulated line of 64 running controllers, for what the plant's
// views rely on:
//   plant_bench memory [SWEEPS]   the sim unpaced and the sweep without a pause, the equivalent
//                                 of an hour of readings at a 15 s period (240 sweeps) in a few
//                                 minutes: resident memory after every sweep -- start, peak,
//                                 end, and the growth per 100 sweeps over the run and over its
//                                 second half (once the event stream's history is full). The
//                                 programs start after the first sweep, so that every controller
//                                 is in a load under way, recorded, for the rest of the run.
//                                 The heap in use is shown beside it: what the service holds,
//                                 without the free blocks the allocator keeps.
//   plant_bench latency [READINGS] the line paced at 9600 baud: from a channel's reading (the
//                                 last request of it the controller heard) to its "reading"
//                                 event at an HTTP client of the web view's event stream
//                                 (/api/events, what the pages follow); 95th percentile and max.
#include <httplib.h>

#include <malloc.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "bench_console.h"
#include "bench_line.h"
#include "service/api.h"
#include "service/service.h"
#include "service/service_plant.h"
#include "web/web_server.h"

namespace {

using namespace tarvel;
using Clock = std::chrono::steady_clock;

constexpr int kControllers = 64;

// What the heap holds in use, KiB: unlike the resident size, not raised by free blocks the
// allocator keeps.
long HeapInUseKb() { return static_cast<long>(mallinfo2().uordblks / 1024); }

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
  return -1;
}

// Starts sim and makes a home with its 64 controllers mapped to its port, each holding a long
// program; running: started already (else left in run mode 0).
std::optional<AppFolder> Home(sim::SimulatedLine& sim, bool running) {
  if (auto device = sim.Start(); !device)
    return std::fprintf(stderr, "simulator: %s\n", device.status().message().c_str()), std::nullopt;
  AppFolder folder = bench::BenchHome("tarvel-plant-bench");
  store::ConfigStore store(folder.ConfigDatabase());
  (void)store.ClearChannelMap();
  for (int unit = 1; unit <= kControllers; ++unit) {
    (void)store.AddChannel({unit, unit, "Unit " + std::to_string(unit), "set64rs", sim.DevicePath()});
    (void)store.ResetControllerMemory(unit);
    bench::RunThreeSteps(sim, unit);
    if (!running) sim.EditUnit(static_cast<std::uint8_t>(unit), [](sim::UnitState& u) { u.runMode = 0; });
  }
  return folder;
}

// The line service over the home's port, sweeping without a pause.
std::unique_ptr<service::Service> StartService(const AppFolder& folder) {
  service::PortOptions port;
  port.watch.period = std::chrono::milliseconds(0);
  auto started = service::Service::Start(folder, port);
  if (auto* refusal = std::get_if<service::Service::Refusal>(&started))
    return std::fprintf(stderr, "%s\n", refusal->message.c_str()), nullptr;
  return std::move(std::get<std::unique_ptr<service::Service>>(started));
}

std::vector<std::uint8_t> Units() {
  std::vector<std::uint8_t> units;
  for (int unit = 1; unit <= kControllers; ++unit) units.push_back(static_cast<std::uint8_t>(unit));
  return units;
}

int Memory(int sweeps) {
  sim::Options options = bench::PacedLine(Units());
  options.baud = 0;  // as fast as the pseudo-terminal carries it
  options.turnaround = std::chrono::microseconds(1000);
  options.maxRead = 125;  // block reads: the fewest exchanges a sweep can make
  options.speed = 15;     // the programs move on as they would over the hour the sweeps stand for
  sim::SimulatedLine sim(options);
  const auto folder = Home(sim, false);
  if (!folder) return 1;
  const auto lineService = StartService(*folder);
  if (!lineService) return 1;

  std::vector<long> rss, heap;
  int opened = 0, closed = 0;
  long long after = lineService->Events().Last();
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::minutes(60);  // a stuck line; a loaded machine takes ~30
  while (static_cast<int>(rss.size()) <= sweeps && Clock::now() < deadline) {
    std::vector<std::string> events;
    after = lineService->Events().Since(after, events, std::chrono::seconds(1));
    for (const std::string& e : events) {
      if (e.starts_with("event: load\n")) ++(e.find("\"result\":\"\"") != std::string::npos ? opened : closed);
      if (!e.starts_with("event: sweep\n")) continue;
      // The simulator shares this process and keeps every request it heard: let it go, so what
      // is measured is the service's.
      sim.ClearRequests();
      rss.push_back(ResidentKb());
      heap.push_back(HeapInUseKb());
      if (rss.size() == 1)  // the operators start every program: a load each from the next sweep
        for (int unit = 1; unit <= kControllers; ++unit) {
          sim.EditUnit(static_cast<std::uint8_t>(unit), [](sim::UnitState& u) { u.runMode = 2; });
          sim.FrontPanelStart(static_cast<std::uint8_t>(unit));
        }
    }
  }
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  std::filesystem::remove_all(folder->Root());
  if (rss.size() < 3) return std::fprintf(stderr, "only %zu sweeps\n", rss.size()), 1;
  if (static_cast<int>(rss.size()) <= sweeps) {
    std::fprintf(stderr, "only %zu sweeps before the deadline: the figures are of those\n", rss.size());
    sweeps = static_cast<int>(rss.size()) - 1;
  }
  // The first sweep opens the line, the database and the log files: the start is after it.
  const long first = rss[0], end = rss[static_cast<std::size_t>(sweeps)];
  const long peak = *std::max_element(rss.begin(), rss.end());
  const long half = rss[static_cast<std::size_t>(sweeps / 2)];
  std::printf("%d controllers, %d sweeps in %.1f s (%.0f ms a sweep)\n", kControllers, sweeps, took,
              took * 1000 / (sweeps + 1));
  std::printf("loads opened %d, closed %d (one a controller: every program still runs)\n", opened, closed);
  std::printf("resident KiB: start %ld  peak %ld  end %ld\n", first, peak, end);
  std::printf("growth per 100 sweeps: over the run %.1f KiB, over the second half %.1f KiB\n",
              (end - first) * 100.0 / sweeps, (end - half) * 100.0 / (sweeps - sweeps / 2));
  const auto at = [&](int sweep) { return heap[static_cast<std::size_t>(sweep)]; };
  std::printf("heap in use KiB: start %ld  half %ld  end %ld; per 100 sweeps over the second half %.1f KiB\n", at(0),
              at(sweeps / 2), at(sweeps), (at(sweeps) - at(sweeps / 2)) * 100.0 / (sweeps - sweeps / 2));
  return 0;
}

int Latency(int readings) {
  sim::SimulatedLine sim(bench::PacedLine(Units()));
  const auto folder = Home(sim, true);
  if (!folder) return 1;
  const auto lineService = StartService(*folder);
  if (!lineService) return 1;
  service::ServicePlant plant(*lineService, {});
  web::WebServer view(plant);
  if (Status listening = view.Start({}); !listening.ok())
    return std::fprintf(stderr, "%s\n", listening.message().c_str()), 1;

  // When the controller at each address last heard a request, by a thread that wakes at each.
  std::mutex mutex;
  std::map<int, std::vector<Clock::time_point>> heard;
  std::atomic<bool> stop{false};
  std::thread listener([&] {
    std::size_t seen = sim.Requests().size();
    while (!stop) {
      if (!sim.WaitForRequests(seen + 1, std::chrono::milliseconds(200))) continue;
      const auto now = Clock::now();
      const auto requests = sim.Requests();
      std::lock_guard lock(mutex);
      for (; seen < requests.size(); ++seen)
        if (!requests[seen].empty()) heard[requests[seen][0]].push_back(now);
    }
  });

  std::vector<double> latencies;
  httplib::Client client("127.0.0.1", view.Port());
  client.set_read_timeout(std::chrono::seconds(30));
  std::string buffer;
  int skipped = 0;
  client.Get("/api/events", [&](const char* data, std::size_t size) {
    const auto now = Clock::now();
    buffer.append(data, size);
    for (std::size_t end; (end = buffer.find("\n\n")) != std::string::npos; buffer.erase(0, end + 2)) {
      const std::string event = buffer.substr(0, end);
      if (!event.starts_with("event: reading\n")) continue;
      const auto json = nlohmann::json::parse(event.substr(event.find("data: ") + 6), nullptr, false);
      const int address = json.value("address", 0);
      std::lock_guard lock(mutex);
      const auto& times = heard[address];
      auto last = std::upper_bound(times.begin(), times.end(), now);
      // The first readings may predate our client: only those whose requests we saw count.
      if (last == times.begin() || skipped++ < kControllers) continue;
      latencies.push_back(std::chrono::duration<double, std::milli>(now - *std::prev(last)).count());
    }
    return static_cast<int>(latencies.size()) < readings;
  });
  stop = true;
  listener.join();
  view.Stop();
  std::filesystem::remove_all(folder->Root());
  if (latencies.empty()) return std::fprintf(stderr, "no readings came\n"), 1;
  std::sort(latencies.begin(), latencies.end());
  const double p95 = latencies[std::min(latencies.size() - 1, latencies.size() * 95 / 100)];
  std::printf(
      "%d controllers at 9600 baud, %zu readings to the web view's /api/events: median %.1f ms  95th %.1f ms  max %.1f "
      "ms\n",
      kControllers, latencies.size(), latencies[latencies.size() / 2], p95, latencies.back());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  const int count = argc > 2 ? std::atoi(argv[2]) : 0;
  if (what == "memory") return Memory(count > 1 ? count : 240);
  if (what == "latency") return Latency(count > 0 ? count : 256);
  std::fprintf(stderr, "usage: plant_bench memory [SWEEPS] | latency [READINGS]\n");
  return 2;
}
