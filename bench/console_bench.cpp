// Times the console's run-state reading (the monitor's tick) and its first activation against
// the simulator paced at 9600 baud with a 10 ms turnaround, set against the wire-time floor.
//
//   console_bench [ROUNDS]      default 5 readings
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "bench_console.h"
#include "bench_line.h"

namespace {

using Clock = std::chrono::steady_clock;
using tarvel::bench::Ms;

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 5;
  constexpr double kReadFloorMs = 1000 * tarvel::bench::kReadFloor;

  tarvel::sim::SimulatedLine sim(tarvel::bench::PacedLine({1}));
  tarvel::link::ModbusRtuLine line;
  if (!tarvel::bench::StartLine(sim, line)) {
    std::fprintf(stderr, "could not start the simulated line\n");
    return 1;
  }

  const tarvel::AppFolder folder = tarvel::bench::BenchHome("tarvel-console-bench");
  tarvel::store::ConfigStore store(folder.ConfigDatabase());
  if (!store.WriteLogEntry({1, "bench.txt", 1, 64, "K", "F", "M", "SV"})) {
    std::fprintf(stderr, "could not write the bench's profile log\n");
    return 1;
  }

  tarvel::bench::NullView view;
  tarvel::console::Console console(folder, store, line, view, {true, true});
  auto start = Clock::now();
  console.Load();
  console.Activate();
  const double activation = Ms(Clock::now() - start);
  // Activation: program limits (1), run-state reading (8, and the refused block-read probe), run mode (1).
  const double probeMs = 1000 * tarvel::bench::ExchangeFloor(8, 5);  // an exception reply
  std::printf("first activation   %8.1f ms  floor %6.1f ms  ratio %.3f\n", activation, 10 * kReadFloorMs + probeMs,
              activation / (10 * kReadFloorMs + probeMs));

  start = Clock::now();
  for (int i = 0; i < rounds; ++i) console.RunMonitor().ReadRunState();
  const double reading = Ms(Clock::now() - start) / rounds;
  std::printf(
      "run-state reading  %8.1f ms  floor %6.1f ms  ratio %.3f  (mean of %d; the described system: >= 900 ms)\n",
      reading, 8 * kReadFloorMs, reading / (8 * kReadFloorMs), rounds);
  std::filesystem::remove_all(folder.Root());
  return 0;
}
