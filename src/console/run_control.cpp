#include "console/run_control.h"

#include <algorithm>
#include <cmath>

#include "util/text.h"

namespace tarvel::console {

using link::Outcome;

namespace {

constexpr const char* kWordNames[] = {"PIDSet", "duration", "temperature"};

const store::MemoryRow* FindStep(const std::vector<store::MemoryRow>& steps, int segment) {
  auto it = std::find_if(steps.begin(), steps.end(), [segment](const store::MemoryRow& r) { return r.segment == segment; });
  return it == steps.end() ? nullptr : &*it;
}

bool ValidLimits(int low, int high) { return low >= 1 && high <= link::kStepCount && low <= high; }

// A whole step number 1..64 written as such: "12.5", "1e1" and "" are not steps.
std::optional<int> WholeStep(const std::string& text) {
  auto value = ParseNumber(text);
  if (!value || *value != std::floor(*value) || *value < 1 || *value > link::kStepCount) return std::nullopt;
  return static_cast<int>(*value);
}

std::string Joined(const std::vector<std::pair<std::string, std::string>>& held) {
  std::string text;
  for (const auto& [key, value] : held) text += (text.empty() ? "" : ", ") + key + " " + value;
  return text;
}

}  // namespace

// The exchanges of one command, in order. It stops at the first failure: the user reads
// which exchange failed and what the controller may now hold, and nothing more is sent.
class Sequence {
 public:
  Sequence(Context& context, std::string name) : context_(context), name_(std::move(name)) {}

  // A write of value to what key names ("run mode", "step 7 duration").
  bool Write(Outcome outcome, const std::string& key, const std::string& value) {
    if (outcome == Outcome::Ok) {
      Hold(key, value);
      return true;
    }
    // A write whose reply went missing may still have arrived; a cancelled one never left.
    const bool mayHaveArrived = outcome != Outcome::Cancelled && outcome != Outcome::NotSent;
    Fail("writing " + key + " " + value + " failed (" + std::string(link::Describe(outcome)) + ")",
         mayHaveArrived ? key + " " + value : std::string(), true);
    return false;
  }

  // reported: the failure has been shown already (by the reading it belongs to).
  bool Read(Outcome outcome, const std::string& what, bool reported = false) {
    if (outcome == Outcome::Ok) return true;
    Fail("reading " + what + " failed (" + std::string(link::Describe(outcome)) + ")", {}, !reported);
    return false;
  }

  // Stops for a reason other than the line.
  void Refuse(const std::string& why) { Fail(why, {}, false); }

  bool ChangedAnything() const { return !held_.empty(); }

 private:
  void Hold(const std::string& key, const std::string& value) {
    auto it = std::find_if(held_.begin(), held_.end(), [&key](const auto& h) { return h.first == key; });
    if (it != held_.end()) held_.erase(it);
    held_.emplace_back(key, value);
  }

  void Fail(const std::string& why, const std::string& perhaps, bool sayCommError) {
    context_.view.SetLed(Led::Error);
    if (sayCommError) context_.Display(kCommError);
    context_.Display("ERROR: " + name_ + " stopped: " + why);
    if (held_.empty() && perhaps.empty()) {
      context_.Display("Nothing was changed in the controller");
      return;
    }
    if (!held_.empty()) context_.Display("The controller now holds " + Joined(held_));
    if (!perhaps.empty()) context_.Display("It may also hold " + perhaps);
  }

