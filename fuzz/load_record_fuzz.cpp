// Fuzz target: a load record read back and verified, as load verify and load report read it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "watch/load_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto verdict = tarvel::watch::VerifyRecordText(bytes);
  FUZZ_CHECK(verdict.Whole() || !verdict.breaks.front().what.empty());
  const auto record = tarvel::watch::ParseLoadRecord(bytes);
  // A whole record reads back, and the closing hash it was checked by is the one it holds.
  if (verdict.Whole()) {
    FUZZ_CHECK(record.ok());
    FUZZ_CHECK(record->lines == verdict.lines);
    FUZZ_CHECK(record->close.has_value() == verdict.closed);
    if (record->close) FUZZ_CHECK(record->close->finalHash == verdict.finalHash);
  }
  return 0;
}
