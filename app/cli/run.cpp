// tarvel-cli --port DEVICE: run control of one channel, through the console's own select,
// start, pause, restart, jump, run mode and program limits workflows.
#include <algorithm>
#include <map>

#include "cli/cli.h"
#include "cli/console_host.h"
#include "util/text.h"

namespace tarvel::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarvel-cli [--home DIR] --port DEVICE select CHANNEL PROFILE [--yes] | start CHANNEL [--front-panel] |"
    " pause CHANNEL | restart CHANNEL | jump CHANNEL SEGMENT TIME | mode CHANNEL CODE | limits CHANNEL LOW HIGH\n";

int Usage(Context& ctx) {
  ctx.err << kUsage;
  return kExitUsage;
}

int Exit(bool done) { return done ? kExitOk : kExitFailed; }

}  // namespace

int RunVerbs(Context& ctx, const Args& args) {
  Args words;
  bool yes = false, frontPanel = false;
  for (const auto& arg : args) {
    if (arg == "--yes")
      yes = true;
    else if (arg == "--front-panel")
      frontPanel = true;
    else if (arg.starts_with("--"))
      return Usage(ctx);
    else
      words.push_back(arg);
  }
  static const std::map<std::string, std::size_t> kWords{{"select", 3}, {"start", 2}, {"pause", 2}, {"restart", 2},
                                                         {"jump", 4},   {"mode", 3},  {"limits", 4}};
  if (words.empty()) return Usage(ctx);
  const std::string& verb = words.front();
  auto arity = kWords.find(verb);
  if (arity == kWords.end() || words.size() != arity->second || (yes && verb != "select") ||
      (frontPanel && verb != "start") || ctx.port.empty())
    return Usage(ctx);
  if ((verb == "jump" || verb == "limits") && !(IsNumber(words[2]) && IsNumber(words[3]))) return Usage(ctx);
  auto code = ToWholeNumber(verb == "mode" ? words[2] : "0", 0, 4);
  if (!code) return Usage(ctx);

  // The verb answers its own box; the mismatch warnings of select need --yes.
  ConsoleHost host(ctx, yes);
  if (verb == "select") host.View().AnswerOk("Run State Parameters Change");
  if (frontPanel) host.View().AnswerOk("Enter Front Panel Start Code 5172");
  if (!host.Open(words[1])) return kExitFailed;
  console::Console& console = host.Console();
  console::RunControl& run = console.Run();

  if (verb == "select") {
    auto address = console.CurrentAddress();
    if (!address) return kExitFailed;
    console.Log().Show(*address);
    const auto& rows = console.Log().Rows();
    auto found = std::find_if(rows.begin(), rows.end(), [&](const store::LogRow& r) { return r.profileName == words[2]; });
    if (found == rows.end()) {
      ctx.err << "No profile " << words[2] << " in the profile log of channel " << words[1] << "\n";
      return kExitFailed;
    }
    return Exit(run.SelectRunProfile(static_cast<int>(found - rows.begin()) + 1));
  }
  if (verb == "start") {
    const bool started = run.StartProfile();
    if (started && frontPanel)
      ctx.out << "Now enter the start code on the controller's front panel: press CIRCLE, enter 5172, press CIRCLE"
                 " (tarvel-sim --auto-start starts the program by itself)\n";
    if (!started && !frontPanel)
      ctx.err << "Not started: --front-panel stands for the operator's start code 5172\n";
    return Exit(started);
  }
  if (verb == "pause" || verb == "restart") {
    console.ReadControllerRunMode();  // what the controller runs now decides both
    return Exit(verb == "pause" ? run.PauseProfile() : run.RestartProfile());
  }
  if (verb == "jump") return Exit(run.JumpToSegmentPoint(words[2], words[3]));
  if (verb == "limits") return Exit(run.UploadProgramLimits(words[2], words[3]));
  console.SetSelectedRunMode(static_cast<int>(*code));
  return Exit(run.SetRunMode());
}

}  // namespace tarvel::cli
