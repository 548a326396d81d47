// Downloads and uploads a whole 64-step program against the simulator paced at 9600 baud with
// a 10 ms turnaround, and sets the time against the wire-time floor: per exchange (request +
// reply bytes) x 10 bits / 9600 + two 3.5-character silences + turnaround. The download is 192
// reads; the upload is the transfer every upload makes: the read of the word after the range
// and 192 writes, each carrying the next word. Each round goes twice: as the line is shipped,
// keeping the frames it heard to know a repeated reply, and with that history off, so that
// what matching replies costs a sound exchange shows beside the floor.
//
//   link_bench [ROUNDS]      default 1 round of each
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_line.h"
#include "link/commands.h"
#include "link/transfers.h"

namespace {

using Seconds = std::chrono::duration<double>;

void Report(const char* what, int exchanges, double measured, double floor) {
  std::printf("%-12s %3d exchanges  measured %7.3f s  floor %7.3f s  ratio %.3f\n", what, exchanges, measured, floor,
              measured / floor);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 1;
  if (rounds < 1) rounds = 1;

  auto options = tarvel::bench::PacedLine({1});
  options.clock = tarvel::sim::Options::Clock::Manual;
  tarvel::sim::SimulatedLine sim(options);
  tarvel::link::ModbusRtuLine line;
  auto device = tarvel::bench::StartLine(sim, line);
  if (!device) {
    std::fprintf(stderr, "%s\n", device.status().message().c_str());
    return 1;
  }
  tarvel::link::CommandSet commands(line);
  std::printf("64-step program over %s at 9600 baud, 10 ms turnaround\n", device->c_str());

  const tarvel::link::LineTiming shipped = line.Timing();
  tarvel::link::LineTiming noHistory = shipped;
  noHistory.duplicateHorizon = {};
  for (int run = 0; run < 2 * rounds; ++run) {
    const bool history = run % 2 == 0;
    line.SetTiming(history ? shipped : noHistory);
    std::vector<tarvel::link::ProgramStep> program;
    for (int step = 1; step <= tarvel::link::kStepCount; ++step)
      program.push_back({step * 10 + 1, step * 10 + 2, step * 10 + 3});
    auto start = std::chrono::steady_clock::now();
    if (auto fault = tarvel::link::WriteStepRange(commands, 1, 1, program); !fault.ok()) {
      std::fprintf(stderr, "upload failed at %s\n", fault.Describe().c_str());
      return 1;
    }
    double upload = Seconds(std::chrono::steady_clock::now() - start).count();

    start = std::chrono::steady_clock::now();
    for (int step = 1; step <= tarvel::link::kStepCount; ++step)
      for (int word = 1; word <= 3; ++word) {
        auto reply = commands.ReadProgramStepWord(1, step, word);
        if (!reply.ok() || reply.value != step * 10 + word) {
          std::fprintf(stderr, "download failed at step %d word %d: %s\n", step, word,
                       std::string(tarvel::link::Describe(reply.outcome)).c_str());
          return 1;
        }
      }
    double download = Seconds(std::chrono::steady_clock::now() - start).count();

    Report(history ? "download" : "  no history", 192, download, 192 * tarvel::bench::kReadFloor);
    Report(history ? "upload" : "  no history", 193, upload,
           tarvel::bench::kReadFloor + 192 * tarvel::bench::kWriteFloor);
  }
  // Sent twice: only a read of the word after step 64 at the start of a round, heard less than a
  // second before at the end of the last one.
  const auto heard = line.Counts();
  std::printf("requests sent again %lld, copies %lld, strays %lld\n", heard.resends, heard.copies, heard.strays);
  return 0;
}
