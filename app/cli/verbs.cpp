// tarvel-cli: which verb runs a command, for tarvel-cli itself and for the line service's
// workflow requests.
#include "cli/cli.h"

namespace tarvel::cli {

std::optional<int> RunVerb(Context& ctx, const Args& args) {
  const std::string& verb = args.front();
  const bool scanAdd = verb == "scan" && args.size() == 2 && args[1] == "--add";
  if (verb == "state" || verb == "step" || (verb == "scan" && !scanAdd)) return LineVerbs(ctx, args);
  if (verb == "channels" || verb == "channel") return ChannelVerbs(ctx, args);
  if (verb == "profile") return args.size() > 1 && args[1] == "fill" ? ProfileFill(ctx, args) : ProfileVerbs(ctx, args);
  if (verb == "ports" || verb == "port" || verb == "address" || scanAdd) return PortVerbs(ctx, args);
  if (verb == "compile" || verb == "log" || verb == "upload" || verb == "download" || verb == "clear")
    return ProgramVerbs(ctx, args);
  if (verb == "record") return RecordVerb(ctx, args);
  if (verb == "watch") return WatchVerb(ctx, args);
  if (verb == "zones" || verb == "zone") return ZoneVerbs(ctx, args);
  if (verb == "load") return LoadVerbs(ctx, args);
  if (verb == "alarm") return AlarmVerbs(ctx, args);
  if (verb == "select" || verb == "start" || verb == "pause" || verb == "restart" || verb == "jump" || verb == "mode" ||
      verb == "limits" || verb == "setpoint")
    return RunVerbs(ctx, args);
  return std::nullopt;
}

}  // namespace tarvel::cli
