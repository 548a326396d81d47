// Times the console's run-state reading (the monitor's tick) and its first activation against
// the simulator paced at 9600 baud with a 10 ms turnaround, set against the wire-time floor.
//
//   console_bench [ROUNDS]      default 5 readings
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
using tarvel::console::Field;

// Discards what a window would show: only the time is of interest here.
struct NullView : tarvel::console::ConsoleView {
  void ShowMessages(const std::string&) override {}
  void SetLed(tarvel::console::Led) override {}
  void SetField(Field, const std::string&) override {}
  void SetSelectors(const tarvel::console::Selectors&) override {}
  void SetProgressionChoices(const std::vector<std::string>&, int) override {}
  void SetProgramMode(int) override {}
  void SetMonitoring(bool) override {}
  void SetGridLayout(tarvel::console::Grid, const tarvel::console::GridLayout&) override {}
  void SetGridRows(tarvel::console::Grid, const std::vector<std::vector<std::string>>&) override {}
  void SetRowMarks(tarvel::console::Grid, const std::vector<tarvel::console::RowMark>&) override {}
  void SetCurrentRow(tarvel::console::Grid, int) override {}
  void ScrollTo(tarvel::console::Grid, int) override {}
  void SetSizeButton(tarvel::console::Grid, bool) override {}
  void SetProgress(int, int) override {}
  void ShowWarning(const std::string&, const std::string&) override {}
  bool Confirm(const std::string&, const std::string&) override { return true; }
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 5;
  constexpr double kReadFloorMs = (8 + 9) * 10 / 9.6 + 2 * 3.5 * 10 / 9.6 + 10;  // one function 3 exchange

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

  const auto home = std::filesystem::temp_directory_path() / "tarvel-console-bench";
  std::filesystem::remove_all(home);
  tarvel::AppFolder folder(home);
  tarvel::store::PrepareHome(folder);
  tarvel::store::ConfigStore store(folder.ConfigDatabase());
  store.AddChannel({1, 1, "Bench", "set64rs"});
  store.ResetControllerMemory(1);
  store.WriteLogEntry({1, "bench.txt", 1, 64, "K", "F", "M", "SV"});

  NullView view;
  tarvel::console::Console console(folder, store, line, view, {true, true});
  auto start = Clock::now();
  console.Load();
  console.Activate();
  const double activation = Ms(Clock::now() - start);
  // Activation: program limits (2), run-state reading (9), run mode (1).
  std::printf("first activation   %8.1f ms  floor %6.1f ms  ratio %.3f\n", activation, 12 * kReadFloorMs,
              activation / (12 * kReadFloorMs));

  start = Clock::now();
  for (int i = 0; i < rounds; ++i) console.ReadRunState();
  const double reading = Ms(Clock::now() - start) / rounds;
  std::printf("run-state reading  %8.1f ms  floor %6.1f ms  ratio %.3f  (mean of %d; the described system: >= 900 ms)\n",
              reading, 9 * kReadFloorMs, reading / (9 * kReadFloorMs), rounds);
  std::filesystem::remove_all(home);
  return 0;
}
