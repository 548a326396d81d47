// Transfers with both registers of every frame, and with block reads where the controller
// answers them, against the simulator paced at 9600 baud with a 10 ms turnaround: each time set
// against the wire-time floor of its own exchanges, and the exchanges against those of the
// two-register frames one word at a time (download 192 reads, upload with read-back 386, run-state
// reading 9 reads, a sweep 9 reads per controller).
//
//   frames_bench [ROUNDS]      default 1 (the sweeps and readings: 3)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "bench_console.h"
#include "bench_line.h"
#include "link/transfers.h"
#include "watch/line_watch.h"

namespace {

using Clock = std::chrono::steady_clock;
using tarvel::bench::ExchangeFloor;
using tarvel::bench::kReadFloor;
using tarvel::bench::kWriteFloor;
namespace link = tarvel::link;
namespace sim = tarvel::sim;

// A read of count registers.
constexpr double BlockFloor(int count) { return ExchangeFloor(8, 5 + 2 * count); }
// The run-state reading where blocks are answered: the run mode with the limits in one block,
// then the step, its time, the program's set point, the process value, the set value and the
// relays as pairs (their neighbours are registers the map does not describe).
constexpr double kRunStateBlocksFloor = BlockFloor(3) + 6 * kReadFloor;
constexpr int kRunStateBlockReads = 7;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

int failures = 0;

// again: requests the line sent a second time because their reply was byte for byte like one
// heard within the last second (an idle controller's zeros); the floor counts them.
void Report(const char* what, int exchanges, int today, double measured, double floor, int again = 0) {
  const double ratio = measured / floor;
  std::printf("%-44s %4d exchanges (today %3d: %.2f)  measured %7.3f s  floor %7.3f s  ratio %.3f%s\n", what, exchanges,
              today, static_cast<double>(exchanges) / today, measured, floor, ratio,
              ratio <= 1.10 ? "" : "  OVER 1.10");
  if (again > 0)
    std::printf("%-44s %4d of them asked again: their replies were like ones heard just before\n", "", again);
  if (ratio > 1.10) ++failures;
}

// A transfer measured right after another would hear the same replies again, which the line
// asks for once more: measured rounds start once no copy of the last one can come.
void PastCopies(const link::ModbusRtuLine& line) {
  std::this_thread::sleep_for(line.Timing().duplicateHorizon + std::chrono::milliseconds(100));
}

sim::Options Line(std::vector<std::uint8_t> units, int maxRead) {
  auto options = tarvel::bench::PacedLine(std::move(units));
  options.maxRead = maxRead;
  return options;
}

std::vector<link::ProgramStep> Program() {
  std::vector<link::ProgramStep> program;
  for (int step = 1; step <= link::kStepCount; ++step) program.push_back({step % 4, step * 10 + 2, -step * 10 - 3});
  return program;
}

bool Download(int rounds, int maxRead) {
  sim::SimulatedLine sim(Line({1}, maxRead));
  link::ModbusRtuLine line;
  if (!tarvel::bench::StartLine(sim, line)) return false;
  link::CommandSet commands(line);
  const auto program = Program();
  if (!link::WriteStepRange(commands, 1, 1, program).ok()) return false;
  link::FrameUse use{{}, maxRead > 2};
  if (maxRead > 2 && !link::ReadStepRange(commands, 1, 1, 1, use).ok()) return false;  // the probe, once
  for (int round = 0; round < rounds; ++round) {
    PastCopies(line);
    sim.ClearRequests();
    const auto start = Clock::now();
    auto read = link::ReadStepRange(commands, 1, 1, link::kStepCount, use);
    const double measured = Seconds(Clock::now() - start);
    if (!read.ok() || read.steps != program) return false;
    const int exchanges = static_cast<int>(sim.Requests().size());
    if (maxRead > 2)
      Report("download 64 steps, block reads of 64", exchanges, 192, measured, 3 * BlockFloor(64));
    else
      Report("download 64 steps, pair reads", exchanges, 192, measured, 96 * kReadFloor);
  }
  return true;
}

// The console's upload of a 64-step profile with its compared read-back; the first upload
// learns the controller's frames, the rounds after it are measured.
bool Upload(int rounds, int maxRead) {
  sim::SimulatedLine sim(Line({1}, maxRead));
  link::ModbusRtuLine line;
  if (!tarvel::bench::StartLine(sim, line)) return false;
  const tarvel::AppFolder folder = tarvel::bench::BenchHome("tarvel-frames-bench");
  tarvel::store::ConfigStore store(folder.ConfigDatabase());
  std::mt19937 random(11);
  const auto file = tarvel::bench::WriteProfile(folder, "bench.txt", 64, random);
  tarvel::bench::NullView view;
  tarvel::console::Console console(folder, store, line, view, {true, true});
  console.Selection().LoadChannelLists();
  console.Selection().SelectIndex(0);
  console.Program().OpenProfile(file);
  console.Program().SetStartStepText("1");
  console.Program().BuildProgram();
  for (int round = -1; round < rounds; ++round) {
    (void)store.DeleteLogEntry(1, "bench.txt");
    PastCopies(line);
    sim.ClearRequests();
    const long long resentBefore = line.Counts().resends;
    const auto start = Clock::now();
    const auto result = console.ProfileUpload().Run({"bench.txt", "1", "SV"});
    const double measured = Seconds(Clock::now() - start);
    if (!result.logged) return false;
    const int exchanges = static_cast<int>(sim.Requests().size());
    const int again = static_cast<int>(line.Counts().resends - resentBefore);
    if (round < 0) {
      std::printf("%-44s %4d exchanges  measured %7.3f s\n",
                  maxRead > 2 ? "  (first upload, learning; block reads)" : "  (first upload, learning)", exchanges,
                  measured);
    } else if (maxRead > 2) {
      Report("upload 64 steps + read-back, pairs + blocks", exchanges, 386, measured,
             kReadFloor + 96 * kWriteFloor + 3 * BlockFloor(64) + again * kReadFloor, again);
    } else {
      Report("upload 64 steps + read-back, pairs", exchanges, 386, measured,
             (97 + again) * kReadFloor + 96 * kWriteFloor, again);
      std::printf("%-44s measured %.3f s against half of 14.39 s: %s\n", "", measured,
                  measured <= 14.39 / 2 ? "within" : "OVER");
    }
  }
  std::filesystem::remove_all(folder.Root());
  return true;
}

bool RunState(int rounds) {
  sim::SimulatedLine sim(Line({1}, 64));
  link::ModbusRtuLine line;
  if (!tarvel::bench::StartLine(sim, line)) return false;
  const tarvel::AppFolder folder = tarvel::bench::BenchHome("tarvel-frames-bench");
  tarvel::store::ConfigStore store(folder.ConfigDatabase());
  tarvel::bench::NullView view;
  tarvel::console::Console console(folder, store, line, view, {true, true});
  console.Load();
  console.Activate();  // its reading probes for block reads
  sim.ClearRequests();
  const long long resentBefore = line.Counts().resends;
  // Readings a monitor period apart. Within one reading an idle controller answers zeros to
  // several pairs: each such reply after the first is asked for again.
  Clock::duration taken{};
  for (int i = 0; i < rounds; ++i) {
    PastCopies(line);
    const auto start = Clock::now();
    console.RunMonitor().ReadRunState();
    taken += Clock::now() - start;
  }
  const double measured = Seconds(taken) / rounds;
  const int exchanges = static_cast<int>(sim.Requests().size()) / rounds;
  const int again = static_cast<int>(line.Counts().resends - resentBefore) / rounds;
  Report("run-state reading, block reads", exchanges, 9, measured, kRunStateBlocksFloor + again * kReadFloor, again);
  std::filesystem::remove_all(folder.Root());
  return exchanges - again == kRunStateBlockReads;
}

// Every unit runs a three-step program, so that each reading is recorded as well.
bool Sweep(int units, int sweeps) {
  std::vector<std::uint8_t> addresses;
  for (int unit = 1; unit <= units; ++unit) addresses.push_back(static_cast<std::uint8_t>(unit));
  sim::SimulatedLine sim(Line(addresses, 64));
  link::ModbusRtuLine line;
  if (!tarvel::bench::StartLine(sim, line)) return false;
  tarvel::AppFolder folder = tarvel::bench::BenchHome("tarvel-frames-bench");
  tarvel::store::ConfigStore store(folder.ConfigDatabase());
  (void)store.ClearChannelMap();
  for (int unit = 1; unit <= units; ++unit) {
    (void)store.AddChannel({unit, unit, "Unit " + std::to_string(unit), "set64rs"});
    tarvel::bench::RunThreeSteps(sim, unit);
  }
  tarvel::watch::LineWatch watch(folder, store, line);
  watch.Apply({std::chrono::milliseconds(0), 2, true});
  watch.RunSweep();  // probes each controller once, opens the log files
  sim.ClearRequests();
  const long long resentBefore = line.Counts().resends;
  const auto start = Clock::now();
  for (int i = 0; i < sweeps; ++i) watch.RunSweep();
  const double measured = Seconds(Clock::now() - start) / sweeps;
  const int exchanges = static_cast<int>(sim.Requests().size()) / sweeps;
  const int again = static_cast<int>(line.Counts().resends - resentBefore) / sweeps;
  const std::string what = "line-watch sweep of " + std::to_string(units) + " controllers, block reads";
  Report(what.c_str(), exchanges, 9 * units, measured, units * kRunStateBlocksFloor + again * kReadFloor, again);
  std::filesystem::remove_all(folder.Root());
  return exchanges - again == units * kRunStateBlockReads;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 1;
  std::printf("9600 baud, 10 ms turnaround; ratio = measured / floor of the exchanges made\n");
  const bool ok = Download(rounds, 2) && Download(rounds, 64) && Upload(rounds, 2) && Upload(rounds, 64) &&
                  RunState(3 * rounds) && Sweep(16, 3 * rounds) && Sweep(64, rounds);
  if (!ok) {
    std::fprintf(stderr, "a transfer failed or took other exchanges than planned\n");
    return 1;
  }
  return failures == 0 ? 0 : 1;
}
