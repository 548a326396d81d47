// tarvel-cli --port DEVICE: a technician's look at the controllers on a line, without the console.
#include <array>
#include <iomanip>
#include <optional>
#include <string_view>

#include "cli/args.h"
#include "cli/cli.h"
#include "cli/service_line.h"
#include "controller/run_state_read.h"
#include "link/commands.h"
#include "link/line_scan.h"
#include "link/modbus_rtu_line.h"
#include "link/transfers.h"
#include "service/exchange.h"

namespace tarvel::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarvel-cli --port DEVICE state ADDRESS | step ADDRESS STEP [PID TIME TEMP] | scan\n";

std::string_view RunModeName(int mode) {
  static constexpr std::array<std::string_view, 5> kNames{"SV", "S-SV R/S", "M-SV R/S", "S-PV R/S", "M-PV R/S"};
  return mode >= 0 && mode < static_cast<int>(kNames.size()) ? kNames[static_cast<std::size_t>(mode)] : "unknown";
}

// Prints the failure of one exchange; true when it failed.
bool Failed(Context& ctx, link::Outcome outcome, std::string_view what, std::uint8_t address) {
  if (outcome == link::Outcome::Ok) return false;
  ctx.err << "Reading " << what << " of unit #" << int{address} << " failed: " << link::Describe(outcome) << "\n";
  return true;
}

struct StepWords {
  std::array<std::int16_t, 3> words{};  // PIDSet, Duration, Temperature
};

void PrintStep(Context& ctx, int step, const StepWords& s) {
  PrintStepTable(ctx.out, step, {{s.words[0], s.words[1], s.words[2]}});
}

// Reads the three words of a step; prints the failure and returns nullopt when one fails.
std::optional<StepWords> ReadStep(Context& ctx, link::CommandSet& commands, std::uint8_t address, int step) {
  link::RangeRead read = link::ReadStepRange(commands, address, step, step);
  if (!read.ok()) {
    ctx.err << "Reading step " << step << " word " << read.fault.word << " of unit #" << int{address}
            << " failed: " << link::Describe(read.fault.outcome) << "\n";
    return std::nullopt;
  }
  const link::ProgramStep& s = read.steps.front();
  return StepWords{{static_cast<std::int16_t>(s.pidSet), static_cast<std::int16_t>(s.duration),
                    static_cast<std::int16_t>(s.temperature)}};
}

// The controller's run-state reading, in pairs only: a look at one unit teaches the line nothing.
// The first read that fails ends it, so a unit that is not there costs one reply window.
int State(Context& ctx, link::CommandSet& commands, std::uint8_t address) {
  controller::RunStateRead read(address);
  while (!read.Done())
    if (read.Next(commands) != link::Outcome::Ok) read.GiveUp();
  const controller::RunStateReading& r = read.Reading();
  // In the order the reads are made: the first failure is the one that ended the reading.
  const std::pair<link::Outcome, std::string_view> reads[] = {{r.programLowStep.outcome, "the program limits"},
                                                              {r.currentStep.outcome, "the current step"},
                                                              {r.runMode.outcome, "the run mode"},
                                                              {r.stepTime.outcome, "the step time"},
                                                              {r.profileSetPoint.outcome, "the profile set point"},
                                                              {r.processValue.outcome, "the process value"},
                                                              {r.singleSetPoint.outcome, "the set value"},
                                                              {r.relays.outcome, "the relay states"}};
  for (const auto& [outcome, what] : reads)
    if (Failed(ctx, outcome, what, address)) return kExitFailed;
  const auto& step = r.currentStep;
  const auto& stepTime = r.stepTime;
  const auto& profileSetPoint = r.profileSetPoint;
  const auto& setValue = r.singleSetPoint;
  const auto& processValue = r.processValue;
  const auto& relays = r.relays;
  const auto& runMode = r.runMode;
  const auto& low = r.programLowStep;
  const auto& high = r.programHighStep;

  auto onOff = [](std::uint8_t state) { return state == 1 ? "on" : "off"; };
  ctx.out << std::left << "Unit #" << int{address} << "\n"
          << std::setw(19) << "Step:" << int{step.value} << "\n"
          << std::setw(19) << "Step time:" << stepTime.value << "\n"
          << std::setw(19) << "Profile set point:" << profileSetPoint.value << "\n"
          << std::setw(19) << "Set value:" << setValue.value << "\n"
          << std::setw(19) << "Process value:" << processValue.value << "\n"
          << std::setw(19) << "Relay 1:" << onOff(relays.value.relay1) << "\n"
          << std::setw(19) << "Relay 2:" << onOff(relays.value.relay2) << "\n"
          << std::setw(19) << "Run mode:" << int{runMode.value} << " " << RunModeName(runMode.value) << "\n"
          << std::setw(19) << "Program limits:" << int{low.value} << " to " << int{high.value} << "\n";
  return kExitOk;
}

