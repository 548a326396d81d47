#pragma once
// link: transfers of program step ranges -- read a range, write a program, zero a range --
// shared by the console and tarvel-cli. Each word is one exchange; a transfer stops at its
// first failed exchange and says which step and word it was. A write keeps its neighbour:
// each word carries the next word of the image, and the last one the register after the
// range as one read just before the first write found it.

#include <cstdint>
#include <string>
#include <vector>

#include "link/commands.h"

namespace tarvel::link {

// The three words of one program step, in word order 1..3.
struct ProgramStep {
  std::int32_t pidSet = 0;       // word 1
  std::int32_t duration = 0;     // word 2: time, or a negative jump / event code
  std::int32_t temperature = 0;  // word 3
  std::int32_t Word(int word) const { return word == 1 ? pidSet : word == 2 ? duration : temperature; }
  bool operator==(const ProgramStep&) const = default;
};

// Where a transfer stopped: the exchange of step/word that failed, and how.
struct TransferFault {
  Outcome outcome = Outcome::Ok;
  int step = 0;
  int word = 0;
  bool beforeWriting = false;  // the read before the first write failed: nothing was written
  // The last step the failed write may have changed: its word 3 carries word 1 of the step
  // after it, which a controller storing both registers takes too.
  int lastTouched = 0;
  bool ok() const { return outcome == Outcome::Ok; }
  // "step 12 word 3 (no reply)"
  std::string Describe() const;
};

struct RangeRead {
  std::vector<ProgramStep> steps;  // first..last; whole only when the read succeeded
  TransferFault fault;
  bool ok() const { return fault.ok(); }
};

// Reads steps first..last (nothing when first > last), word 1 to 3 of each.
RangeRead ReadStepRange(CommandSet& commands, std::uint8_t address, int first, int last);
// Reads the register after the range (one exchange), then writes steps[0] at program step
// first, steps[1] at first + 1, ..., word 1 to 3 of each.
TransferFault WriteStepRange(CommandSet& commands, std::uint8_t address, int first,
                             const std::vector<ProgramStep>& steps);
// Exchanges of WriteStepRange for count steps.
inline int WriteStepRangeExchanges(int count) { return count > 0 ? 1 + 3 * count : 0; }
// Writes 0 into every word of steps first..last.
TransferFault ClearStepRange(CommandSet& commands, std::uint8_t address, int first, int last);

// One word that read back differently from what was written.
struct WordMismatch {
  int step = 0;
  int word = 0;
  std::int32_t wrote = 0;
  std::int32_t read = 0;
  bool operator==(const WordMismatch&) const = default;
};
// Compares a program written at first with what was read back from first on, word by word.
std::vector<WordMismatch> CompareSteps(int first, const std::vector<ProgramStep>& wrote,
                                       const std::vector<ProgramStep>& read);

}  // namespace tarvel::link
