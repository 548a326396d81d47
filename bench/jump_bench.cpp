// Times a whole jump sequence ("Jump To") against the simulator paced at 9600 baud with a
// 10 ms turnaround, set against the wire-time floor of the exchanges it made. The controller
// answers the described frames only (reads and writes of two registers) and is known to keep
// both registers of a write, as the upload of its program taught the console.
//
//   jump_bench [ROUNDS] [--untried]   default 5 jumps, each after the one before (so each puts
//                                     back the step it leaves); --untried: nothing known of the
//                                     controller's frames, every word written on its own
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>

#include "bench_console.h"
#include "bench_line.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace console = tarvel::console;
using tarvel::bench::Ms;

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 5;
  const bool untried = argc > 2 && std::string_view(argv[2]) == "--untried";
  constexpr double kReadFloorMs = 1000 * tarvel::bench::kReadFloor;
  constexpr double kWriteFloorMs = 1000 * tarvel::bench::kWriteFloor;

  tarvel::sim::SimulatedLine sim(tarvel::bench::PacedLine({1}));
  tarvel::link::ModbusRtuLine line;
  if (!tarvel::bench::StartLine(sim, line)) {
    std::fprintf(stderr, "could not start the simulated line\n");
    return 1;
  }

  const tarvel::AppFolder folder = tarvel::bench::BenchHome("tarvel-jump-bench");
  tarvel::store::ConfigStore store(folder.ConfigDatabase());
  std::vector<tarvel::store::MemoryRow> rows;
  for (int step = 1; step <= 64; ++step) rows.push_back({1, step, step < 10 ? 600 : 0, 100 + 10 * step, 1, 0});
  const tarvel::store::CapabilityRow known{1, untried ? std::optional<bool>() : true, false, false};
  if (!store.WriteMemorySteps(1, rows) || !store.WriteLogEntry({1, "bench.txt", 1, 10, "K", "F", "M", "SV"}) ||
      !store.SaveCapabilities(known)) {
    std::fprintf(stderr, "could not write the bench's memory map and log\n");
    return 1;
  }
  sim.EditUnit(1, [&rows](tarvel::sim::UnitState& u) {
    for (const auto& r : rows)
      u.steps[r.segment - 1] = {1, static_cast<std::int16_t>(r.duration), static_cast<std::int16_t>(r.temperature)};
    u.programHighStep = 10;
    u.runMode = 2;
  });
  sim.FrontPanelStart(1);

  tarvel::bench::NullView view;
  console::Console console(folder, store, line, view, {true, true});
  console.Load();
  console.Activate();

  double total = 0, floor = 0;
  for (int i = 0; i < rounds; ++i) {
    sim.ClearRequests();
    const auto start = Clock::now();
    if (!console.RunControls().JumpTo(1 + i % 8, 30)) {
      std::fprintf(stderr, "jump %d failed\n", i + 1);
      return 1;
    }
    const double took = Ms(Clock::now() - start);
    double wire = 0;
    const auto requests = sim.Requests();
    for (const auto& r : requests) wire += r[1] == 0x03 ? kReadFloorMs : kWriteFloorMs;
    std::printf("jump %d  %2zu exchanges  %7.1f ms  floor %7.1f ms  ratio %.3f\n", i + 1, requests.size(), took, wire,
                took / wire);
    total += took;
    floor += wire;
  }
  std::printf("mean jump  %7.1f ms  floor %7.1f ms  ratio %.3f\n", total / rounds, floor / rounds, total / floor);
  std::filesystem::remove_all(folder.Root());
  return 0;
}