int Step(Context& ctx, link::CommandSet& commands, std::uint8_t address, int step,
         const std::optional<StepWords>& write) {
  if (write) {
    const StepWords& wanted = *write;
    const link::ProgramStep program{wanted.words[0], wanted.words[1], wanted.words[2]};
    if (auto fault = link::WriteStepRange(commands, address, step, {program}); !fault.ok()) {
      ctx.err << (fault.beforeWriting ? "Reading" : "Writing") << " step " << fault.step << " word " << fault.word
              << " of unit #" << int{address} << " failed: " << link::Describe(fault.outcome)
              << (fault.beforeWriting ? "; nothing was written" : "") << "\n";
      return kExitFailed;
    }
    auto readBack = ReadStep(ctx, commands, address, step);
    if (!readBack) return kExitFailed;
    PrintStep(ctx, step, *readBack);
    if (readBack->words != wanted.words) {
      ctx.err << "Step " << step << " of unit #" << int{address} << " reads back differently from what was written\n";
      return kExitFailed;
    }
    return kExitOk;
  }
  auto words = ReadStep(ctx, commands, address, step);
  if (!words) return kExitFailed;
  PrintStep(ctx, step, *words);
  return kExitOk;
}

int Scan(Context& ctx, link::ModbusRtuLine& line, link::Line* served) {
  auto show = [&ctx](const link::Probe& probe) {
    ctx.out << "Unit #" << int{probe.address} << " " << (probe.present() ? "Detected" : "Not Found");
    // Something answered, but not soundly: worth telling a technician apart from silence.
    if (!probe.present() && probe.outcome != link::Outcome::NoReply)
      ctx.out << " (" << link::Describe(probe.outcome) << ")";
    ctx.out << "\n";
  };
  auto* through = dynamic_cast<service::ExchangeLine*>(served);
  link::ScanResult scan = through ? link::ScanLine([through](std::uint8_t a) { return through->ProbeUnit(a); }, 1,
                                                   link::kProcessValueTableSize, show)
                                  : link::ScanLine(line, 1, link::kProcessValueTableSize, show);
  if (scan.portFailure != link::Outcome::Ok) {
    ctx.err << "Scan stopped at unit #" << scan.probes.size() + 1 << ": " << link::Describe(scan.portFailure) << "\n";
    return kExitFailed;
  }
  std::string list;
  for (std::uint8_t address : scan.Found()) list += " " + std::to_string(address);
  ctx.out << "Scan finished\n"
          << scan.Found().size() << " Found\nFollowing ModBus Addresses Detected: " << list << "\n";
  return kExitOk;
}

}  // namespace

int LineVerbs(Context& ctx, const Args& args) {
  ArgReader in(ctx.err, kUsage, args, 0, {}, {});
  const std::size_t n = in.Count();
  const std::string verb = n > 0 ? in.Word(0) : "";
  const bool shapeOk =
      (verb == "state" && n == 2) || (verb == "step" && (n == 3 || n == 6)) || (verb == "scan" && n == 1);
  if (!in.ok() || !shapeOk || ctx.port.empty()) return in.Usage();

  std::optional<int> address, first;
  std::optional<StepWords> write;
  if (verb != "scan") address = in.Whole(1, kAddressArg);
  if (verb == "step") first = in.Whole(2, kStepArg);
  if (n == 6) {
    write.emplace();
    for (std::size_t i = 0; i < 3; ++i)
      if (auto word = in.Whole(3 + i, kWordArg)) write->words[i] = static_cast<std::int16_t>(*word);
  }
  if (!in.ok()) return in.Usage();

  // Through the line service when one serves the port.
  bool refused = false;
  auto remote = LineThroughService(ctx, refused);
  if (refused) return kExitFailed;
  link::ModbusRtuLine line;
  if (!remote) {
    if (auto opened = line.Open(ctx.port); !opened.ok()) {
      ctx.err << opened.message << "\n";
      return kExitFailed;
    }
  }
  link::CommandSet commands(remote ? static_cast<link::Line&>(*remote) : line);
  if (verb == "state") return State(ctx, commands, static_cast<std::uint8_t>(*address));
  if (verb == "step") return Step(ctx, commands, static_cast<std::uint8_t>(*address), *first, write);
  return Scan(ctx, line, remote.get());
}

}  // namespace tarvel::cli
