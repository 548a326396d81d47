// RunControl's jump ("Jump To") and the writes that put back the program steps a jump
// changed, which Start Profile uses as well.
#include <algorithm>
#include <functional>
#include <optional>
#include <tuple>

#include "console/records.h"
#include "console/run_control.h"
#include "console/sequence.h"
#include "util/text.h"

namespace tarvel::console {

namespace {

constexpr const char* kWordNames[] = {"PIDSet", "duration", "temperature"};

bool ValidLimits(int low, int high) { return low >= 1 && high <= link::kStepCount && low <= high; }

// The step the last stored reading found running, where that reading is one of a program running
// within these limits. The row of a selection holds step 0 until its first reading, and a reading
// of a program on other steps names a step the controller is not running now: neither is named.
std::optional<int> StepStoredRunning(store::ConfigStore& store, std::uint8_t address, std::pair<int, int> limits) {
  auto stored = store.ControllerConfig(address);
  if (!stored.ok() || !stored->has_value()) return std::nullopt;
  const store::ControllerConfigRow& row = **stored;
  const bool running = row.runMode >= 1 && row.runMode <= 4;
  if (!running || row.segmentExecuting < limits.first || row.segmentExecuting > limits.second) return std::nullopt;
  return row.segmentExecuting;
}

}  // namespace

std::vector<std::string> RefusalLines(PointRefusal refusal) {
  switch (refusal) {
    case PointRefusal::None: return {};
    case PointRefusal::SegmentOutOfRange:
      return {"Segment number not in range of controller program memory", "Must be in range: 1 - 64"};
    case PointRefusal::NoStoredStep: return {"Error: No record set found"};
    case PointRefusal::JumpStep:
      return {"You selected a segment that is a jump instruction",
              "Choose a segment with a positive time duration entry"};
    case PointRefusal::TimeBeyondSegment: return {"Error: Time selected is greater than segment time"};
  }
  return {};
}

// --- program steps and their Modified flags

namespace {

std::uint16_t Word16(int value) { return link::EncodeSigned(static_cast<std::int16_t>(value)); }

}  // namespace

bool RunControl::WriteStepWords(Sequence& sequence, std::uint8_t address, int step, int duration, int temperature,
                                const link::FrameUse& frames, bool verify) {
  auto& commands = context_.commands;
  const std::string key = "step " + Text(step) + " ";
  // Known to keep both registers: word 2 carries word 3. Else word 3 is written on its own,
  // carrying word 1 of the step after it (or the word after step 64) as it stands now.
  std::optional<link::Reply<link::RegisterPair>> after;
  if (!frames.PairWrites()) {
    after = commands.ReadPair(address, link::ProgramStepRegister(step, 3));
    if (!sequence.Read(after->outcome, "the word after step " + Text(step))) return false;
  }
  if (!sequence.Write(commands.WriteProgramStepWord(address, step, 2, duration, Word16(temperature)),
                      key + kWordNames[1], Text(duration)))
    return false;
  if (after && !sequence.Write(commands.WriteProgramStepWord(address, step, 3, temperature, after->value.second),
                               key + kWordNames[2], Text(temperature)))
    return false;
  if (frames.PairWrites()) sequence.Holds(key + kWordNames[2], Text(temperature));  // carried by word 2
  return !verify || ReadBackStep(sequence, address, step, duration, temperature);
}

bool RunControl::ReadBackStep(Sequence& sequence, std::uint8_t address, int step, int duration, int temperature) {
  auto words = context_.commands.ReadPair(address, link::ProgramStepRegister(step, 2));
  const std::string key = "step " + Text(step) + " ";
  return sequence.Read(words.outcome, key + "back") &&
         sequence.ReadBack(address, key + kWordNames[1], Text(duration), Text(link::DecodeSigned(words.value.first))) &&
         sequence.ReadBack(address, key + kWordNames[2], Text(temperature),
                           Text(link::DecodeSigned(words.value.second)));
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

bool RunControl::RestoreModifiedSteps(Sequence& sequence, std::uint8_t address, const link::FrameUse& frames,
                                      const std::vector<int>& keep) {
  auto rows = context_.store.ModifiedSteps(address);
  if (!rows.ok()) {
    sequence.Refuse("the program memory copy could not be read: " + rows.status().message());
    return false;
  }
  std::vector<store::MemoryRow> restore;
  for (const auto& row : *rows)
    if (std::find(keep.begin(), keep.end(), row.segment) == keep.end()) restore.push_back(row);
  if (restore.empty()) context_.Display("No modified profile lines found");
  for (const auto& row : restore) {
    // A program write began over the jump's copy (the step is marked Unknown): the stored
    // original no longer belongs there, and only a download tells what the step holds. The
    // mark goes only once the original reads back: until then Start puts it back again.
    if (row.unknown == 0 &&
        !WriteStepWords(sequence, address, row.segment, row.duration, row.temperature, frames, true))
      return false;
    if (!SetStepModified(sequence, address, row.segment, 0)) return false;
  }
  return true;
}

bool RunControl::RefuseStepSixtyFour(std::pair<int, int> limits) {
  if (limits.second < kJumpStep) return false;
  context_.Display("ERROR: The program limits " + Text(limits.first) + " - " + Text(limits.second) +
                   " include step 64, which the jump borrows to lead the controller into a segment:");
  context_.Display("a program that reaches step 64 cannot be jumped within or restarted. Nothing was sent");
  return true;
}

void RunControl::ShowMemory(std::uint8_t address) { memory_.Refresh(address); }

bool RunControl::ReadStepsForPoint(std::uint8_t address, int segment) {
  for (int step = segment; step >= 1 && step <= link::kStepCount; ++step) {
    auto row = context_.store.MemoryStep(address, step);
    if (!Recorded(context_, row.status(), "The program memory copy could not be read")) return false;
    if (!row->has_value() || (*row)->unknown != 0) {
      auto read = memory_.ReadProgramRange(address, step, step);
      if (!read || !memory_.StoreRead(address, step, *read)) return false;
      row = context_.store.MemoryStep(address, step);
      if (!Recorded(context_, row.status(), "The program memory copy could not be read") || !row->has_value())
        return false;
    }
    // The point needs the segment, if timed, and the steps up to the next one that is not a jump.
    if (step == segment ? (*row)->duration <= 0 : (*row)->duration >= 0) break;
  }
  return true;
}

// --- jump

bool RunControl::JumpToSegmentPoint(const std::string& segmentText, const std::string& timeText) {
  return Act(RunAction::Jump, [&] { return JumpPointSteps(segmentText, timeText); });
}

bool RunControl::JumpPointSteps(const std::string& segmentText, const std::string& timeText) {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  last_.address = *address;
  if (!IsNumber(segmentText)) {
    context_.Display("Segment number entered is not a number");
    return false;
  }
  auto segment = ToInt16(segmentText);
  if (!segment || *segment < 1 || *segment >= kJumpStep) {
    for (const auto& line : RefusalLines(PointRefusal::SegmentOutOfRange)) context_.Display(line);
    return false;
  }
  // The checks below go by the stored step: one the map may not hold is read first.
  if (!ReadStepsForPoint(*address, *segment)) return false;
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

bool RunControl::JumpSteps(int segment, int time) {
  context_.ClearDisplay();
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  last_.address = *address;
  // The steps the point needs are in the map, read if need be; all the store can refuse is
  // refused before the first write.
  if (segment >= 1 && segment < kJumpStep && !ReadStepsForPoint(*address, segment)) return false;
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
  last_.stepBefore = StepStoredRunning(context_.store, *address, *limits);
  last_.jumpPoint = {segment, time};
  Begins();
  Exchanges exchanges(context_, 22 + 2 * ModifiedCount(*address));
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

// One jump under way: where it leads, what it finds on the way, and its writes of the run mode,
// the program limits and a step's duration. Where the controller is known to keep both registers
// of a write, each write carries what the register after it is to hold and goes alone; elsewhere
// the second register is written too.
struct RunControl::Jump {
  Context& context;
  Sequence& sequence;
  std::uint8_t address;
  int segment;
  ModifiedPoint point;
  std::pair<int, int> savedLimits;
  link::FrameUse frames;
  int lowStep = 0;          // what the low step beside the run mode holds: every mode write keeps it
  std::uint16_t scale = 0;  // the word beside the high step, read where a high step is written alone
  int savedMode = 0;
  int step = 0;  // the executing step, read while the program is held: the step the jump leaves
  std::optional<store::MemoryRow> executingRow{};  // its stored original
  int trampolineTemperature = 0;

  bool Pairs() const { return frames.PairWrites(); }

  bool RunMode(int mode) {
    return sequence.Write(
        context.commands.WriteRunMode(address, static_cast<std::uint8_t>(mode), static_cast<std::uint8_t>(lowStep)),
        "run mode", Text(mode));
  }

  bool Limits(int low, int high) {
    const std::string value = Text(low) + " - " + Text(high);
    // Known to keep both registers, the low step carries the high one.
    const link::Outcome written =
        Pairs() ? context.line.WriteRegisters(address, link::reg::kProgramLowStep, static_cast<std::uint16_t>(low),
                                              static_cast<std::uint16_t>(high))
                : context.commands.WriteProgramLimits(address, static_cast<std::uint8_t>(low),
                                                      static_cast<std::uint8_t>(high), scale);
    if (!sequence.Write(written, "program limits", value)) return false;
    lowStep = low;
    return true;
  }

  bool Duration(int at, int value, int temperature) {
    return sequence.Write(context.commands.WriteProgramStepWord(address, at, 2, value, Word16(temperature)),
                          "step " + Text(at) + " duration", Text(value));
  }
};

bool RunControl::JumpSequence(Sequence& sequence, std::uint8_t address, int segment, const ModifiedPoint& point,
                              std::pair<int, int> savedLimits) {
  Jump jump{context_, sequence, address, segment, point, savedLimits, context_.FramesFor(address)};
  // Marked before anything of the jump is sent: a jump stopped at any point (a kill too) leaves
  // the steps it may have rewritten marked, their originals in the map for Start to put back.
  // Step 64 too: it may hold the last step of another logged profile. The target keeps where its
  // copy begins, so a reading of the copy's step time is placed on the profile's time axis.
  if (!SetStepModified(sequence, address, segment, 1, point.from) || !SetStepModified(sequence, address, kJumpStep, 1))
    return false;
  if (!HoldProgram(jump) || !TakeExecutingStep(jump)) return false;
  // Steps an earlier jump changed get their originals back, but for those this jump rewrites.
  if (!RestoreModifiedSteps(sequence, address, jump.frames, {jump.step, segment, kJumpStep})) return false;
  return ReadTrampolineTemperature(jump) && WriteJump(jump) && JumpLanded(jump);
}

bool RunControl::HoldProgram(Jump& jump) {
  auto& commands = context_.commands;
  auto modeAndLow = commands.ReadPair(jump.address, link::reg::kRunMode);
  if (!jump.sequence.Read(modeAndLow.outcome, "the run mode")) return false;
  jump.savedMode = link::ByteOf(modeAndLow.value.first);
  jump.lowStep = modeAndLow.value.second;
  if (!jump.Pairs()) {
    auto highAndScale = commands.ReadPair(jump.address, link::reg::kProgramHighStep);
    if (!jump.sequence.Read(highAndScale.outcome, "the temperature scale")) return false;
    jump.scale = highAndScale.value.second;
  }
  return jump.RunMode(1) && jump.Limits(1, link::kStepCount) && jump.RunMode(0);
}

bool RunControl::TakeExecutingStep(Jump& jump) {
  Sequence& sequence = jump.sequence;
  // Held, the program cannot leave its step: the step read now is the one to patch.
  auto current = context_.commands.ReadCurrentStep(jump.address);
  if (!sequence.Read(current.outcome, "the executing step")) return false;
  const int step = jump.step = current.value;
  // The executing step becomes a jump and must be put back afterwards: it needs its copy.
  // The held program gets back its limits and mode, and the sequence stops with why.
  auto giveUp = [&](const std::function<void()>& refuse) {
    if (jump.Limits(jump.savedLimits.first, jump.savedLimits.second) && jump.RunMode(jump.savedMode)) refuse();
    return false;
  };
  jump.executingRow = context_.store.MemoryStep(jump.address, step).value_or(std::nullopt);
  const bool restorable = step == jump.segment || (jump.executingRow && jump.executingRow->unknown == 0);
  if (step < 1 || step >= kJumpStep || !restorable) {
    return giveUp([&] {
      sequence.Refuse("the controller reports executing step " + Text(step) +
                      ", which the program memory copy cannot put back");
    });
  }
  if (step == jump.segment) return true;
  // The executing step becomes a jump: marked before it is overwritten, so Start puts it back.
  const Status marked = context_.store.SetStepModified(jump.address, step, 1);
  if (marked) return true;
  context_.Display("Error: Could  not set Modified field in program database");
  return giveUp([&] {
    sequence.Refuse("the Modified mark of step " + Text(step) +
                    " could not be set, so no step was written: " + marked.message());
  });
}

bool RunControl::ReadTrampolineTemperature(Jump& jump) {
  // Step 64's temperature goes beside each duration written to it: as the map has it, or as
  // read when the map may not hold it.
  auto row = context_.store.MemoryStep(jump.address, kJumpStep).value_or(std::nullopt);
  if (row && row->unknown == 0) {
    jump.trampolineTemperature = row->temperature;
    return true;
  }
  auto words = context_.commands.ReadPair(jump.address, link::ProgramStepRegister(kJumpStep, 2));
  if (!jump.sequence.Read(words.outcome, "step 64")) return false;
  jump.trampolineTemperature = link::DecodeSigned(words.value.second);
  return true;
}

bool RunControl::WriteJump(Jump& jump) {
  const int step = jump.step, segment = jump.segment, savedMode = jump.savedMode;
  // The temperature beside each duration written is the one the step is to hold: the
  // executing step's stored original (put back below), the target's new one, and step 64's.
  const int executingTemperature = step == segment ? jump.point.temperature : jump.executingRow->temperature;
  if (!jump.Duration(step, -kJumpStep, executingTemperature)) return false;
  if (!jump.Duration(kJumpStep, 1000, jump.trampolineTemperature)) return false;
  if (!jump.RunMode(1) || !jump.RunMode(0)) return false;
  if (!jump.Duration(kJumpStep, -segment, jump.trampolineTemperature)) return false;
  if (!WriteStepWords(jump.sequence, jump.address, segment, jump.point.duration, jump.point.temperature, jump.frames,
                      false))
    return false;
  // Out of step 64 into the segment: a running program's own mode does it in one write.
  if (savedMode == 0 ? !jump.RunMode(1) || !jump.RunMode(0) : !jump.RunMode(savedMode)) return false;
  if (step != segment && !WriteStepWords(jump.sequence, jump.address, step, jump.executingRow->duration,
                                         jump.executingRow->temperature, jump.frames, false))
    return false;
  return jump.Limits(jump.savedLimits.first, jump.savedLimits.second) && jump.RunMode(savedMode);
}

bool RunControl::JumpLanded(Jump& jump) {
  auto& commands = context_.commands;
  Sequence& sequence = jump.sequence;
  const std::uint8_t address = jump.address;
  const int step = jump.step, segment = jump.segment;
  // Done only when the controller holds what was written -- the executing step put back (its
  // mark goes then), the target, step 64's jump, the mode and the limits, both registers of
  // each read counted -- and, read last, runs the target: a step that ended on the way, or a
  // program that stopped, is told as it is.
  if (step != segment) {
    if (!ReadBackStep(sequence, address, step, jump.executingRow->duration, jump.executingRow->temperature) ||
        !SetStepModified(sequence, address, step, 0))
      return false;
  }
  if (!ReadBackStep(sequence, address, segment, jump.point.duration, jump.point.temperature) ||
      !ReadBackStep(sequence, address, kJumpStep, -segment, jump.trampolineTemperature))
    return false;
  auto modeBack = commands.ReadPair(address, link::reg::kRunMode);
  if (!sequence.Read(modeBack.outcome, "the run mode back") ||
      !sequence.ReadBack(address, "run mode", Text(jump.savedMode), Text(link::ByteOf(modeBack.value.first))))
    return false;
  const std::string limits = Text(jump.savedLimits.first) + " - " + Text(jump.savedLimits.second);
  const auto [lowBack, highBack] = commands.ReadProgramLimits(address);
  if (!sequence.Read(link::Worst(lowBack.outcome, highBack.outcome), "the program limits back") ||
      !sequence.ReadBack(address, "program limits", limits, Text(lowBack.value) + " - " + Text(highBack.value)))
    return false;
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
