#pragma once
// Profiles for tests: worksheet rows written as the editor fills them.

#include <filesystem>
#include <string>

#include "support/profiles.h"

namespace tarvel::testing {

using Row = ProfileRow;

// Rows 1.. in order; every row 1..255 carries its Seg number as in the editor.
inline profile::ProfileTable MakeTable(const std::vector<Row>& rows) {
  profile::ProfileTable table = TableOf(rows);
  for (int r = 1; r <= profile::kLastSegmentRow; ++r) table.at(r, profile::kSeg) = std::to_string(r);
  return table;
}

// The profile of data/kiln_profile.txt: two ramps around a hold, then the end row.
inline profile::ProfileTable KilnTable() {
  return MakeTable({
      {"1", "0.00", "60", "r", "70", "250", "3.00", "10", "C=2 J1=on  ", "t=30"},
      {"2", "60.00", "120", "h", "250", "250", "0", "10",
       "Hold at 250\xB0"
       "F",
       ""},
      {"3", "180.00", "30", "r", "250", "100", "-5.00", "20", "J1=off", "T=450"},
      {"4", "210.00", "", "e", "100", "", "", "", "", ""},
  });
}

// Written byte by byte from the file layout by a separate script, not by this code.
inline std::filesystem::path KilnProfileFile() { return std::filesystem::path(TARVEL_TEST_DATA) / "kiln_profile.txt"; }

}  // namespace tarvel::testing
