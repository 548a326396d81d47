// tarvel-cli: programming a controller from a script -- compile, upload, download, clear and
// the profile log -- through the console's own workflows (ConsoleHost), so a script gets
// exactly what the console's buttons do.
#include <algorithm>
#include <iomanip>

#include "cli/args.h"
#include "cli/cli.h"
#include "cli/console_host.h"
#include "console/profile_program.h"
#include "console/sensor_range.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"

namespace tarvel::cli {

void PrintStepTable(std::ostream& out, int first, const std::vector<link::ProgramStep>& steps) {
  out << "Step  PIDSet  Duration  Temperature\n";
  for (std::size_t i = 0; i < steps.size(); ++i)
    out << std::right << std::setw(4) << first + static_cast<int>(i) << std::setw(8) << steps[i].pidSet << std::setw(10)
        << steps[i].duration << std::setw(13) << steps[i].temperature << "\n";
}

namespace {

constexpr const char* kUsage =
    "usage: tarvel-cli [--home DIR] compile PROFILE START\n"
    "       tarvel-cli [--home DIR] log CHANNEL\n"
    "       tarvel-cli [--home DIR] --port DEVICE upload CHANNEL PROFILE START [--progression SV|PV] [--yes]\n"
    "       tarvel-cli [--home DIR] --port DEVICE download CHANNEL FIRST LAST\n"
    "       tarvel-cli [--home DIR] --port DEVICE clear CHANNEL FIRST LAST\n";

int Compile(Context& ctx, const std::string& file, int start) {
  auto text = profile::LoadProfileFile(file);
  if (!text) {
    ctx.err << "Error: Unable to load profile\n" << text.status().message() << "\n";
    return kExitFailed;
  }
  const profile::ProfileTable table = profile::ParseProfileText(*text);
  const profile::ProfileSettings settings = profile::SettingsOfText(*text);
  // The steps are the output: the checks speak only to refuse.
  struct Lines : profile::MessageSink {
    std::string text;
    void Clear() override {}
    void Display(std::string_view line) override { (text += line) += "\n"; }
  } checks;
  if (!console::CheckProfile(ctx.folder.SensorMenuDatabase(), table, settings, checks)) {
    std::erase(checks.text, '\r');
    ctx.err << checks.text << "Error: " << file << " does not pass the profile checks: nothing is compiled\n";
    return kExitFailed;
  }
  const auto program = console::StepsOfProfile(table, settings, start);
  for (std::size_t j = 0; j < program.steps.size(); ++j) {
    const auto& s = program.steps[j];
    ctx.out << start + static_cast<int>(j) << " " << s.pidSet << " " << s.duration << " " << s.temperature << "\n";
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
  auto address = host.Console().Selection().CurrentAddress();
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

int Upload(Context& ctx, const Args& plain, bool yes, const std::string& progression) {
  ConsoleHost host(ctx, yes);
  if (!host.Open(plain[0])) return kExitFailed;
  console::Console& console = host.Console();
  // A bare name is a profile of the home's Profiles/ when there is no such file here, named
  // with or without its .txt; a missing one is reported as Profiles/NAME.txt, the file looked for.
  std::filesystem::path file = plain[1];
  std::error_code ec;
  if (!file.has_parent_path() && !std::filesystem::exists(file, ec)) {
    file = ctx.folder.Profiles() / plain[1];
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (extension != ".txt" && !std::filesystem::exists(file, ec)) file += ".txt";
  }
  if (!console.Program().OpenProfile(file)) return kExitFailed;
  console.Program().SetStartStepText(plain[2]);
  console.Program().BuildProgram();
  if (!console.Program().ProfileCompiled()) return kExitFailed;  // the checks said why
  auto result = console.ProfileUpload().Run({console.Program().Loaded().name, plain[2], progression});
  return result.logged ? kExitOk : kExitFailed;
}

int Range(Context& ctx, const std::string& verb, const std::string& channel, int first, int last) {
  ConsoleHost host(ctx, true);
  if (!host.Open(channel)) return kExitFailed;
  auto& memory = host.Console().Memory();
  if (verb == "clear") return memory.ClearProgramRange(first, last) ? kExitOk : kExitFailed;
  // The table is what the controller holds; a download that could not store it in the map fails.
  std::vector<link::ProgramStep> read;
  const bool stored = memory.DownloadProgramRange(first, last, &read).has_value();
  if (!read.empty()) PrintStepTable(ctx.out, first, read);
  if (!stored && !read.empty())
    ctx.err << "The memory map of steps " << first << " to " << last << " could not be stored in "
            << host.Store().File().string() << "\n";
  return stored ? kExitOk : kExitFailed;
}

}  // namespace

int ProgramVerbs(Context& ctx, const Args& args) {
  ArgReader in(ctx.err, kUsage, args, 0, {"--yes"}, {"--progression"});
  const std::size_t n = in.Count();
  const std::string verb = n > 0 ? in.Word(0) : "";
  const bool upload = verb == "upload";
  if (!in.ok() || (!upload && (in.Flag("--yes") || in.Option("--progression")))) return in.Usage();
  if (verb == "compile" && n == 3) {
    auto start = in.Whole(2, kStepArg);
    return start ? Compile(ctx, in.Word(1), *start) : in.Usage();
  }
  if (verb == "log" && n == 2) return in.Whole(1, kChannelArg) ? Log(ctx, in.Word(1)) : in.Usage();
  if (verb == "compile" || verb == "log") return in.Usage();
  if (ctx.port.empty()) {
    in.Refuse("--port DEVICE is needed to talk to a controller");
    return in.Usage();
  }
  if (upload && n == 4) {
    const std::string progression = in.Option("--progression").value_or("SV");
    if (progression != "SV" && progression != "PV") in.Refuse("--progression takes SV or PV");
    in.Whole(1, kChannelArg);
    in.Whole(3, kStepArg);
    if (!in.ok()) return in.Usage();
    return Upload(ctx, Args(in.Words().begin() + 1, in.Words().end()), in.Flag("--yes"), progression);
  }
  if ((verb == "download" || verb == "clear") && n == 4) {
    in.Whole(1, kChannelArg);
    auto first = in.Whole(2, kStepArg);
    auto last = in.Whole(3, kStepArg);
    if (first && last && *first > *last)
      in.Refuse("FIRST and LAST must be program steps from 1 to 64, FIRST not after LAST");
    if (!in.ok()) return in.Usage();
    return Range(ctx, verb, in.Word(1), *first, *last);
  }
  return in.Usage();
}

}  // namespace tarvel::cli
