#include "console/run_control.h"

#include <cmath>

#include "console/records.h"
#include "console/sequence.h"
#include "util/text.h"

namespace tarvel::console {

using link::Outcome;

namespace {

// A whole step number 1..64 written as such: "12.5", "1e1" and "" are not steps.
std::optional<int> WholeStep(const std::string& text) {
  auto value = ParseNumber(text);
  if (!value || *value != std::floor(*value) || *value < 1 || *value > link::kStepCount) return std::nullopt;
  return static_cast<int>(*value);
}

}  // namespace

// --- the actions and their results

bool RunControl::Act(RunAction action, const std::function<bool()>& steps) {
  if (acting_ > 0) return steps();
  last_ = RunActionResult{};
  last_.action = action;
  last_.channel = static_cast<int>(ToWholeNumber(selection_.CurrentChannelText(), 1, 65535).value_or(0));
  ++acting_;
  last_.done = steps();
  --acting_;
  if (observer_) observer_->Ended(last_);
  return last_.done;
}

void RunControl::Begins() {
  if (last_.begun) return;
  last_.begun = true;
  if (observer_) observer_->Begins(last_);
}

bool RunControl::SelectRunProfile(int row) {
  return Act(RunAction::Select, [&] { return SelectSteps(row); });
}
bool RunControl::UploadProgramLimits(const std::string& lowText, const std::string& highText) {
  return Act(RunAction::ProgramLimits, [&] { return UploadLimitsSteps(lowText, highText); });
}
bool RunControl::StartProfile() {
  return Act(RunAction::Start, [&] { return StartSteps(); });
}
bool RunControl::PauseProfile() {
  return Act(RunAction::Pause, [&] { return PauseSteps(); });
}
bool RunControl::RestartProfile() {
  return Act(RunAction::Restart, [&] { return RestartSteps(); });
}
bool RunControl::JumpTo(int segment, int time) {
  return Act(RunAction::Jump, [&] { return JumpSteps(segment, time); });
}
bool RunControl::SetRunMode() {
  return Act(RunAction::SetMode, [&] { return SetModeSteps(); });
}
bool RunControl::SetValue(const std::string& text) {
  return Act(RunAction::SetValue, [&] {
    last_.address = selection_.CurrentAddress().value_or(0);
    last_.setValueBefore = monitor_.LastSetValue(last_.address);
    if (last_.address != 0 && IsNumber(text) && ToInt16(text)) {  // else refused before the write
      last_.setValueAfter = ToInt16(text);
      Begins();
    }
    return settings_.WriteSingleSetPoint(text);
  });
}

// --- stored selection and restart state

std::optional<RestartState> RunControl::GetRestartState(std::uint8_t address) {
  auto row = context_.store.ControllerConfig(address);
  // Step 0: no reading of the run was stored (a selection's row, or a run just started).
  if (!row.ok() || !row->has_value() || (*row)->segmentExecuting < 1) {
    context_.Display("No Restart configuration data");
    return std::nullopt;
  }
  return RestartState{(*row)->runMode, (*row)->segmentExecuting, (*row)->segmentElapsedTime};
}

std::optional<std::pair<int, int>> RunControl::GetSavedProgramLimits(std::uint8_t address) {
  auto row = context_.store.ControllerConfig(address);
  if (row.ok() && row->has_value() && (*row)->pending) {
    if (!SettleSelection(address, **row)) return std::nullopt;
    row = context_.store.ControllerConfig(address);
  }
  if (!row.ok() || !row->has_value()) {
    context_.Display("No configuration data exists in database for this controller");
    return std::nullopt;
  }
  return std::pair{(*row)->programLowAddress, (*row)->programHighAddress};
}

bool RunControl::SettleSelection(std::uint8_t address, const store::ControllerConfigRow& row) {
  const store::RunSelection& pending = *row.pending;
  Exchanges exchanges(context_, 1);
  const auto [low, high] = context_.commands.ReadProgramLimits(address);
  if (!low.ok() || !high.ok()) {
    context_.FinishExchanges(link::Worst(low.outcome, high.outcome), kCommsError);
    context_.Display("The selection of " + pending.profileName +
                     " was sent but not confirmed, and the program "
                     "limits could not be read to settle it");
    return false;
  }
  const std::pair<int, int> held{low.value, high.value};
  if (held == std::pair{pending.lowStep, pending.highStep})
    return Recorded(context_, context_.store.ConfirmSelectionIntent(address), "The selection could not be settled");
  if (held == std::pair{row.programLowAddress, row.programHighAddress})
    return Recorded(context_, context_.store.DropSelectionIntent(address), "The selection could not be settled");
  context_.Display("ERROR: Unit #" + Text(address) + " runs steps " + Text(low.value) + " - " + Text(high.value) +
                   ", neither the selection sent (" + pending.profileName + ", " + Text(pending.lowStep) + " - " +
                   Text(pending.highStep) + ") nor the one before: use SELECT PROFILE");
  return false;
}

// --- program limits

bool RunControl::UploadProgramLimits(Sequence& sequence, std::uint8_t address, int lowStep, int highStep,
                                     std::optional<std::uint16_t> scaleWord, bool verify) {
  context_.view.SetLed(Led::Busy);
  const auto low = static_cast<std::uint8_t>(lowStep);
  const auto high = static_cast<std::uint8_t>(highStep);
  const Outcome outcome = scaleWord ? context_.commands.WriteProgramLimits(address, low, high, *scaleWord)
                                    : context_.commands.WriteProgramLimits(address, low, high);
  const std::string limits = Text(lowStep) + " - " + Text(highStep);
  if (!sequence.Write(outcome, "program limits", limits)) return false;
  if (verify) {
    const auto [readLow, readHigh] = context_.commands.ReadProgramLimits(address);
    if (!sequence.Read(link::Worst(readLow.outcome, readHigh.outcome), "the program limits back") ||
        !sequence.ReadBack(address, "program limits", limits, Text(readLow.value) + " - " + Text(readHigh.value)))
      return false;
  }
  last_.limits = {lowStep, highStep};
  context_.view.SetLed(Led::Idle);
  context_.Display("Profile selected for run. Program limits uploaded to controller");
  return true;
}

bool RunControl::UploadLimitsSteps(const std::string& lowText, const std::string& highText) {
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
  last_.address = *address;
  Exchanges exchanges(context_, 4);
  Sequence sequence(context_, "Program limits upload");
  return UploadProgramLimits(sequence, *address, *low, *high);
}

// --- select, start, pause, restart

bool RunControl::SelectSteps(int row) {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  last_.address = *address;
  const auto& rows = log_.Rows();
  if (row < 1 || row > static_cast<int>(rows.size())) {
    context_.Display("Highlight a profile in the Profile Log, then click SELECT PROFILE");
    return false;
  }
  const store::LogRow entry = rows[row - 1];
  last_.profile = entry.profileName;
  context_.Display("Profile: " + entry.profileName + " - will be selected upon confirmation");
  log_.Highlight(row, 1, RowMark::LogEntry, true);
  if (!context_.view.Confirm("Run State Parameters Change",
                             "WARNING: Low and High program segment pointers will be uploaded. Proceed?"))
    return false;
  context_.view.ScrollTo(Grid::ProgramMemory, entry.start);

  Exchanges exchanges(context_, 4 + 3);
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
  // The selection is recorded before the controller gets its limits, as an address change is:
  // whatever stops the command after the write, the next one finds the intent and settles it.
  // It becomes the selection once the controller holds its limits.
  auto& store = context_.store;
  if (!Recorded(context_, store.RecordSelectionIntent(*address, {entry.profileName, entry.start, entry.stop}),
                "The selection could not be recorded before its limits are written")) {
    context_.Display("Nothing was sent to the controller");
    return false;
  }
  if (!UploadProgramLimits(sequence, *address, entry.start, entry.stop)) {
    (void)store.DropSelectionIntent(*address);  // else the next command settles it
    return false;
  }
  context_.ShowField(Field::ProgramStepLow, Text(entry.start));
  context_.ShowField(Field::ProgramStepHigh, Text(entry.stop));
  const bool confirmed = Recorded(context_, store.ConfirmSelectionIntent(*address),
                                  "The profile selected for running could not be stored");
  log_.ShowExecutingProfile(*address);
  if (confirmed) return true;
  context_.Display("The controller runs steps " + Text(entry.start) + " - " + Text(entry.stop) +
                   " now; the selection is recorded but not confirmed, and the next command that needs it reads the "
                   "controller's limits to settle it");
  return false;
}

bool RunControl::WriteRunModeChecked(Sequence& sequence, std::uint8_t address, int mode, int lowStep) {
  auto& commands = context_.commands;
  if (!sequence.Write(
          commands.WriteRunMode(address, static_cast<std::uint8_t>(mode), static_cast<std::uint8_t>(lowStep)),
          "run mode", Text(mode)))
    return false;
  auto back = commands.ReadPair(address, link::reg::kRunMode);
  if (!sequence.Read(back.outcome, "the run mode back") ||
      !sequence.ReadBack(address, "run mode", Text(mode), Text(link::ByteOf(back.value.first))) ||
      !sequence.ReadBack(address, "low step beside the run mode", Text(lowStep), Text(link::ByteOf(back.value.second))))
    return false;
  last_.modeAfter = mode;
  return true;
}

bool RunControl::AskFrontPanelStart(std::uint8_t address) {
  context_.Display("Unfortunately due to quirks in the Set64rs or XMT63 controller");
  context_.Display("the profile must be started by controller front panel by the following steps:");
  context_.Display("-1- Press CIRCLE key");
  context_.Display("-2- using the arrow keys enter 5172 in the SV display");
  context_.Display("-3- Press CIRCLE key");
  context_.Display("-3- Click on the OK button when done");
  auto config = context_.store.ControllerConfig(address);
  const std::string executing = config.ok() && config->has_value() ? (*config)->profileNameExecuting : "";
  const bool confirmed =
      context_.view.Confirm("Enter Front Panel Start Code 5172 to start " + executing,
                            "On Controller: Press CIRCLE, enter 5172, Press circle..then click OK to start");
  if (confirmed && frontPanelStart_) {
    frontPanelStart_(address);
    context_.Display("Simulated line: start code 5172 entered on the front panel of unit #" + Text(address));
  }
  return confirmed;
}

bool RunControl::StartSteps() {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  last_.address = *address;
  context_.ClearDisplay();
  Exchanges exchanges(context_, 2 + 1 + 2 + 2 + 4 * ModifiedCount(*address));
  if (const LogMatch match = log_.MarkLogEntryOfProgramLimits(); match != LogMatch::Found) {
    // Limits that could not be read were reported as a communication error, a selection that
    // could not be stored as such: no mismatch to add, and nothing is sent.
    if (match == LogMatch::Unread || match == LogMatch::NotStored) return false;
    context_.Display(
        "Physical pointers do not match pointers in profile log. Use highlight a profile in the log and click SELECT "
        "PROFILE");
    return false;
  }
  // The marked row is the log entry of the limits just read.
  auto found = context_.store.LogEntryByRange(*address, context_.programLowStep, context_.programHighStep);
  if (!found.ok() || !found->has_value()) return false;
  const store::LogRow entry = **found;
  last_.profile = entry.profileName;

  context_.Display("Profile: " + entry.profileName + " - will be started");
  memory_.HighlightProgramRange(entry.start, entry.stop - entry.start + 1);
  context_.view.ScrollTo(Grid::ProgramMemory, entry.start);

  Sequence sequence(context_, "Start");
  auto& commands = context_.commands;
  context_.view.SetLed(Led::Busy);
  // The low step beside the run mode keeps the limits just read.
  if (!sequence.Write(commands.WriteRunMode(*address, 0, static_cast<std::uint8_t>(context_.programLowStep)),
                      "run mode", "0"))
    return false;
  last_.modeAfter = 0;
  monitor_.SetSelectedRunMode(0);
  context_.view.SetLed(Led::Idle);

  const bool confirmed = AskFrontPanelStart(*address);
  context_.view.SetLed(Led::Busy);
  const auto [low, high] = commands.ReadProgramLimits(*address);
  if (!sequence.Read(low.outcome, "the low program step")) return false;
  context_.view.SetLed(Led::Idle);
  context_.SetProgramLimits(low.value, high.value);
  auto running = context_.store.LogEntryByRange(*address, low.value, high.value);
  if (!log_.SaveRunSelection(*address, entry.profileName, entry.start, entry.stop)) {
    sequence.Refuse("the selection could not be stored, so no step was put back and no run mode written");
    return false;
  }
  if (!confirmed) return false;

  // Without the log entry of the limits the run mode would be a guess.
  if (!running.ok() || !running->has_value()) {
    sequence.Refuse("program limits " + Text(low.value) + " - " + Text(high.value) + " match no profile in the log");
    return false;
  }
  const int code = RunModeCode((*running)->progressionType, (*running)->timeScaleType);
  context_.view.SetLed(Led::Busy);
  if (!RestoreModifiedSteps(sequence, *address, context_.FramesFor(*address))) return false;
  if (!WriteRunModeChecked(sequence, *address, code, low.value)) return false;
  monitor_.SetSelectedRunMode(code);
  // The run begins now: a stored reading of an earlier one tells neither the step a jump leaves
  // nor where to restart, so until this run's own first reading no step is stored.
  const bool cleared = Recorded(context_, context_.store.SaveRunState(*address, code, 0, 0),
                                "The earlier run state could not be cleared");
  ShowMemory(*address);
  if (!cleared) return false;
  context_.view.SetLed(Led::Idle);
  return true;
}

bool RunControl::PauseSteps() {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  last_.address = *address;
  if (context_.selectedRunMode == 0) {
    context_.Display("Profile already paused");
    return false;
  }
  Exchanges exchanges(context_, 8 + 2 + 1 + 2);
  Sequence sequence(context_, "Pause");
  const RunStateReading reading = monitor_.ReadRunState();
  // Restart resumes from the run state this reading stores: without all of it (the program's set
  // point to hold among it), or stored, the pause holds nothing.
  if (!sequence.Read(reading.outcome(), "the run state Restart resumes from", true)) return false;
  if (!reading.RestartPoint()) {
    context_.Display("Profile already paused");
    return false;
  }
  if (monitor_.StoreFailed()) {
    sequence.Refuse("the run state Restart resumes from could not be stored");
    return false;
  }
  const int setPoint = reading.profileSetPoint.value;
  if (reading.runMode.ok()) last_.modeBefore = reading.runMode.value;
  context_.view.SetLed(Led::Busy);
  // The set value is read first (its neighbour goes with the write; an equal one needs none):
  // when that read fails, the user reads that nothing was written.
  auto& commands = context_.commands;
  auto present = commands.ReadPair(*address, link::reg::kSetValue);
  if (!sequence.Read(present.outcome, "the set value")) return false;
  last_.setValueBefore = link::DecodeSigned(present.value.first);
  last_.setValueAfter = setPoint;
  last_.modeAfter = 0;
  Begins();
  if (*last_.setValueBefore != setPoint) {
    if (!sequence.Write(commands.WriteSetValue(*address, static_cast<std::int16_t>(setPoint), present.value.second),
                        "set value", Text(setPoint)))
      return false;
    auto held = commands.ReadSetValue(*address);
    if (!sequence.Read(held.outcome, "the set value back") ||
        !sequence.ReadBack(*address, "set value", Text(setPoint), Text(held.value)))
      return false;
  }
  // The low step beside the run mode as the reading found it, else as read just now.
  std::uint8_t lowStep = reading.programLowStep.value;
  if (!reading.programLowStep.ok()) {
    auto beside = commands.ReadPair(*address, link::reg::kRunMode);
    if (!sequence.Read(beside.outcome, "the low program step")) return false;
    lowStep = link::ByteOf(beside.value.second);
  }
  if (!WriteRunModeChecked(sequence, *address, 0, lowStep)) return false;
  monitor_.SetSelectedRunMode(0);
  context_.view.SetLed(Led::Idle);
  context_.Display("Profile paused: the controller holds the set point " + Text(setPoint));
  return true;
}

bool RunControl::RestartSteps() {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  last_.address = *address;
  if (context_.selectedRunMode != 0) {
    context_.Display("Profile is already executing");
    return false;
  }
  auto state = GetRestartState(*address);
  if (!state) return false;
  auto limits = GetSavedProgramLimits(*address);
  if (!limits || RefuseStepSixtyFour(*limits)) return false;
  int mode = state->runMode;
  if (mode < 1 || mode > 4) {
    // A reading taken while paused stores mode 0; the selected profile's own mode resumes it.
    auto entry = context_.store.LogEntryByRange(*address, limits->first, limits->second);
    if (!entry.ok() || !entry->has_value()) {
      context_.Display("ERROR: No run mode to restart in: select and start the profile");
      return false;
    }
    mode = RunModeCode((*entry)->progressionType, (*entry)->timeScaleType);
  }
  Exchanges exchanges(context_, 1 + 22 + 2 * ModifiedCount(*address) + 2);
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
  last_.modeAfter = mode;  // the jump tells the observer, before its first write
  if (!JumpTo(state->segment, elapsed)) return false;
  context_.view.SetLed(Led::Busy);
  // The jump has put back the stored limits: the low step beside the run mode keeps them.
  if (!WriteRunModeChecked(sequence, *address, mode, limits->first)) return false;
  monitor_.SetSelectedRunMode(mode);
  context_.view.SetLed(Led::Idle);
  return true;
}

// --- run mode panel

bool RunControl::SetModeSteps() {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  last_.address = *address;
  const int mode = context_.selectedRunMode;
  Exchanges exchanges(context_, 2 + 9);
  Sequence sequence(context_, "Set Mode");
  context_.view.SetLed(Led::Busy);
  // The low step beside the run mode is read first: a failed read writes nothing.
  auto beside = context_.commands.ReadPair(*address, link::reg::kRunMode);
  if (!sequence.Read(beside.outcome, "the low program step")) return false;
  last_.modeBefore = link::ByteOf(beside.value.first);
  last_.modeAfter = mode;
  Begins();
  if (!sequence.Write(
          context_.commands.WriteRunMode(*address, static_cast<std::uint8_t>(mode), link::ByteOf(beside.value.second)),
          "run mode", Text(mode)))
    return false;
  // The reading reports its own failure, and reads the mode back.
  const RunStateReading reading = monitor_.ReadRunState();
  if (!sequence.Read(reading.runMode.outcome, "the run mode back", true) ||
      !sequence.ReadBack(*address, "run mode", Text(mode), Text(reading.runMode.value)))
    return false;
  context_.Display("Controller run mode set");
  return true;
}

}  // namespace tarvel::console
