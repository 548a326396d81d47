#pragma once
// A small profile file the programming tests upload: 70 -> 250 over 30 minutes, hold 250 for
// 45 with PID set 2, end at 100 (K, Fahrenheit, minutes). It compiles to three steps:
// (1, 30, 70), (2, 45, 250), (1, 0, 100).

#include <array>
#include <filesystem>
#include <vector>

#include "profile/profile_file.h"
#include "profile/profile_text.h"

namespace tarvel::testing {

using ProfileRow = std::array<const char*, profile::kTableColumns>;  // Seg .. Notify as the worksheet shows them

inline profile::ProfileTable TableOf(const std::vector<ProfileRow>& rows) {
  profile::ProfileTable table;
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (int c = 0; c < profile::kTableColumns; ++c)
      table.at(static_cast<int>(i) + 1, c) = rows[i][static_cast<std::size_t>(c)];
  return table;
}

inline bool WriteCureProfile(const std::filesystem::path& file) {
  const auto table = TableOf({ProfileRow{"1", "0", "30", "r", "70", "250", "6", "10", "", ""},
                              ProfileRow{"2", "30", "45", "h", "250", "250", "0", "10", "C=2", ""},
                              ProfileRow{"3", "75", "", "e", "100", "", "", "", "", ""}});
  return profile::SaveProfileText(file, profile::BuildProfileText(table, {})).ok();
}

}  // namespace tarvel::testing
