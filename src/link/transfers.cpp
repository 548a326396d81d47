#include "link/transfers.h"

namespace tarvel::link {

std::string TransferFault::Describe() const {
  return std::string(beforeWriting ? "reading " : "") + "step " + std::to_string(step) + " word " +
         std::to_string(word) + " (" + std::string(link::Describe(outcome)) + ")";
}

RangeRead ReadStepRange(CommandSet& commands, std::uint8_t address, int first, int last) {
  RangeRead result;
  for (int step = first; step <= last; ++step) {
    ProgramStep s;
    for (int word = 1; word <= 3; ++word) {
      auto reply = commands.ReadProgramStepWord(address, step, word);
      if (!reply.ok()) {
        result.fault = {reply.outcome, step, word};
        return result;
      }
      (word == 1 ? s.pidSet : word == 2 ? s.duration : s.temperature) = reply.value;
    }
    result.steps.push_back(s);
  }
  return result;
}

TransferFault WriteStepRange(CommandSet& commands, std::uint8_t address, int first,
                             const std::vector<ProgramStep>& steps) {
  if (steps.empty()) return {};
  const int last = first + static_cast<int>(steps.size()) - 1;
  if (first < 1 || last > kStepCount) return {Outcome::NotSent, first, 1, true};
  // A word the controller cannot hold would also be carried beside the word before it.
  for (std::size_t i = 0; i < steps.size(); ++i)
    for (int word = 1; word <= 3; ++word)
      if (steps[i].Word(word) < -32768 || steps[i].Word(word) > 32767)
        return {Outcome::NotSent, first + static_cast<int>(i), word, true};
  // The word after the range is the controller's to keep: read once, written back beside the last word.
  auto after = commands.ReadPair(address, ProgramStepRegister(last, 3));
  if (!after.ok()) return {after.outcome, last, 3, true};
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const int step = first + static_cast<int>(i);
    for (int word = 1; word <= 3; ++word) {
      std::uint16_t next = after.value.second;
      if (word < 3)
        next = EncodeSigned(static_cast<std::int16_t>(steps[i].Word(word + 1)));
      else if (i + 1 < steps.size())
        next = EncodeSigned(static_cast<std::int16_t>(steps[i + 1].pidSet));
      Outcome outcome = commands.WriteProgramStepWord(address, step, word, steps[i].Word(word), next);
      if (outcome != Outcome::Ok) return {outcome, step, word, false, word == 3 && step < last ? step + 1 : step};
    }
  }
  return {};
}

TransferFault ClearStepRange(CommandSet& commands, std::uint8_t address, int first, int last) {
  const int count = last >= first ? last - first + 1 : 0;
  return WriteStepRange(commands, address, first, std::vector<ProgramStep>(static_cast<std::size_t>(count)));
}

std::vector<WordMismatch> CompareSteps(int first, const std::vector<ProgramStep>& wrote,
                                       const std::vector<ProgramStep>& read) {
  std::vector<WordMismatch> mismatches;
  for (std::size_t i = 0; i < wrote.size(); ++i) {
    const ProgramStep got = i < read.size() ? read[i] : ProgramStep{};
    for (int word = 1; word <= 3; ++word)
      if (wrote[i].Word(word) != got.Word(word))
        mismatches.push_back({first + static_cast<int>(i), word, wrote[i].Word(word), got.Word(word)});
  }
  return mismatches;
}

}  // namespace tarvel::link
