// Scans addresses 1..64 of a line with 3 controllers (1, 2, 5) against the simulator paced
// at 9600 baud with a 10 ms turnaround, and sets the time against the goal of 110 ms per
// address. For comparison it also probes the same addresses one by one with the normal
// 100 ms reply window, as a plain loop of process value reads would.
//
//   scan_bench [ROUNDS]      default 1 round
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bench_line.h"
#include "link/commands.h"
#include "link/line_scan.h"

namespace {

using Seconds = std::chrono::duration<double>;
constexpr int kAddresses = 64;
constexpr double kGoalPerAddress = 0.110;

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 1;
  if (rounds < 1) rounds = 1;

  auto options = tarvel::bench::PacedLine({1, 2, 5});
  options.clock = tarvel::sim::Options::Clock::Manual;
  tarvel::sim::SimulatedLine sim(options);
  tarvel::link::ModbusRtuLine line;
  auto device = tarvel::bench::StartLine(sim, line);
  if (!device) {
    std::fprintf(stderr, "%s\n", device.status().message().c_str());
    return 1;
  }
  std::printf("scan of %d addresses, units 1 2 5, over %s at 9600 baud, 10 ms turnaround\n", kAddresses,
              device->c_str());

  for (int round = 0; round < rounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    auto scan = tarvel::link::ScanLine(line, 1, kAddresses, nullptr);
    double scanned = Seconds(std::chrono::steady_clock::now() - start).count();
    if (scan.Found() != std::vector<std::uint8_t>{1, 2, 5}) {
      std::fprintf(stderr, "the scan found %zu units, not units 1 2 5\n", scan.Found().size());
      return 1;
    }

    tarvel::link::CommandSet commands(line);
    start = std::chrono::steady_clock::now();
    for (int address = 1; address <= kAddresses; ++address)
      commands.ReadProcessValue(static_cast<std::uint8_t>(address));
    double plain = Seconds(std::chrono::steady_clock::now() - start).count();

    std::printf("line scan   %6.3f s  %6.1f ms per address  goal %5.1f ms  ratio %.3f\n", scanned,
                scanned * 1000 / kAddresses, kGoalPerAddress * 1000, scanned / (kAddresses * kGoalPerAddress));
    std::printf("plain loop  %6.3f s  %6.1f ms per address (100 ms window)\n", plain, plain * 1000 / kAddresses);
  }
  return 0;
}
