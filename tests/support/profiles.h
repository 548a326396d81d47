#pragma once
// A small profile file the programming tests upload: 70 -> 250 over 30 minutes, hold 250 for
// 45 with PID set 2, end (K, Fahrenheit, minutes). It compiles to three steps:
// (1, 30, 70), (2, 45, 250), (1, 0, 250).

#include <array>
#include <filesystem>
#include <string>
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
                              ProfileRow{"3", "75", "", "e", "250", "", "", "", "", ""}});
  return profile::SaveProfileText(file, profile::BuildProfileText(table, {})).ok();
}

// Three segments of 1000 minutes in all, so 1000 chart samples fall on whole minutes:
// 100 -> 500 over 400 (limit 10), hold 500 for 300 (no limit), 500 -> 200 over 300 (limit 20).
// Every row 1..255 carries its Seg number, as in the editor.
inline profile::ProfileTable ThreeSegmentTable() {
  profile::ProfileTable table = TableOf({ProfileRow{"1", "0.00", "400", "r", "100", "500", "1.00", "10", "", ""},
                                         ProfileRow{"2", "400.00", "300", "h", "500", "500", "0.00", "", "", ""},
                                         ProfileRow{"3", "700.00", "300", "r", "500", "200", "-1.00", "20", "", ""},
                                         ProfileRow{"4", "1000.00", "", "e", "200", "", "", "", "", ""}});
  for (int r = 1; r <= profile::kLastSegmentRow; ++r) table.at(r, profile::kSeg) = std::to_string(r);
  return table;
}

}  // namespace tarvel::testing
