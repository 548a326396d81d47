#pragma once
// console: a zone's members programmed and run as one command -- upload, select, start, pause,
// restart. Each member in turn gets exactly the console's own workflow, with the console
// pointed at it as the user's choice of channel would; each member's outcome is reported.
// Qt-free; depends on console.

#include <functional>
#include <string>
#include <vector>

#include "console/console.h"

namespace tarvel::console {

enum class ZoneVerb { Upload, Select, Start, Pause, Restart };
const char* ZoneVerbName(ZoneVerb verb);  // "upload", "select", "start", "pause", "restart"

struct ZoneCommand {
  ZoneVerb verb = ZoneVerb::Start;
  std::string profile;             // upload: the profile file; select: the logged profile's name
  std::string startStep;           // upload
  std::string progression = "SV";  // upload
};

struct MemberReport {
  int channel = 0;
  bool done = false;
  std::string text;  // "Zone Furnace, channel 3: started" or "... not started"
};

// Runs command on each member in turn (a member not in the channel map is reported and left
// out); report is told of each member as it finishes. The console then shows the last member.
std::vector<MemberReport> RunZone(Console& console, const std::string& zone, const std::vector<int>& members,
                                  const ZoneCommand& command,
                                  const std::function<void(const MemberReport&)>& report = nullptr);

}  // namespace tarvel::console
