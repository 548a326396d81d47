// Times a whole 64-step upload as the console makes it -- the probe, the writes and the reads of
// the compared read-back, two words each once the controller's frames are learnt -- against the
// simulator paced at 9600 baud with a 10 ms turnaround, and sets it against the wire-time floor
// of the exchanges the simulator received (the first upload learns and is not timed).
//
//   upload_bench [ROUNDS]      default 1
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bench_console.h"
#include "bench_line.h"

int main(int argc, char** argv) {
  const int rounds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 1;
  tarvel::sim::SimulatedLine sim(tarvel::bench::PacedLine({1}));
  tarvel::link::ModbusRtuLine line;
  if (!tarvel::bench::StartLine(sim, line)) {
    std::fprintf(stderr, "could not start the simulated line\n");
    return 1;
  }
  const tarvel::AppFolder folder = tarvel::bench::BenchHome("tarvel-upload-bench");
  tarvel::store::ConfigStore store(folder.ConfigDatabase());
  std::mt19937 random(7);
  const auto file = tarvel::bench::WriteProfile(folder, "bench.txt", 64, random);

  tarvel::bench::NullView view;
  tarvel::console::Console console(folder, store, line, view, {true, true});
  console.Selection().LoadChannelLists();
  console.Selection().SelectIndex(0);
  console.OpenProfile(file);
  console.SetStartStepText("1");
  console.Compiler().Compile();

  using tarvel::bench::kReadFloor, tarvel::bench::kWriteFloor;
  for (int round = -1; round < rounds; ++round) {
    (void)store.DeleteLogEntry(1, "bench.txt");  // an upload over its own entry would clear it first
    sim.ClearRequests();
    const auto start = std::chrono::steady_clock::now();
    const auto result = console.UploadProfile({"bench.txt", "1", "SV"});
    const double measured = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!result.logged) return 1;
    if (round < 0) continue;
    int reads = 0, writes = 0;
    for (const auto& frame : sim.Requests()) (frame.at(1) == 0x03 ? reads : writes) += 1;
    const double floor = reads * kReadFloor + writes * kWriteFloor;
    std::printf("64-step upload with compared read-back: %d exchanges  measured %6.2f s  floor %6.2f s  ratio %.3f  logged\n",
                reads + writes, measured, floor, measured / floor);
  }
  std::printf("(the described system waits at least 100 ms per exchange: >= 38.4 s for the writes and reads)\n");
  std::filesystem::remove_all(folder.Root());
  return 0;
}
