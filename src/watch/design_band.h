#pragma once
// watch: the executing profile's design at a point of its time axis, with the band of its
// Error Limits, as the editor's chart draws them (the band moves linearly from a segment's own
// limit to the next one's), except at the end: the end row has no limit of its own, and the last
// segment keeps its band up to it. Profile files are read once and kept until they change.
// Qt-free; depends on profile.

#include <filesystem>
#include <map>
#include <optional>

#include "profile/profile_table.h"

namespace tarvel::watch {

struct DesignPoint {
  int design = 0;
  // The band; absent where both limits are 0 or empty (no limit was set there) and once the
  // profile has ended.
  std::optional<int> low, high;
};

// The design point of a profile table at time (endTime: its length, ProfileEndTime); nullopt
// when the table cannot be read there.
std::optional<DesignPoint> DesignAt(const profile::ProfileTable& table, int lastRow, double endTime, double time);

class DesignBands {
 public:
  // nullopt when the file is not a readable profile of some length.
  std::optional<DesignPoint> At(const std::filesystem::path& profileFile, double time);

 private:
  struct Design {
    std::filesystem::file_time_type written;
    profile::ProfileTable table;
    int lastRow = 0;
    double endTime = 0;
    bool usable = false;
  };
  const Design& Load(const std::filesystem::path& file);
  std::map<std::filesystem::path, Design> designs_;
};

}  // namespace tarvel::watch
