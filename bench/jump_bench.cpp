// Times a whole jump sequence ("Jump To") against the simulator paced at 9600 baud with a
// 10 ms turnaround, set against the wire-time floor of the exchanges it made.
//
//   jump_bench [ROUNDS]      default 5 jumps, each after the one before (so each restores one step)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "console/console.h"
#include "link/modbus_rtu_line.h"
#include "sim/simulated_line.h"
#include "store/home.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace console = tarvel::console;

struct NullView : console::ConsoleView {
  void ShowMessages(const std::string&) override {}
  void SetLed(console::Led) override {}
  void SetField(console::Field, const std::string&) override {}
  void SetSelectors(const console::Selectors&) override {}
  void SetProgressionChoices(const std::vector<std::string>&, int) override {}
  void SetProgramMode(int) override {}
  void SetMonitoring(bool) override {}
  void SetGridLayout(console::Grid, const console::GridLayout&) override {}
  void SetGridRows(console::Grid, const std::vector<std::vector<std::string>>&) override {}
  void SetRowMarks(console::Grid, const std::vector<console::RowMark>&) override {}
  void SetCurrentRow(console::Grid, int) override {}
  void ScrollTo(console::Grid, int) override {}
  void SetSizeButton(console::Grid, bool) override {}
  void SetProgress(int, int) override {}
  void ShowWarning(const std::string&, const std::string&) override {}
  bool Confirm(const std::string&, const std::string&) override { return true; }
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 5;
  constexpr double kTurnaroundMs = 10;
  constexpr double kSilenceMs = 2 * 3.5 * 10 / 9.6;
  constexpr double kReadFloorMs = (8 + 9) * 10 / 9.6 + kSilenceMs + kTurnaroundMs;
  constexpr double kWriteFloorMs = (13 + 8) * 10 / 9.6 + kSilenceMs + kTurnaroundMs;

  tarvel::sim::Options options;
  options.addresses = {1};
  options.turnaround = std::chrono::milliseconds(10);
  tarvel::sim::SimulatedLine sim(options);
  auto device = sim.Start();
  tarvel::link::ModbusRtuLine line;
  if (!device || !line.Open(*device).ok()) {
    std::fprintf(stderr, "could not start the simulated line\n");
    return 1;
  }

  const auto home = std::filesystem::temp_directory_path() / "tarvel-jump-bench";
  std::filesystem::remove_all(home);
  tarvel::AppFolder folder(home);
  tarvel::store::PrepareHome(folder);
  tarvel::store::ConfigStore store(folder.ConfigDatabase());
  store.AddChannel({1, 1, "Bench", "set64rs"});
  std::vector<tarvel::store::MemoryRow> rows;
  for (int step = 1; step <= 64; ++step) rows.push_back({1, step, step < 10 ? 600 : 0, 100 + 10 * step, 1, 0});
  store.WriteMemorySteps(1, rows);
  store.WriteLogEntry({1, "bench.txt", 1, 10, "K", "F", "M", "SV"});
  sim.EditUnit(1, [&rows](tarvel::sim::UnitState& u) {
    for (const auto& r : rows)
      u.steps[r.segment - 1] = {1, static_cast<std::int16_t>(r.duration), static_cast<std::int16_t>(r.temperature)};
    u.programHighStep = 10;
    u.runMode = 2;
  });
  sim.FrontPanelStart(1);

  NullView view;
  console::Console console(folder, store, line, view, {true, true});
  console.Load();
  console.Activate();

  double total = 0, floor = 0;
  for (int i = 0; i < rounds; ++i) {
    sim.ClearRequests();
    const auto start = Clock::now();
    if (!console.Run().JumpTo(1 + i % 8, 30)) {
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
  std::filesystem::remove_all(home);
  return 0;
}
