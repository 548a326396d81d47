// Fuzz target: worksheet rows read from CSV, and the profile file built from them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "profile/profile_text.h"
#include "profile/worksheet_csv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvel::profile;  // NOLINT: a fuzz target is one function
  std::string_view csv(reinterpret_cast<const char*>(data), size);
  auto table = TableFromCsv(csv);
  if (!table.ok()) {
    FUZZ_CHECK(!table.status().message().empty());
    return 0;
  }
  auto back = TableFromCsv(TableToCsv(*table));
  FUZZ_CHECK(back.ok());
  FUZZ_CHECK(*back == *table);

  // Whatever a CSV holds, the file built from it loads again.
  std::string text = BuildProfileText(*table, ProfileSettings{});
  FUZZ_CHECK(CheckProfileBytes(text).ok());
  FUZZ_CHECK(ParseProfileText(text).at(1, kSeg) == "1");
  return 0;
}
