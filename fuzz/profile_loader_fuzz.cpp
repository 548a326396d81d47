// Fuzz target: the profile file loader, through the byte entry point the file loader uses.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "profile/profile_text.h"
#include "profile/verify.h"
#include "profile/worksheet_csv.h"

namespace {

using namespace tarvel::profile;  // NOLINT: a fuzz target is one function

class NullSink : public MessageSink {
 public:
  void Clear() override {}
  void Display(std::string_view) override {}
};

bool WriterLetters(std::string_view text) {
  char t = TemperatureScaleField(text), s = TimeScaleField(text);
  return (t == 'F' || t == 'C') && (s == 'S' || s == 'M' || s == 'H');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string text = ProfileTextFromBytes(bytes);
  ProfileTable table = ParseProfileText(bytes);
  if (text.empty()) {
    FUZZ_CHECK(table == ProfileTable());  // never a partial table
    return 0;
  }
  FUZZ_CHECK(text.size() == kProfileTextLength);
  FUZZ_CHECK(table == ParseProfileText(text));

  // The writer gives back, byte for byte, any file it could have written.
  ProfileSettings settings = SettingsOfText(text);
  if (WriterLetters(text)) FUZZ_CHECK(BuildProfileText(table, settings) == text);

  // The letters a writer never writes are among what the loader refuses as no controller's.
  if (!WriterLetters(text)) FUZZ_CHECK(!CheckProfileNumbers(text).ok());

  NullSink sink;
  VerifyOutcome outcome = VerifyProfile(table, sink, [] { return RangeLimits{-454, 2501}; });
  FUZZ_CHECK(outcome.lastRow == LastProfileRow(table));
  ProfileTable scratch = table;  // an accepted Action letter is stored into it
  for (int row = 1; row <= outcome.lastRow; ++row)
    for (int column = 0; column < kTableColumns; ++column)
      ValidateCellEntry(scratch, row, column, table.at(row, column), sink);

  // Every loaded table goes out as CSV and comes back the same, Seg numbered as the editor does.
  for (int row = 1; row <= kLastSegmentRow; ++row) table.at(row, kSeg) = std::to_string(row);
  auto back = TableFromCsv(TableToCsv(table));
  FUZZ_CHECK(back.ok());
  FUZZ_CHECK(*back == table);
  return 0;
}
