// The line watch against 16 simulated controllers paced at 9600 baud with a 10 ms turnaround,
// all of them running a program (so every reading is also recorded and checked against its
// band): the time of a sweep against 16 times the wire floor of a run-state reading, and the
// latency of a user command issued during a sweep against the same command on an idle line.
//
// With "loads", each unit runs in a load of its own (a client's start left in the store before the
// first sweep), so that every reading is also written to its load's record.
//
//   watch_bench [SWEEPS] [COMMANDS] [loads]      default 3 sweeps, 20 commands each way, no loads
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <random>
#include <thread>

#include "bench_console.h"
#include "bench_line.h"
#include "ui/command_runner.h"
#include "watch/line_watch.h"
#include "watch/load_start.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using tarvel::bench::Ms;

constexpr int kUnits = 16;

// All 16 units run the same three-step program, logged and selected, with a profile file.
tarvel::AppFolder Home(tarvel::sim::SimulatedLine& sim) {
  tarvel::AppFolder folder = tarvel::bench::BenchHome("tarvel-watch-bench");
  tarvel::store::ConfigStore store(folder.ConfigDatabase());
  (void)store.ClearChannelMap();
  tarvel::profile::ProfileTable table;
  const char* rows[3][8] = {{"1", "0", "600", "r", "70", "250", "0.3", "10"},
                            {"2", "600", "600", "h", "250", "250", "0", "10"},
                            {"3", "1200", "", "e", "100", "", "", ""}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 8; ++c) table.at(r + 1, c) = rows[r][c];
  (void)tarvel::profile::SaveProfileText(folder.Profiles() / "Bench.txt", tarvel::profile::BuildProfileText(table, {}));
  for (int unit = 1; unit <= kUnits; ++unit) {
    (void)store.AddChannel({unit, unit, "Unit " + std::to_string(unit), "set64rs"});
    (void)store.WriteMemorySteps(unit, {{unit, 1, 600, 70, 1, 0}, {unit, 2, 600, 250, 1, 0}, {unit, 3, 0, 100, 1, 0}});
    (void)store.WriteLogEntry({unit, "Bench.txt", 1, 3, "K", "F", "M", "SV"});
    (void)store.SaveRunSelection(unit, "Bench.txt", 1, 3);
    tarvel::bench::RunThreeSteps(sim, unit);
  }
  return folder;
}

// Milliseconds from handing a one-exchange command to the runner until it has run.
double CommandLatency(tarvel::ui::CommandRunner& runner, tarvel::link::CommandSet& commands) {
  std::promise<void> done;
  const auto start = Clock::now();
  runner.Run([&] {
    (void)commands.ReadSetValue(1);
    done.set_value();
  });
  done.get_future().wait();
  return Ms(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const int sweeps = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 3;
  const int commands = argc > 2 && std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 20;
  constexpr double kReadFloorMs = 1000 * tarvel::bench::kReadFloor;
  const double sweepFloorMs = kUnits * 8 * kReadFloorMs;  // eight reads a reading (the limits as a pair)

  std::vector<std::uint8_t> units;
  for (int unit = 1; unit <= kUnits; ++unit) units.push_back(static_cast<std::uint8_t>(unit));
  tarvel::sim::SimulatedLine sim(tarvel::bench::PacedLine(units));
  tarvel::link::ModbusRtuLine line;
  if (!tarvel::bench::StartLine(sim, line)) {
    std::fprintf(stderr, "could not start the simulated line\n");
    return 1;
  }
  const tarvel::AppFolder folder = Home(sim);
  tarvel::store::ConfigStore store(folder.ConfigDatabase());
  const bool loads = argc > 3 && std::string(argv[3]) == "loads";
  for (int unit = 1; loads && unit <= kUnits; ++unit)
    (void)tarvel::watch::RequestLoadStart(folder, store, {unit}, "Bench", {{"Order", std::to_string(unit)}}, "bench",
                                          std::chrono::system_clock::now());
  tarvel::watch::LineWatch watch(folder, store, line);
  watch.Apply({0ms, 2});

  // The sweep alone, on this thread.
  watch.RunSweep();  // the first opens the 16 log files
  double total = 0, worst = 0;
  for (int i = 0; i < sweeps; ++i) {
    const auto start = Clock::now();
    watch.RunSweep();
    const double took = Ms(Clock::now() - start);
    total += took;
    worst = std::max(worst, took);
  }
  const double mean = total / sweeps;
  const std::size_t open = watch.Loads() ? watch.Loads()->OpenLoads().size() : 0;
  std::printf(
      "sweep of %d controllers   %8.1f ms  (worst %.1f)  floor %7.1f ms  ratio %.3f  (mean of %d; each reading recorded"
      "; %zu loads recorded)\n",
      kUnits, mean, worst, sweepFloorMs, mean / sweepFloorMs, sweeps, open);

  // A user command on the runner: first on an idle line, then while the sweep runs between commands.
  tarvel::ui::CommandRunner runner;
  tarvel::link::CommandSet user(line);
  double idle = 0;
  for (int i = 0; i < commands; ++i) idle += CommandLatency(runner, user);
  idle /= commands;
  runner.SetBackground([&watch](bool between) {
    if (between) watch.CommandCameBetween();
    const auto step = watch.Step();
    return step.again ? 0ms : std::chrono::ceil<std::chrono::milliseconds>(step.wait);
  });
  std::mt19937 random(7);
  std::uniform_int_distribution<int> pause(20, 300);
  double during = 0, slowest = 0;
  for (int i = 0; i < commands; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));  // anywhere in an exchange
    const double latency = CommandLatency(runner, user);
    during += latency;
    slowest = std::max(slowest, latency);
  }
  during /= commands;
  runner.Shutdown();
  std::printf("user command, idle line        %6.1f ms (mean of %d)\n", idle, commands);
  std::printf(
      "user command, during a sweep   %6.1f ms mean, %6.1f ms worst: %+.2f exchanges more at worst"
      " (target <= 1; one exchange %.1f ms at the floor)\n",
      during, slowest, (slowest - idle) / kReadFloorMs, kReadFloorMs);
  std::filesystem::remove_all(folder.Root());
  return 0;
}
