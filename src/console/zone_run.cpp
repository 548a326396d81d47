#include "console/zone_run.h"

#include <algorithm>

namespace tarvel::console {
namespace {

bool RunOnMember(Console& console, const ZoneCommand& command) {
  RunControl& run = console.RunControls();
  switch (command.verb) {
    case ZoneVerb::Upload: {
      if (!console.Program().OpenProfile(command.profile)) return false;
      console.Program().SetStartStepText(command.startStep);
      console.Program().BuildProgram();
      return console.ProfileUpload()
          .Run({console.Program().Loaded().name, command.startStep, command.progression})
          .logged;
    }
    case ZoneVerb::Select: {
      const auto& rows = console.Log().Rows();
      auto found = std::find_if(rows.begin(), rows.end(),
                                [&](const store::LogRow& r) { return r.profileName == command.profile; });
      if (found == rows.end()) {
        console.Messages().Display("No profile " + command.profile + " in the profile log of this controller");
        return false;
      }
      return run.SelectRunProfile(static_cast<int>(found - rows.begin()) + 1);
    }
    case ZoneVerb::Start: return run.StartProfile();
    case ZoneVerb::Pause: return run.PauseProfile();
    case ZoneVerb::Restart: return run.RestartProfile();
  }
  return false;
}

const char* DoneWord(ZoneVerb verb) {
  switch (verb) {
    case ZoneVerb::Upload: return "uploaded";
    case ZoneVerb::Select: return "selected";
    case ZoneVerb::Start: return "started";
    case ZoneVerb::Pause: return "paused";
    case ZoneVerb::Restart: return "restarted";
  }
  return "";
}

}  // namespace

const char* ZoneVerbName(ZoneVerb verb) {
  switch (verb) {
    case ZoneVerb::Upload: return "upload";
    case ZoneVerb::Select: return "select";
    case ZoneVerb::Start: return "start";
    case ZoneVerb::Pause: return "pause";
    case ZoneVerb::Restart: return "restart";
  }
  return "";
}

std::vector<MemberReport> RunZone(Console& console, const std::string& zone, const std::vector<int>& members,
                                  const ZoneCommand& command, const std::function<void(const MemberReport&)>& report) {
  std::vector<MemberReport> reports;
  auto& selection = console.Selection();
  for (int channel : members) {
    const std::string text = std::to_string(channel);
    selection.LoadChannelLists();
    const auto& channels = selection.Current().channels;
    auto found = std::find(channels.begin(), channels.end(), text);
    MemberReport member{channel, false, "Zone " + zone + ", channel " + text + ": "};
    if (found == channels.end()) {
      member.text += "not in the channel map";
    } else {
      // As the user's choice of the channel: its grids, program limits and run state are loaded.
      selection.SelectIndex(static_cast<int>(found - channels.begin()));
      console.SelectChannel();
      member.done = RunOnMember(console, command);
      member.text += member.done ? DoneWord(command.verb) : std::string("not ") + DoneWord(command.verb);
    }
    if (report) report(member);
    reports.push_back(std::move(member));
  }
  for (const MemberReport& member : reports) console.Messages().Display(member.text);
  return reports;
}

}  // namespace tarvel::console
