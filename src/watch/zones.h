#pragma once
// watch: zones -- channels grouped as one furnace. The spread of a zone (highest minus lowest
// process value of its members that answered) after each sweep, recorded while any member
// runs to LogFiles/Zone-<name>/, one file per zone run. Qt-free.

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "store/config_store.h"
#include "util/app_folder.h"
#include "util/result.h"
#include "watch/channel_status.h"

namespace tarvel::watch {

struct ZoneSpread {
  std::string zone;
  std::vector<int> channels;     // members in the channel map, in channel order
  std::optional<int> low, high;  // over the members with a good latest reading
  bool running = false;          // at least one member runs a program
  std::optional<int> Spread() const { return low && high ? std::optional<int>(*high - *low) : std::nullopt; }
};

// The zones of rows, with the members that are mapped (statuses holds every mapped channel).
std::vector<ZoneSpread> Spreads(const std::vector<store::ZoneRow>& rows, const std::map<int, ChannelStatus>& statuses);

// Channel -> zone name.
std::map<int, std::string> ZoneOfChannel(const std::vector<store::ZoneRow>& rows);

// The members of zone, or none when there is no such zone.
std::vector<int> ZoneMembers(const std::vector<store::ZoneRow>& rows, const std::string& zone);

// Appends one line per sweep to the zone's file while the zone runs; a new file per run, and
// when the zone's members change (the columns are the members).
class ZoneRecorder {
 public:
  explicit ZoneRecorder(AppFolder folder) : folder_(std::move(folder)) {}
  // The zone's line after a sweep; nothing is written while no member runs.
  Status Record(const ZoneSpread& zone, const std::map<int, ChannelStatus>& statuses, SystemClock::time_point at);
  std::filesystem::path FileOf(const std::string& zone) const;

 private:
  AppFolder folder_;
  struct Run {
    std::filesystem::path file;
    std::vector<int> channels;  // the file's columns
  };
  std::map<std::string, Run> runs_;  // zone -> its run under way
};

}  // namespace tarvel::watch
