#include "link/transfers.h"

#include <algorithm>

namespace tarvel::link {

namespace {

constexpr int kStepWords = 3;
// One past the last step word: a probe stays inside the step area.
constexpr int kStepAreaEnd = reg::kProgramSteps + kStepWords * kStepCount;

int StepOf(int reg) { return (reg - reg::kProgramSteps) / kStepWords + 1; }
int WordOf(int reg) { return (reg - reg::kProgramSteps) % kStepWords + 1; }

TransferFault FaultAt(Outcome outcome, int reg) { return {outcome, StepOf(reg), WordOf(reg)}; }

// Reads registers from..from + words.size() - 1 of the step area into words.
TransferFault ReadWords(CommandSet& commands, std::uint8_t address, int from, std::vector<std::uint16_t>& words,
                        FrameUse& use) {
  // A refused block read makes the rest of this range go in pairs, whatever was known.
  bool blocks = use.blockReadsAllowed && use.known.blockReads != Known::No;
  std::size_t pos = 0;
  while (pos < words.size()) {
    const int reg = from + static_cast<int>(pos);
    const std::size_t left = words.size() - pos;
    bool unanswered = false;  // the probe heard nothing: the two-register read right after says why
    const bool probe = blocks && use.known.blockReads == Known::Untried;
    if (probe || (blocks && left > 2)) {
      // The probe asks for a whole block, so what it proves holds for every block read after it.
      const int start = probe ? std::min(reg, kStepAreaEnd - kBlockRegisters) : reg;
      const int count = probe ? kBlockRegisters : static_cast<int>(std::min<std::size_t>(left, kBlockRegisters));
      auto block = commands.ReadBlock(address, static_cast<std::uint16_t>(start), count);
      if (block.ok()) {
        if (probe) use.known.blockReads = Known::Yes;
        const std::size_t skip = static_cast<std::size_t>(reg - start);
        const std::size_t take = std::min(left, block.value.size() - skip);
        std::copy_n(block.value.begin() + static_cast<std::ptrdiff_t>(skip), take,
                    words.begin() + static_cast<std::ptrdiff_t>(pos));
        pos += take;
        continue;
      }
      const bool refused = block.outcome == Outcome::Exception || (probe && block.outcome == Outcome::BadLength);
      if (refused) {
        // A refusal is final: asked again, a controller that refuses now and then would have
        // every other transfer pay for it.
        use.known.blockReads = Known::No;
        blocks = false;
      } else if (probe && block.outcome == Outcome::NoReply) {
        unanswered = true;
        blocks = false;
      } else if (probe) {
        blocks = false;  // a fault of the line, not an answer: nothing learnt, pairs this time
      } else {
        return FaultAt(block.outcome, reg);
      }
    }
    auto pair = commands.ReadPair(address, static_cast<std::uint16_t>(reg));
    if (!pair.ok()) return FaultAt(pair.outcome, reg);
    // Silent to the block and answering the two-register read: it does not read blocks.
    if (unanswered) use.known.blockReads = Known::No;
    words[pos++] = pair.value.first;
    if (pos < words.size()) words[pos++] = pair.value.second;
  }
  return {};
}

}  // namespace

std::string TransferFault::Describe() const {
  return std::string(beforeWriting ? "reading " : "") + "step " + std::to_string(step) + " word " +
         std::to_string(word) + " (" + std::string(link::Describe(outcome)) + ")";
}

RangeRead ReadStepRange(CommandSet& commands, std::uint8_t address, int first, int last, FrameUse& use) {
  RangeRead result;
  if (first > last) return result;
  if (first < 1 || last > kStepCount) {
    result.fault = {Outcome::NotSent, first, 1};
    return result;
  }
  std::vector<std::uint16_t> words(static_cast<std::size_t>(kStepWords * (last - first + 1)));
  result.fault = ReadWords(commands, address, ProgramStepRegister(first, 1), words, use);
  if (!result.ok()) return result;
  for (std::size_t i = 0; i < words.size(); i += kStepWords)
    result.steps.push_back({DecodeSigned(words[i]), DecodeSigned(words[i + 1]), DecodeSigned(words[i + 2])});
  return result;
}

RangeRead ReadStepRange(CommandSet& commands, std::uint8_t address, int first, int last) {
  FrameUse pairs{{}, false};
  return ReadStepRange(commands, address, first, last, pairs);
}

int ReadStepRangeExchanges(int count, const FrameUse& use) {
  const int words = kStepWords * std::max(0, count);
  if (use.BlockReads() || use.ProbeBlocks()) return (words + kBlockRegisters - 1) / kBlockRegisters;
  return (words + 1) / 2;
}

TransferFault WriteStepRange(CommandSet& commands, std::uint8_t address, int first,
                             const std::vector<ProgramStep>& steps, FrameUse& use) {
  if (steps.empty()) return {};
  const int last = first + static_cast<int>(steps.size()) - 1;
  if (first < 1 || last > kStepCount) return {Outcome::NotSent, first, 1, true};
  // A word the controller cannot hold would also be carried beside the word before it.
  for (std::size_t i = 0; i < steps.size(); ++i)
    for (int word = 1; word <= kStepWords; ++word)
      if (steps[i].Word(word) < -32768 || steps[i].Word(word) > 32767)
        return {Outcome::NotSent, first + static_cast<int>(i), word, true};
  const int count = kStepWords * static_cast<int>(steps.size());
  std::vector<std::uint16_t> words;
  for (const ProgramStep& s : steps)
    for (int word = 1; word <= kStepWords; ++word)
      words.push_back(EncodeSigned(static_cast<std::int16_t>(s.Word(word))));
  const int from = ProgramStepRegister(first, 1);

  Known pairs = use.known.pairWrites;
  // Written word by word, the last word carries the register after the range: the
  // controller's to keep, read once before the first write.
  std::uint16_t after = 0;
  if (pairs != Known::Yes) {
    auto read = commands.ReadPair(address, static_cast<std::uint16_t>(from + count - 1));
    if (!read.ok()) return {read.outcome, last, 3, true};
    after = read.value.second;
  }
  // Only a second word that changes can show whether the controller took it.
  bool learn = false;
  if (pairs == Known::Untried) {
    auto before = commands.ReadPair(address, static_cast<std::uint16_t>(from));
    if (!before.ok()) return {before.outcome, first, 1, true};
    learn = before.value.second != words[1];
  }

  for (int pos = 0; pos < count;) {
    const bool pair = pairs == Known::Yes || learn;
    const int at = pair && pos + 1 == count ? pos - 1 : pos;
    const std::uint16_t next = at + 1 < count ? words[static_cast<std::size_t>(at) + 1] : after;
    const int step = first + at / kStepWords, word = at % kStepWords + 1;
    const Outcome outcome = commands.WriteProgramStepWord(
        address, step, word, steps[static_cast<std::size_t>(at / kStepWords)].Word(word), next);
    // The write's second register is the range's up to its last word; after it, it kept its value.
    const int touched = first + std::min(at + 1, count - 1) / kStepWords;
    if (outcome != Outcome::Ok) return {outcome, step, word, false, touched};
    if (learn) {
      learn = false;
      auto back = commands.ReadPair(address, static_cast<std::uint16_t>(from));
      if (!back.ok()) return {back.outcome, first, 1, false, touched};
      // A first word that did not take either says nothing of the second: word by word, and
      // the compared read-back of the upload shows it.
      if (back.value.first == words[0]) {
        pairs = back.value.second == words[1] ? Known::Yes : Known::No;
        use.known.pairWrites = pairs;
      }
      pos = pairs == Known::Yes ? 2 : 1;
      continue;
    }
    pos = at + (pair ? 2 : 1);
  }
  return {};
}

TransferFault WriteStepRange(CommandSet& commands, std::uint8_t address, int first,
                             const std::vector<ProgramStep>& steps) {
  FrameUse wordByWord{{Known::No, Known::No}, false};
  return WriteStepRange(commands, address, first, steps, wordByWord);
}

int WriteStepRangeExchanges(int count, const FrameUse& use) {
  const int words = kStepWords * std::max(0, count);
  if (words == 0) return 0;
  switch (use.known.pairWrites) {
    case Known::Yes: return (words + 1) / 2;
    case Known::No: return 1 + words;
    case Known::Untried: return 4 + (words - 1) / 2;  // two reads, the first pair and its read-back, then pairs
  }
  return 1 + words;
}

TransferFault ClearStepRange(CommandSet& commands, std::uint8_t address, int first, int last, FrameUse& use) {
  const int count = last >= first ? last - first + 1 : 0;
  return WriteStepRange(commands, address, first, std::vector<ProgramStep>(static_cast<std::size_t>(count)), use);
}

TransferFault ClearStepRange(CommandSet& commands, std::uint8_t address, int first, int last) {
  FrameUse wordByWord{{Known::No, Known::No}, false};
  return ClearStepRange(commands, address, first, last, wordByWord);
}

std::vector<WordMismatch> CompareSteps(int first, const std::vector<ProgramStep>& wrote,
                                       const std::vector<ProgramStep>& read) {
  std::vector<WordMismatch> mismatches;
  for (std::size_t i = 0; i < wrote.size(); ++i) {
    const ProgramStep got = i < read.size() ? read[i] : ProgramStep{};
    for (int word = 1; word <= kStepWords; ++word)
      if (wrote[i].Word(word) != got.Word(word))
        mismatches.push_back({first + static_cast<int>(i), word, wrote[i].Word(word), got.Word(word)});
  }
  return mismatches;
}

}  // namespace tarvel::link
