// A fault campaign: uploads and downloads through the console's workflows while the simulator
// corrupts one exchange of most of them (no reply, bad CRC, late reply, stray byte, wrong
// address) at a random point. After each command it checks that every memory-map row the
// command changed holds what the controller holds, and that every profile log row points at
// a range that holds exactly its compiled program. The target is 0 wrong values.
//
//   fault_campaign [COMMANDS] [SEED]      default 240 commands, seed 1
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "bench_console.h"
#include "bench_line.h"

namespace {

using tarvel::link::ProgramStep;

// Injects the planned fault just before exchange `at` of the command under way.
class FaultingLine final : public tarvel::link::Line {
 public:
  FaultingLine(tarvel::link::Line& line, tarvel::sim::SimulatedLine& sim) : line_(line), sim_(sim) {}
  void Plan(int at, tarvel::sim::Fault fault) {
    at_ = at;
    fault_ = fault;
    count_ = 0;
    injected_ = false;
  }
  bool Injected() const { return injected_; }
  tarvel::link::Reply<tarvel::link::RegisterPair> ReadRegisterPair(std::uint8_t a, std::uint16_t r) override {
    Before();
    return line_.ReadRegisterPair(a, r);
  }
  tarvel::link::Outcome WriteRegisters(std::uint8_t a, std::uint16_t r, std::uint16_t v, std::uint16_t n) override {
    Before();
    return line_.WriteRegisters(a, r, v, n);
  }
  tarvel::link::Outcome WriteCoil(std::uint8_t a, std::uint16_t c, bool on) override {
    Before();
    return line_.WriteCoil(a, c, on);
  }

 private:
  void Before() {
    if (++count_ == at_) {
      sim_.InjectFault(fault_);
      injected_ = true;
    }
  }
  tarvel::link::Line& line_;
  tarvel::sim::SimulatedLine& sim_;
  int at_ = 0, count_ = 0;
  bool injected_ = false;
  tarvel::sim::Fault fault_ = tarvel::sim::Fault::NoReply;
};

ProgramStep Held(const tarvel::sim::UnitState& unit, int step) {
  const auto& s = unit.steps[static_cast<std::size_t>(step - 1)];
  return {s.pidSet, s.duration, s.temperature};
}

}  // namespace

int main(int argc, char** argv) {
  const int commands = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 240;
  std::mt19937 random(argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u);

  tarvel::sim::Options options;
  options.addresses = {1, 2};  // a second unit gives "wrong address" replies a sender
  options.clock = tarvel::sim::Options::Clock::Manual;
  options.turnaround = std::chrono::milliseconds(1);
  options.baud = 0;  // unpaced: the faults, not the wire, are under test
  tarvel::sim::SimulatedLine sim(options);
  tarvel::link::ModbusRtuLine line;
  if (!tarvel::bench::StartLine(sim, line)) {
    std::fprintf(stderr, "could not start the simulated line\n");
    return 1;
  }
  FaultingLine faulting(line, sim);
  const tarvel::AppFolder folder = tarvel::bench::BenchHome("tarvel-fault-campaign");
  tarvel::store::ConfigStore store(folder.ConfigDatabase());
  tarvel::bench::NullView view;
  tarvel::console::Console console(folder, store, faulting, view, {true, true});
  console.Selection().LoadChannelLists();
  console.Selection().SelectIndex(0);

  const tarvel::sim::Fault kinds[] = {tarvel::sim::Fault::NoReply, tarvel::sim::Fault::BadCrc,
                                      tarvel::sim::Fault::LateReply, tarvel::sim::Fault::StrayByte,
                                      tarvel::sim::Fault::WrongAddress};
  std::map<std::string, std::vector<ProgramStep>> compiledOf;  // what each logged name was compiled to
  int faulted = 0, failedCleanly = 0, succeeded = 0, faultedButSucceeded = 0, wrongMemory = 0, wrongLog = 0;
  const auto started = std::chrono::steady_clock::now();
  for (int n = 0; n < commands; ++n) {
    const bool upload = n % 2 == 0;
    const int steps = 2 + static_cast<int>(random() % 5);
    const int first = 1 + static_cast<int>(random() % (64 - steps));
    const int exchanges = upload ? 1 + 6 * steps : 3 * steps;
    const bool inject = random() % 5 != 0;  // four commands in five meet a fault
    faulting.Plan(inject ? 1 + static_cast<int>(random() % exchanges) : 0, kinds[random() % std::size(kinds)]);
    const auto before = store.Memory(1).value_or({});

    bool ok = false;
    if (upload) {
      const std::string name = "p" + std::to_string(n % 7) + ".txt";
      const auto file = tarvel::bench::WriteProfile(folder, name, steps, random);
      console.OpenProfile(file);
      console.SetStartStepText(std::to_string(first));
      console.Compiler().Compile();
      ok = console.UploadProfile({name, std::to_string(first), "SV"}).logged;
      if (ok) compiledOf[name] = console.Compiler().Compiled().steps;
    } else {
      ok = console.Memory().DownloadProgramRange(first, first + steps - 1).has_value();
    }
    if (faulting.Injected()) ++faulted;
    if (ok) ++succeeded;
    if (!ok && faulting.Injected()) ++failedCleanly;
    if (ok && faulting.Injected()) ++faultedButSucceeded;

    // Every map row this command changed must hold what the controller holds now.
    const auto unit = sim.Unit(1);
    const auto after = store.Memory(1).value_or({});
    for (std::size_t i = 0; i < after.size() && i < before.size(); ++i) {
      const auto& a = after[i];
      const auto& b = before[i];
      const bool changed = a.pidSet != b.pidSet || a.duration != b.duration || a.temperature != b.temperature;
      if (changed && ProgramStep{a.pidSet, a.duration, a.temperature} != Held(unit, a.segment)) ++wrongMemory;
    }
    // Every log row must point at exactly its compiled program.
    for (const auto& row : store.Log(1).value_or({})) {
      const auto& compiled = compiledOf[row.profileName];
      bool matches = static_cast<int>(compiled.size()) == row.stop - row.start + 1;
      for (int s = row.start; matches && s <= row.stop; ++s)
        matches = Held(unit, s) == compiled[static_cast<std::size_t>(s - row.start)];
      if (!matches) ++wrongLog;
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("commands %d (uploads %d, downloads %d) in %.1f s\n", commands, (commands + 1) / 2, commands / 2, seconds);
  std::printf("faulted exchanges %d\ncommands that failed cleanly %d\ncommands that succeeded %d (%d of them despite a fault)\n",
              faulted, failedCleanly, succeeded, faultedButSucceeded);
  std::printf("wrong values in ControllerMemory %d\nlog rows not matching the controller %d\n", wrongMemory, wrongLog);
  std::filesystem::remove_all(folder.Root());
  return wrongMemory == 0 && wrongLog == 0 ? 0 : 1;
}
