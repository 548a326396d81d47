#include "console/jump.h"

// Besides the point, this file holds RunControl's jump ("Jump To") and the writes that put
// back the program steps a jump changed, which Start Profile uses as well.

#include <algorithm>
#include <functional>
#include <tuple>

#include "console/run_control.h"
#include "console/sequence.h"
#include "util/text.h"

namespace tarvel::console {

namespace {

constexpr const char* kWordNames[] = {"PIDSet", "duration", "temperature"};

const store::MemoryRow* FindStep(const std::vector<store::MemoryRow>& steps, int segment) {
  auto it = std::find_if(steps.begin(), steps.end(), [segment](const store::MemoryRow& r) { return r.segment == segment; });
  return it == steps.end() ? nullptr : &*it;
}

bool ValidLimits(int low, int high) { return low >= 1 && high <= link::kStepCount && low <= high; }

}  // namespace

PointResult ComputeModifiedPoint(const std::vector<store::MemoryRow>& steps, int segment, int time) {
  if (segment < 1 || segment >= kJumpStep) return {{}, PointRefusal::SegmentOutOfRange};
  const store::MemoryRow* step = FindStep(steps, segment);
  if (!step) return {{}, PointRefusal::NoStoredStep};
  if (step->duration <= 0) return {{}, PointRefusal::JumpStep};
  if (time < 0 || step->duration - time <= 0) return {{}, PointRefusal::TimeBeyondSegment};

  // The set point ramps to the next timed step; past the end of memory it holds.
  int next = step->temperature;
  for (int k = segment + 1; k <= link::kStepCount; ++k) {
    const store::MemoryRow* following = FindStep(steps, k);
    if (!following) return {{}, PointRefusal::NoStoredStep};
    if (following->duration >= 0) {
      next = following->temperature;
      break;
    }
  }
  const double slope = static_cast<double>(next - step->temperature) / step->duration;
  const int temperature = step->temperature + static_cast<int>(RoundHalfEven(slope * time));
  return {{step->duration - time, temperature, time}, PointRefusal::None};
}

std::vector<std::string> RefusalLines(PointRefusal refusal) {
  switch (refusal) {
    case PointRefusal::None: return {};
    case PointRefusal::SegmentOutOfRange:
      return {"Segment number not in range of controller program memory", "Must be in range: 1 - 64"};
    case PointRefusal::NoStoredStep: return {"Error: No record set found"};
    case PointRefusal::JumpStep:
      return {"You selected a segment that is a jump instruction", "Choose a segment with a positive time duration entry"};
    case PointRefusal::TimeBeyondSegment: return {"Error: Time selected is greater than segment time"};
  }
  return {};
}

// --- program steps and their Modified flags

bool RunControl::WriteStepWords(Sequence& sequence, std::uint8_t address, int step, std::optional<int> pidSet,
                                int duration, int temperature) {
  auto& commands = context_.commands;
  // Word 3 carries word 1 of the step after it (or the word after step 64), as it stands now.
  auto after = commands.ReadPair(address, link::ProgramStepRegister(step, 3));
  if (!sequence.Read(after.outcome, "the word after step " + Text(step))) return false;
  const auto word = [](int value) { return link::EncodeSigned(static_cast<std::int16_t>(value)); };
  const std::tuple<int, int, std::uint16_t> words[] = {
      {1, pidSet.value_or(0), word(duration)}, {2, duration, word(temperature)}, {3, temperature, after.value.second}};
  for (auto [number, value, next] : words) {
    if (number == 1 && !pidSet) continue;
    const std::string key = "step " + Text(step) + " " + kWordNames[number - 1];
    if (!sequence.Write(commands.WriteProgramStepWord(address, step, number, value, next), key, Text(value)))
      return false;
  }
  return true;
}

bool RunControl::SetStepModified(Sequence& sequence, std::uint8_t address, int step, int value, int jumpTime) {
  const Status set = context_.store.SetStepModified(address, step, value, jumpTime);
  if (set) return true;
  context_.Display("Error: Could  not set Modified field in program database");
  sequence.Refuse("the Modified mark of step " + Text(step) + " could not be " +
                  (value == 1 ? "set, so the step was not written" : "cleared (Start Profile writes the step again)") +
                  ": " + set.message());
  return false;
}

int RunControl::ModifiedCount(std::uint8_t address) {
  return static_cast<int>(context_.store.ModifiedSteps(address).value_or({}).size());
}

bool RunControl::RestoreModifiedSteps(Sequence& sequence, std::uint8_t address) {
  auto rows = context_.store.ModifiedSteps(address);
  if (!rows.ok()) {
    sequence.Refuse("the program memory copy could not be read: " + rows.status().message());
    return false;
  }
  if (rows->empty()) context_.Display("No modified profile lines found");
  for (const auto& row : *rows) {
    // A program write began over the jump's copy (the step is marked Unknown): the stored
    // original no longer belongs there, and only a download tells what the step holds.
    if (row.unknown == 0 &&
        !WriteStepWords(sequence, address, row.segment, std::nullopt, row.duration, row.temperature))
      return false;
    if (!SetStepModified(sequence, address, row.segment, 0)) return false;
  }
  return true;
}

bool RunControl::RestoreStep(Sequence& sequence, std::uint8_t address, int step) {
  auto row = context_.store.MemoryStep(address, step);
  if (!row.ok() || !row->has_value()) {
    context_.Display("Error: No record set found");
    return true;
  }
  if (!WriteStepWords(sequence, address, step, std::nullopt, (*row)->duration, (*row)->temperature)) return false;
  return SetStepModified(sequence, address, step, 0);
}

bool RunControl::RefuseStepSixtyFour(std::pair<int, int> limits) {
  if (limits.second < kJumpStep) return false;
  context_.Display("ERROR: The program limits " + Text(limits.first) + " - " + Text(limits.second) +
                   " include step 64, which the jump borrows to lead the controller into a segment:");
  context_.Display("a program that reaches step 64 cannot be jumped within or restarted. Nothing was sent");
  return true;
}

void RunControl::ShowMemory(std::uint8_t address) { memory_.Refresh(address); }

// --- jump

bool RunControl::JumpToSegmentPoint(const std::string& segmentText, const std::string& timeText) {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  if (!IsNumber(segmentText)) {
    context_.Display("Segment number entered is not a number");
    return false;
  }
  auto segment = ToInt16(segmentText);
  if (!segment || *segment < 1 || *segment >= kJumpStep) {
    for (const auto& line : RefusalLines(PointRefusal::SegmentOutOfRange)) context_.Display(line);
    return false;
  }
  auto stored = context_.store.MemoryStep(*address, *segment);
  const int duration = stored.ok() && stored->has_value() ? (*stored)->duration : 0;
  if (duration <= 0) {
    for (const auto& line : RefusalLines(PointRefusal::JumpStep)) context_.Display(line);
    return false;
  }
  if (!IsNumber(timeText)) {
    context_.Display("The desired time setting you entered is not a number");
    return false;
  }
  auto time = ToInt16(timeText);
  if (!time || *time <= 0 || *time >= duration) {
    context_.Display("you entered a time longer than the duration of the segment you selected");
    return false;
  }
  context_.Display("Computing modified profile point for upload");
  context_.Display("ready to call JumpTo routine");
  return JumpTo(*segment, *time);
}

bool RunControl::JumpTo(int segment, int time) {
  context_.ClearDisplay();
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  // All the store can refuse is refused before the first exchange.
  auto steps = context_.store.Memory(*address);
  const PointResult result = ComputeModifiedPoint(steps.value_or({}), segment, time);
  if (!result.ok()) {
    for (const auto& line : RefusalLines(result.refusal)) context_.Display(line);
    return false;
  }
  auto limits = GetSavedProgramLimits(*address);
  if (!limits) return false;
  if (!ValidLimits(limits->first, limits->second)) {
    context_.Display("ERROR: The stored program limits " + Text(limits->first) + " - " + Text(limits->second) +
                     " are not steps 1 - 64. Use SELECT PROFILE first");
    return false;
  }
  if (RefuseStepSixtyFour(*limits)) return false;
  // The jump computes its point from the stored step and Start puts back step 64 from its row:
  // words the map may not hold are no base for either.
  for (const auto& row : context_.store.UnknownSteps(*address).value_or({}))
    if (row.segment == segment || row.segment == kJumpStep) {
      context_.Display("ERROR: Step " + Text(row.segment) + " of unit #" + Text(*address) +
                       " may hold other words than the memory map: use DownLoad Memory before the jump");
      return false;
    }
  Exchanges exchanges(context_, 28 + 3 * ModifiedCount(*address));
  Sequence sequence(context_, "Jump");
  context_.view.SetLed(Led::Busy);
  const bool done = JumpSequence(sequence, *address, segment, result.point, *limits);
  ShowMemory(*address);
  if (!done) {
    if (sequence.ChangedAnything()) context_.Display("Start Profile puts back the program steps the jump changed");
    return false;
  }
  context_.view.SetLed(Led::Idle);
  context_.Display("Jump done executing");
  return true;
}

bool RunControl::JumpSequence(Sequence& sequence, std::uint8_t address, int segment, const ModifiedPoint& point,
                              std::pair<int, int> savedLimits) {
  auto& commands = context_.commands;
  int lowStep = 0;  // what the low step beside the run mode holds: every mode write keeps it
  auto runMode = [&](int mode) {
    return sequence.Write(commands.WriteRunMode(address, static_cast<std::uint8_t>(mode), static_cast<std::uint8_t>(lowStep)),
                          "run mode", Text(mode));
  };
  auto duration = [&](int step, int value, std::uint16_t temperature) {
    return sequence.Write(commands.WriteProgramStepWord(address, step, 2, value, temperature),
                          "step " + Text(step) + " duration", Text(value));
  };
  // Word 2 and the temperature word beside it, as the controller holds them.
  auto durationAndTemperature = [&](int step) {
    auto words = commands.ReadPair(address, link::ProgramStepRegister(step, 2));
    return sequence.Read(words.outcome, "step " + Text(step)) ? std::optional(words.value) : std::nullopt;
  };

  if (!RestoreModifiedSteps(sequence, address)) return false;
  // Marked before anything of the jump is sent: a jump stopped at any point (a kill too) leaves
  // the steps it may have rewritten marked, their originals in the map for Start to put back.
  // Step 64 too: it may hold the last step of another logged profile. The target keeps where its
  // copy begins, so a reading of the copy's step time is placed on the profile's time axis.
  if (!SetStepModified(sequence, address, segment, 1, point.from) || !SetStepModified(sequence, address, kJumpStep, 1))
    return false;
  auto stepTime = commands.ReadStepTime(address);
  if (!sequence.Read(stepTime.outcome, "the step time")) return false;
  context_.ShowField(Field::CurrentTime, Text(stepTime.value));
  auto modeAndLow = commands.ReadPair(address, link::reg::kRunMode);
  if (!sequence.Read(modeAndLow.outcome, "the run mode")) return false;
  const int savedMode = modeAndLow.value.first & 0xFF;
  lowStep = modeAndLow.value.second;
  if (!runMode(1)) return false;
  auto scale = commands.ReadPair(address, link::reg::kProgramHighStep);  // the scale word beside the high step
  if (!sequence.Read(scale.outcome, "the temperature scale")) return false;
  if (!UploadProgramLimits(sequence, address, 1, link::kStepCount, scale.value.second)) return false;
  lowStep = 1;
  if (!runMode(0)) return false;

  // Held, the program cannot leave its step: the step read now is the one to patch.
  auto current = commands.ReadCurrentStep(address);
  if (!sequence.Read(current.outcome, "the executing step")) return false;
  const int step = current.value;
  // The executing step becomes a jump and must be put back afterwards: it needs its copy.
  // The held program gets back its limits and mode, and the sequence stops with why.
  auto giveUp = [&](const std::function<void()>& refuse) {
    if (UploadProgramLimits(sequence, address, savedLimits.first, savedLimits.second, scale.value.second)) {
      lowStep = savedLimits.first;
      if (runMode(savedMode)) refuse();
    }
    return false;
  };
  auto executingRow = context_.store.MemoryStep(address, step).value_or(std::nullopt);
  const bool restorable = step == segment || (executingRow && executingRow->unknown == 0);
  if (step < 1 || step >= kJumpStep || !restorable) {
    return giveUp([&] {
      sequence.Refuse("the controller reports executing step " + Text(step) +
                      ", which the program memory copy cannot put back");
    });
  }
  // The executing step becomes a jump: marked before it is overwritten, so Start puts it back.
  if (step != segment) {
    const Status marked = context_.store.SetStepModified(address, step, 1);
    if (!marked) {
      context_.Display("Error: Could  not set Modified field in program database");
      return giveUp([&] {
        sequence.Refuse("the Modified mark of step " + Text(step) + " could not be set, so no step was written: " +
                        marked.message());
      });
    }
  }
  auto executing = durationAndTemperature(step);
  if (!executing) return false;
  auto trampoline = durationAndTemperature(kJumpStep);
  if (!trampoline) return false;

  if (!duration(step, -kJumpStep, executing->second)) return false;
  if (!duration(kJumpStep, 1000, trampoline->second)) return false;
  if (!runMode(1) || !runMode(0)) return false;
  if (!duration(kJumpStep, -segment, trampoline->second)) return false;
  if (!WriteStepWords(sequence, address, segment, std::nullopt, point.duration, point.temperature)) return false;
  if (!runMode(1) || !runMode(savedMode)) return false;
  if (step != segment && !RestoreStep(sequence, address, step)) return false;
  if (!UploadProgramLimits(sequence, address, savedLimits.first, savedLimits.second, scale.value.second)) return false;
  lowStep = savedLimits.first;
  if (!runMode(savedMode)) return false;

  // Done only when the controller runs the target: a step that ended on the way, or a
  // program that stopped, is told as it is.
  auto landedTime = commands.ReadStepTime(address);
  if (!sequence.Read(landedTime.outcome, "the step time after the jump")) return false;
  auto landed = commands.ReadCurrentStep(address);
  if (!sequence.Read(landed.outcome, "the executing step after the jump")) return false;
  context_.ShowField(Field::CurrentStep, Text(landed.value));
  context_.ShowField(Field::CurrentTime, Text(landedTime.value));
  if (landed.value != segment) {
    sequence.Refuse("the controller runs step " + Text(landed.value) + " (step time " + Text(landedTime.value) +
                    "), not segment " + Text(segment));
    return false;
  }
  return true;
}

}  // namespace tarvel::console
