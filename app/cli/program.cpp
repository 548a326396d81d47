// tarvel-cli: programming a controller from a script -- compile, upload, download, clear and
// the profile log -- through the console's own workflows (ConsoleHost), so a script gets
// exactly what the console's buttons do.
#include <iomanip>

#include "cli/cli.h"
#include "cli/console_host.h"
#include "console/compile.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "util/text.h"

namespace tarvel::cli {

void PrintStepTable(std::ostream& out, int first, const std::vector<link::ProgramStep>& steps) {
  out << "Step  PIDSet  Duration  Temperature\n";
  for (std::size_t i = 0; i < steps.size(); ++i)
    out << std::right << std::setw(4) << first + static_cast<int>(i) << std::setw(8) << steps[i].pidSet
        << std::setw(10) << steps[i].duration << std::setw(13) << steps[i].temperature << "\n";
}

namespace {

constexpr const char* kUsage =
    "usage: tarvel-cli [--home DIR] compile PROFILE START\n"
    "       tarvel-cli [--home DIR] log CHANNEL\n"
    "       tarvel-cli [--home DIR] --port DEVICE upload CHANNEL PROFILE START [--progression SV|PV] [--yes]\n"
    "       tarvel-cli [--home DIR] --port DEVICE download CHANNEL FIRST LAST\n"
    "       tarvel-cli [--home DIR] --port DEVICE clear CHANNEL FIRST LAST\n";

int Usage(Context& ctx, const char* why = nullptr) {
  if (why) ctx.err << why << "\n";
  ctx.err << kUsage;
  return kExitUsage;
}

std::optional<int> Step(const std::string& text) {
  auto value = ToWholeNumber(text, 1, link::kStepCount);
  return value ? std::optional<int>(static_cast<int>(*value)) : std::nullopt;
}

int Compile(Context& ctx, const std::string& file, const std::string& startText) {
  auto start = Step(startText);
  if (!start) return Usage(ctx, "START must be a program step from 1 to 64");
  auto text = profile::LoadProfileFile(file);
  if (!text) {
    ctx.err << "Error: Unable to load profile\n" << text.status().message() << "\n";
    return kExitFailed;
  }
  const auto program = console::CompileProfile(profile::ParseProfileText(*text), profile::SettingsOfText(*text), *start);
  for (std::size_t j = 0; j < program.steps.size(); ++j) {
    const auto& s = program.steps[j];
    ctx.out << *start + static_cast<int>(j) << " " << s.pidSet << " " << s.duration << " " << s.temperature << "\n";
  }
  if (program.truncated) ctx.err << "The profile needs more than 64 program steps; steps past 64 were dropped\n";
  if (program.LastStep() > link::kStepCount) {
    ctx.err << "End address of compiled profile is out of range of controller memory 1 to 64\n";
    return kExitFailed;
  }
  if (program.LastStep() == link::kStepCount) ctx.err << console::kReachesStepSixtyFour << "\n";
  return kExitOk;
}

int Log(Context& ctx, const std::string& channel) {
  ConsoleHost host(ctx, false);
  if (!host.Open(channel)) return kExitFailed;
  auto address = host.Console().CurrentAddress();
  if (!address) return kExitFailed;
  auto rows = host.Store().Log(*address);
  if (!rows) {
    ctx.err << rows.status().message() << "\n";
    return kExitFailed;
  }
  ctx.out << "Unit Addr  Profile                Start  Stop  Sensor  Temp Scale  Time Scale  Progress\n";
  for (const auto& r : *rows)
    ctx.out << std::left << std::setw(11) << r.modbusAddress << std::setw(23) << r.profileName << std::setw(7)
            << r.start << std::setw(6) << r.stop << std::setw(8) << r.sensorType << std::setw(12)
            << r.temperatureScaleType << std::setw(12) << r.timeScaleType << r.progressionType << "\n";
  return kExitOk;
}

int Upload(Context& ctx, const Args& args) {
  std::string progression = "SV";
  bool yes = false;
  Args plain;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--yes") {
      yes = true;
    } else if (args[i] == "--progression" && i + 1 < args.size() && (args[i + 1] == "SV" || args[i + 1] == "PV")) {
      progression = args[++i];
    } else if (args[i].starts_with("--")) {
      return Usage(ctx, "--progression takes SV or PV");
    } else {
      plain.push_back(args[i]);
    }
  }
  if (plain.size() != 3) return Usage(ctx);
  if (!Step(plain[2])) return Usage(ctx, "START must be a program step from 1 to 64");

  ConsoleHost host(ctx, yes);
  if (!host.Open(plain[0])) return kExitFailed;
  console::Console& console = host.Console();
  if (!console.OpenProfile(plain[1])) return kExitFailed;
  console.SetStartStepText(plain[2]);
  console.Compiler().Compile();
  auto result = console.UploadProfile({console.Compiler().Loaded().name, plain[2], progression});
  return result.logged ? kExitOk : kExitFailed;
}

int Range(Context& ctx, const std::string& verb, const Args& args) {
  auto first = Step(args[2]);
  auto last = Step(args[3]);
  if (!first || !last || *first > *last)
    return Usage(ctx, "FIRST and LAST must be program steps from 1 to 64, FIRST not after LAST");
  ConsoleHost host(ctx, true);
  if (!host.Open(args[1])) return kExitFailed;
  auto& memory = host.Console().Memory();
  if (verb == "clear") return memory.ClearProgramRange(*first, *last) ? kExitOk : kExitFailed;
  auto steps = memory.DownloadProgramRange(*first, *last);
  if (!steps) return kExitFailed;
  PrintStepTable(ctx.out, *first, *steps);
  return kExitOk;
}

}  // namespace

int ProgramVerbs(Context& ctx, const Args& args) {
  const std::string& verb = args.at(0);
  if (verb == "compile") return args.size() == 3 ? Compile(ctx, args[1], args[2]) : Usage(ctx);
  if (verb == "log") return args.size() == 2 ? Log(ctx, args[1]) : Usage(ctx);
  if (ctx.port.empty()) return Usage(ctx, "--port DEVICE is needed to talk to a controller");
  if (verb == "upload") return Upload(ctx, args);
  if ((verb == "download" || verb == "clear") && args.size() == 4) return Range(ctx, verb, args);
  return Usage(ctx);
}

}  // namespace tarvel::cli