  Context& context_;
  std::string name_;
  std::vector<std::pair<std::string, std::string>> held_;  // what each confirmed write left, latest last
};

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
  return {{step->duration - time, temperature}, PointRefusal::None};
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

int RunModeCode(const std::string& progressionType, const std::string& timeScaleType) {
  return (progressionType == "PV" ? 2 : 0) + (timeScaleType == "S" ? 1 : 2);
}

// --- stored selection and restart state

std::optional<RestartState> RunControl::GetRestartState(std::uint8_t address) {
  auto row = context_.store.ControllerConfig(address);
  if (!row.ok() || !row->has_value()) {
    context_.Display("No Restart configuration data");
    return std::nullopt;
  }
  return RestartState{(*row)->runMode, (*row)->segmentExecuting, (*row)->segmentElapsedTime};
}

std::optional<std::pair<int, int>> RunControl::GetSavedProgramLimits(std::uint8_t address) {
  auto row = context_.store.ControllerConfig(address);
  if (!row.ok() || !row->has_value()) {
    context_.Display("No configuration data exists in database for this controller");
    return std::nullopt;
  }
  return std::pair{(*row)->programLowAddress, (*row)->programHighAddress};
}

// --- program steps and their Modified flags

bool RunControl::WriteStepWords(Sequence& sequence, std::uint8_t address, int step, std::optional<int> pidSet,
                                int duration, int temperature) {
  const std::pair<int, int> words[] = {{1, pidSet.value_or(0)}, {2, duration}, {3, temperature}};
  for (auto [word, value] : words) {
    if (word == 1 && !pidSet) continue;
    const std::string key = "step " + Text(step) + " " + kWordNames[word - 1];
    if (!sequence.Write(context_.commands.WriteProgramStepWord(address, step, word, value), key, Text(value)))
      return false;
  }
  return true;
}

bool RunControl::SetStepModified(std::uint8_t address, int step, int value) {
  if (context_.store.SetStepModified(address, step, value)) return true;
  context_.Display("Error: Could  not set Modified field in program database");
  return false;
}

bool RunControl::RestoreModifiedSteps(Sequence& sequence, std::uint8_t address) {
  auto rows = context_.store.ModifiedSteps(address);
  if (!rows.ok()) {
    sequence.Refuse("the program memory copy could not be read: " + rows.status().message());
    return false;
  }
  if (rows->empty()) context_.Display("No modified profile lines found");
  for (const auto& row : *rows) {
    if (!WriteStepWords(sequence, address, row.segment, std::nullopt, row.duration, row.temperature)) return false;
    SetStepModified(address, row.segment, 0);
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
  SetStepModified(address, step, 0);
  return true;
}

void RunControl::ShowMemory(std::uint8_t address) {
  // Show repaints every row unmarked; the range and step marks still stand, so they go back.
  const std::vector<RowMark> marks = memory_.Marks().All();
  memory_.Show(address);
  for (int first = 0; first < static_cast<int>(marks.size());) {
    int end = first;
    while (end < static_cast<int>(marks.size()) && marks[end] == marks[first]) ++end;
    if (marks[first] != RowMark::None) memory_.Highlight(first + 1, end - first, marks[first], false);
    first = end;
  }
}

// --- program limits

bool RunControl::UploadProgramLimits(Sequence& sequence, std::uint8_t address, int lowStep, int highStep) {
  context_.view.SetLed(Led::Busy);
  const Outcome outcome = context_.commands.WriteProgramLimits(address, static_cast<std::uint8_t>(lowStep),
                                                               static_cast<std::uint8_t>(highStep));
  if (!sequence.Write(outcome, "program limits", Text(lowStep) + " - " + Text(highStep))) return false;
  context_.view.SetLed(Led::Idle);
  context_.Display("Profile selected for run. Program limits uploaded to controller");
  return true;
}

bool RunControl::UploadProgramLimits(const std::string& lowText, const std::string& highText) {
  // Checked before anything is sent: the controller would run whatever range it is given.
  auto low = WholeStep(lowText);
  auto high = WholeStep(highText);
  if (!low || !high) {
    context_.Display(std::string("ERROR: ") + (!low ? "Low" : "High") + " step must be a whole number from 1 to 64");
    return false;
  }
  if (*low > *high) {
    context_.Display("ERROR: Low step must not be above the high step");
    return false;
  }
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  Exchanges exchanges(context_, 2);
  Sequence sequence(context_, "Program limits upload");
  return UploadProgramLimits(sequence, *address, *low, *high);
}

// --- select, start, pause, restart

bool RunControl::SelectRunProfile(int row) {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  const auto& rows = log_.Rows();
  if (row < 1 || row > static_cast<int>(rows.size())) {
    context_.Display("Highlight a profile in the Profile Log, then click SELECT PROFILE");
    return false;
  }
  const store::LogRow entry = rows[row - 1];
  context_.Display("Profile: " + entry.profileName + " - will be selected upon confirmation");
  log_.Highlight(row, 1, RowMark::LogEntry, true);
  if (!context_.view.Confirm("Run State Parameters Change",
                             "WARNING: Low and High program segment pointers will be uploaded. Proceed?"))
    return false;
  context_.view.ScrollTo(Grid::ProgramMemory, entry.start);

  Exchanges exchanges(context_, 4 + 2);
  Sequence sequence(context_, "Select");
  // A failed reading would show blank settings and a mismatch that is not there.
  const ControllerSettingsReading settings = settings_.ReadControllerSettings();
  if (!sequence.Read(settings.outcome, "the controller settings", true)) return false;
  if (settings.sensorType != entry.sensorType) {
    context_.Display("Profile sensor setting does not match controller sensor setting");
    if (!context_.view.Confirm("Sensor Setting Mismatch",
                               "WARNING:Profile sensor setting does not match controller sensor setting"))
      return false;
  }
  if (settings.temperatureScale != entry.temperatureScaleType) {
    context_.Display("Profile temperature scale setting does not match controller setting");
    if (!context_.view.Confirm("Temperature Scale Setting Mismatch",
                               "Warning:Profile temperature scale setting does not match controller setting"))
      return false;
  }
  // The selection is stored only once the controller holds its limits.
  if (!UploadProgramLimits(sequence, *address, entry.start, entry.stop)) return false;
  context_.ShowField(Field::ProgramStepLow, Text(entry.start));
  context_.ShowField(Field::ProgramStepHigh, Text(entry.stop));
  log_.SaveRunSelection(*address, entry.profileName, entry.start, entry.stop);
  return true;
}

bool RunControl::StartProfile() {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  context_.ClearDisplay();
  Exchanges exchanges(context_, 2 + 1 + 2 + 1);
  if (!log_.MarkLogEntryOfProgramLimits()) {
    context_.Display(
        "Physical pointers do not match pointers in profile log. Use highlight a profile in the log and click SELECT "
        "PROFILE");
    return false;
  }
  // The marked row is the log entry of the limits just read.
  auto found = context_.store.LogEntryByRange(*address, context_.programLowStep, context_.programHighStep);
  if (!found.ok() || !found->has_value()) return false;
  const store::LogRow entry = **found;

  context_.Display("Profile: " + entry.profileName + " - will be started");
  memory_.HighlightProgramRange(entry.start, entry.stop - entry.start + 1);
  context_.view.ScrollTo(Grid::ProgramMemory, entry.start);

  Sequence sequence(context_, "Start");
  auto& commands = context_.commands;
  context_.view.SetLed(Led::Busy);
  if (!sequence.Write(commands.WriteRunMode(*address, 0), "run mode", "0")) return false;
  monitor_.SetSelectedRunMode(0);
  context_.view.SetLed(Led::Idle);

  context_.Display("Unfortunately due to quirks in the Set64rs or XMT63 controller");
  context_.Display("the profile must be started by controller front panel by the following steps:");
  context_.Display("-1- Press CIRCLE key");
  context_.Display("-2- using the arrow keys enter 5172 in the SV display");
  context_.Display("-3- Press CIRCLE key");
  context_.Display("-3- Click on the OK button when done");
  auto config = context_.store.ControllerConfig(*address);
  const std::string executing = config.ok() && config->has_value() ? (*config)->profileNameExecuting : "";
  const bool confirmed =
      context_.view.Confirm("Enter Front Panel Start Code 5172 to start " + executing,
                            "On Controller: Press CIRCLE, enter 5172, Press circle..then click OK to start");
  if (confirmed && frontPanelStart_) {
    frontPanelStart_(*address);
    context_.Display("Simulated line: start code 5172 entered on the front panel of unit #" + Text(*address));
  }

  context_.view.SetLed(Led::Busy);
  auto low = commands.ReadProgramLowStep(*address);
  if (!sequence.Read(low.outcome, "the low program step")) return false;
  auto high = commands.ReadProgramHighStep(*address);
  if (!sequence.Read(high.outcome, "the high program step")) return false;
  context_.view.SetLed(Led::Idle);
  context_.programLowStep = low.value;
  context_.programHighStep = high.value;
  context_.ShowField(Field::ProgramStepLow, Text(low.value));
  context_.ShowField(Field::ProgramStepHigh, Text(high.value));
  auto running = context_.store.LogEntryByRange(*address, low.value, high.value);
  log_.SaveRunSelection(*address, entry.profileName, entry.start, entry.stop);
  if (!confirmed) return false;

  // Without the log entry of the limits the run mode would be a guess.
  if (!running.ok() || !running->has_value()) {
    sequence.Refuse("program limits " + Text(low.value) + " - " + Text(high.value) + " match no profile in the log");
    return false;
  }
  const int code = RunModeCode((*running)->progressionType, (*running)->timeScaleType);
  context_.view.SetLed(Led::Busy);
  if (!RestoreModifiedSteps(sequence, *address)) return false;
  if (!sequence.Write(commands.WriteRunMode(*address, static_cast<std::uint8_t>(code)), "run mode", Text(code)))
    return false;
  monitor_.SetSelectedRunMode(code);
  ShowMemory(*address);
  context_.view.SetLed(Led::Idle);
  return true;
}

bool RunControl::PauseProfile() {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  if (context_.selectedRunMode == 0) {
    context_.Display("Profile already paused");
    return false;
  }
  Exchanges exchanges(context_, 9 + 2 + 1);
  Sequence sequence(context_, "Pause");
  const RunStateReading reading = monitor_.ReadRunState();
  // Without the program's set point the held temperature would be a guess.
  if (!sequence.Read(reading.profileSetPoint.outcome, "the program's set point", true)) return false;
  const int setPoint = reading.profileSetPoint.value;
  context_.view.SetLed(Led::Busy);
  if (!sequence.Write(context_.commands.WriteSetValue(*address, static_cast<std::int16_t>(setPoint)), "set value",
                      Text(setPoint)))
    return false;
  if (!sequence.Write(context_.commands.WriteRunMode(*address, 0), "run mode", "0")) return false;
  monitor_.SetSelectedRunMode(0);
  context_.view.SetLed(Led::Idle);
  return true;
}

bool RunControl::RestartProfile() {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  if (context_.selectedRunMode != 0) {
    context_.Display("Profile is already executing");
    return false;
  }
  auto state = GetRestartState(*address);
  if (!state) return false;
  int mode = state->runMode;
  if (mode < 1 || mode > 4) {
    // A reading taken while paused stores mode 0; the selected profile's own mode resumes it.
    auto limits = GetSavedProgramLimits(*address);
    auto entry = limits ? context_.store.LogEntryByRange(*address, limits->first, limits->second)
                        : Result<std::optional<store::LogRow>>(std::nullopt);
    if (!entry.ok() || !entry->has_value()) {
      context_.Display("ERROR: No run mode to restart in: select and start the profile");
      return false;
    }
    mode = RunModeCode((*entry)->progressionType, (*entry)->timeScaleType);
  }
  Exchanges exchanges(context_, 1 + 22 + 2 * 2 + 1);
  Sequence sequence(context_, "Restart");
  int elapsed = state->elapsedTime;
  auto stored = context_.store.MemoryStep(*address, state->segment).value_or({});
  if (stored && stored->modified == 1) {
    // A jump left a shortened copy running: its step time counts from the jump point, so
    // the part cut off is added back, or the restart would go back to where the jump began.
    auto copy = context_.commands.ReadProgramStepWord(*address, state->segment, 2);
    if (!sequence.Read(copy.outcome, "the duration of step " + Text(state->segment))) return false;
    if (copy.value > 0 && copy.value < stored->duration) elapsed += stored->duration - copy.value;
  }
  if (!JumpTo(state->segment, elapsed)) return false;
  context_.view.SetLed(Led::Busy);
  if (!sequence.Write(context_.commands.WriteRunMode(*address, static_cast<std::uint8_t>(mode)), "run mode",
                      Text(mode)))
    return false;
  monitor_.SetSelectedRunMode(mode);
  context_.view.SetLed(Led::Idle);
  return true;
}

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
  const int modified = static_cast<int>(context_.store.ModifiedSteps(*address).value_or({}).size());
  Exchanges exchanges(context_, 22 + 2 * modified);
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
  auto runMode = [&](int mode) {
    return sequence.Write(commands.WriteRunMode(address, static_cast<std::uint8_t>(mode)), "run mode", Text(mode));
  };
  auto duration = [&](int step, int value) {
    return sequence.Write(commands.WriteProgramStepWord(address, step, 2, value), "step " + Text(step) + " duration",
                          Text(value));
  };

  if (!RestoreModifiedSteps(sequence, address)) return false;
  auto stepTime = commands.ReadStepTime(address);
  if (!sequence.Read(stepTime.outcome, "the step time")) return false;
  context_.ShowField(Field::CurrentTime, Text(stepTime.value));
  auto savedMode = commands.ReadRunMode(address);
  if (!sequence.Read(savedMode.outcome, "the run mode")) return false;
  if (!runMode(1)) return false;
  auto current = commands.ReadCurrentStep(address);
  if (!sequence.Read(current.outcome, "the executing step")) return false;
  const int step = current.value;
  // The executing step becomes a jump and must be put back afterwards: it needs its copy.
  const bool restorable = step == segment || context_.store.MemoryStep(address, step).value_or({}).has_value();
  if (step < 1 || step > link::kStepCount || !restorable) {
    if (runMode(savedMode.value))
      sequence.Refuse("the controller reports executing step " + Text(step) +
                      ", which the program memory copy cannot put back");
    return false;
  }

  if (!UploadProgramLimits(sequence, address, 1, link::kStepCount)) return false;
  if (!runMode(0)) return false;
  // Flagged before it is overwritten, so a jump stopped halfway leaves a step Start puts back.
  SetStepModified(address, step, 1);
  if (!duration(step, -kJumpStep)) return false;
  if (!duration(kJumpStep, 1000)) return false;
  if (!runMode(1) || !runMode(0)) return false;
  if (!duration(kJumpStep, -segment)) return false;
  SetStepModified(address, segment, 1);
  if (!WriteStepWords(sequence, address, segment, std::nullopt, point.duration, point.temperature)) return false;
  if (!runMode(1) || !runMode(savedMode.value)) return false;
  if (step != segment && !RestoreStep(sequence, address, step)) return false;
  if (!UploadProgramLimits(sequence, address, savedLimits.first, savedLimits.second)) return false;
  return runMode(savedMode.value);
}

// --- run mode panel

bool RunControl::SetRunMode() {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  const int mode = context_.selectedRunMode;
  Exchanges exchanges(context_, 1 + 9);
  Sequence sequence(context_, "Set Mode");
  context_.view.SetLed(Led::Busy);
  if (!sequence.Write(context_.commands.WriteRunMode(*address, static_cast<std::uint8_t>(mode)), "run mode",
                      Text(mode)))
    return false;
  // The reading reports its own failure; the mode is set all the same.
  monitor_.ReadRunState();
  context_.Display("Controller run mode set");
  return true;
}

}  // namespace tarvel::console
