#pragma once
// link: transfers of program step ranges -- read a range, write a program, zero a range --
// shared by the console and tarvel-cli. A transfer stops at its first failed exchange and says
// which step and word it was. Both registers of every read count: a step's three words take
// one and a half reads. With a FrameUse, a controller that stores both registers of a write
// takes two words per write, and one that answers block reads gives up to kBlockRegisters
// words per read; what a transfer learns of the controller it leaves in the FrameUse.
// A write keeps its neighbour: each word carries the next word of the image; written word by
// word, the last one carries the register after the range as one read just before the first
// write found it.

#include <cstdint>
#include <string>
#include <vector>

#include "link/capabilities.h"
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

// Reads steps first..last (nothing when first > last): pairs of registers, or blocks where
// use.BlockReads(). When block reads are untried, the first read is the probe, a block of
// kBlockRegisters in the step area: a good reply makes them known (Yes); an exception, a reply
// of the wrong length, or no reply while the two-register read right after is answered, make
// them refused (No); a fault of the line teaches nothing. A known block read that is refused
// (an exception) makes them refused for good; this range goes on with pairs.
RangeRead ReadStepRange(CommandSet& commands, std::uint8_t address, int first, int last, FrameUse& use);
// Pairs only, nothing learnt.
RangeRead ReadStepRange(CommandSet& commands, std::uint8_t address, int first, int last);
// About how many exchanges ReadStepRange makes for count steps (the progress of a command).
int ReadStepRangeExchanges(int count, const FrameUse& use);

// Writes steps[0] at program step first, steps[1] at first + 1, ..., word 1 to 3 of each.
// With use.PairWrites(), two words per write; an odd last word goes with the word before it,
// written again, so the register after the range is never touched. Otherwise word by word,
// after one read of the register after the range. When pair writes are untried, the pair at
// the start of the range is read before the first write and, when its second word changes,
// again after it: both words in place make pair writes known (Yes) and the rest goes in pairs;
// the first word alone makes them refused (No) and the rest goes word by word.
TransferFault WriteStepRange(CommandSet& commands, std::uint8_t address, int first,
                             const std::vector<ProgramStep>& steps, FrameUse& use);
// Word by word, nothing learnt.
TransferFault WriteStepRange(CommandSet& commands, std::uint8_t address, int first,
                             const std::vector<ProgramStep>& steps);
// About how many exchanges WriteStepRange makes for count steps.
int WriteStepRangeExchanges(int count, const FrameUse& use);
inline int WriteStepRangeExchanges(int count) {
  return WriteStepRangeExchanges(count, FrameUse{{Known::No, Known::No}});
}
// Writes 0 into every word of steps first..last.
TransferFault ClearStepRange(CommandSet& commands, std::uint8_t address, int first, int last, FrameUse& use);
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
