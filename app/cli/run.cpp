// tarvel-cli --port DEVICE: run control of one channel, through the console's own select,
// start, pause, restart, jump, run mode, program limits and single set point workflows; the
// load actions they leave are the console's (watch::LoadActionLog).
#include <algorithm>
#include <map>

#include "cli/args.h"
#include "cli/cli.h"
#include "cli/console_host.h"
#include "cli/load_args.h"
#include "watch/load_start.h"

namespace tarvel::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarvel-cli [--home DIR] --port DEVICE select CHANNEL PROFILE [--yes] |"
    " start CHANNEL [--front-panel] [--field NAME=VALUE]... |\n"
    "         pause CHANNEL | restart CHANNEL | jump CHANNEL SEGMENT TIME | mode CHANNEL CODE | limits CHANNEL LOW "
    "HIGH |\n"
    "         setpoint CHANNEL VALUE\n"
    "       start, pause, restart, jump, mode and setpoint take --operator NAME (default: the login name) for the load "
    "record\n";

int Exit(bool done) { return done ? kExitOk : kExitFailed; }

// select CHANNEL PROFILE: the profile by its name in the channel's profile log.
int SelectProfile(Context& ctx, console::Console& console, const Args& words) {
  auto address = console.Selection().CurrentAddress();
  if (!address) return kExitFailed;
  console.Log().Show(*address);
  const auto& rows = console.Log().Rows();
  auto found = std::find_if(rows.begin(), rows.end(), [&](const store::LogRow& r) {
    return r.profileName == words[2] || r.profileName == words[2] + ".txt";  // the .txt may be left off
  });
  if (found == rows.end()) {
    ctx.err << "No profile " << words[2] << (words[2].ends_with(".txt") ? "" : " (nor " + words[2] + ".txt)")
            << " in the profile log of channel " << words[1] << "\n";
    return kExitFailed;
  }
  return Exit(console.RunControls().SelectRunProfile(static_cast<int>(found - rows.begin()) + 1));
}

// A start not made takes back the load it requested.
int StartProfile(Context& ctx, ConsoleHost& host, int channel, bool frontPanel) {
  const bool started = host.Console().RunControls().StartProfile();
  if (!started) (void)host.Store().DropLoadStarts({channel});
  if (started && frontPanel)
    ctx.out << "Now enter the start code on the controller's front panel: press CIRCLE, enter 5172, press CIRCLE"
               " (tarvel-sim --auto-start starts the program by itself)\n";
  if (!started && !frontPanel) ctx.err << "Not started: --front-panel stands for the operator's start code 5172\n";
  return Exit(started);
}

}  // namespace

int RunVerbs(Context& ctx, const Args& given) {
  Args args = given;
  const LoadArgs load = TakeLoadArgs(args);
  ArgReader in(ctx.err, kUsage, args, 0, {"--yes", "--front-panel"}, {});
  if (!load.fault.empty()) in.Refuse(load.fault);
  const Args& words = in.Words();
  const bool yes = in.Flag("--yes"), frontPanel = in.Flag("--front-panel");
  static const std::map<std::string, std::size_t> kWords{{"select", 3}, {"start", 2}, {"pause", 2},  {"restart", 2},
                                                         {"jump", 4},   {"mode", 3},  {"limits", 4}, {"setpoint", 3}};
  if (!in.ok() || words.empty()) return in.Usage();
  const std::string& verb = words.front();
  auto arity = kWords.find(verb);
  if (arity == kWords.end() || words.size() != arity->second || (yes && verb != "select") ||
      (frontPanel && verb != "start") || ctx.port.empty() || (!load.fields.empty() && verb != "start"))
    return in.Usage();
  in.Whole(1, kChannelArg);
  if (verb == "jump") {
    in.Whole(2, {"SEGMENT", 1, 63});  // step 64 is the jump's own
    in.Whole(3, {"TIME", 0, 32767});
  }
  if (verb == "limits") {
    auto low = in.Whole(2, {"LOW", 1, 64});
    auto high = in.Whole(3, {"HIGH", 1, 64});
    if (low && high && *low > *high) in.Refuse("LOW must not be above HIGH");
  }
  if (verb == "setpoint") (void)in.Whole(2, kWordArg);
  auto code = verb == "mode" ? in.Whole(2, {"CODE", 0, 4}) : 0;
  if (!in.ok()) return in.Usage();

  // The verb answers its own box; the mismatch warnings of select need --yes.
  ConsoleHost host(ctx, yes);
  const int channel = *in.Whole(1, kChannelArg);
  if (verb == "start" && !RequestLoadStart(ctx, host.Store(), {channel}, load)) return kExitFailed;
  if (verb == "select") host.View().AnswerOk("Run State Parameters Change");
  if (frontPanel) host.View().AnswerOk("Enter Front Panel Start Code 5172");
  if (!host.Open(words[1])) return kExitFailed;
  console::Console& console = host.Console();
  console::RunControl& run = console.RunControls();

  if (verb == "select") return SelectProfile(ctx, console, words);
  if (verb == "start") return StartProfile(ctx, host, channel, frontPanel);
  if (verb == "limits") return Exit(run.UploadProgramLimits(words[2], words[3]));
  // The load's record has each action, with who did it, as the console has it.
  watch::LoadActionLog actions(host.Store(), load.operatorName,
                               [&](const std::string& problem) { ctx.err << problem << "\n"; });
  run.Observe(&actions);
  if (verb == "pause" || verb == "restart") {
    console.RunMonitor().ReadControllerRunMode();  // what the controller runs now decides both
    return Exit(verb == "pause" ? run.PauseProfile() : run.RestartProfile());
  }
  if (verb == "setpoint") {
    console.RunMonitor().ReadRunState();  // the value it replaces, as the controller holds it
    return Exit(run.SetValue(words[2]));
  }
  if (verb == "jump") return Exit(run.JumpToSegmentPoint(words[2], words[3]));
  console.RunMonitor().SetSelectedRunMode(static_cast<int>(*code));
  return Exit(run.SetRunMode());
}

}  // namespace tarvel::cli
