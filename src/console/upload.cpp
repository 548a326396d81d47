#include "console/upload.h"

#include "console/records.h"
#include "util/text.h"

namespace tarvel::console {

bool Upload::CheckRange(const std::string& startText, int count, int& start, int& last) {
  if (!IsNumber(startText)) {
    context_.Display("ERROR: The start address you entered is not a number");
    return false;
  }
  auto value = ToInt16(startText);
  start = value ? *value : 0;
  if (start < 1 || start > link::kStepCount) {
    context_.Display("Start address of compiled profile is out of range of controller memory 1 to 64");
    return false;
  }
  last = start + count - 1;
  if (last < 1 || last > link::kStepCount) {
    context_.Display("End address of compiled profile is out of range of controller memory 1 to 64");
    return false;
  }
  return true;
}

bool Upload::ConfirmOverRunningProgram(std::uint8_t address, int start, int last) {
  // The program the controller runs: its limits as last read while it ran a ramp/soak mode,
  // and the profile stored as selected for running.
  std::vector<std::pair<std::string, std::pair<int, int>>> running;
  if (context_.selectedRunMode != 0 && context_.programLowStep >= 1)
    running.push_back({"", {context_.programLowStep, context_.programHighStep}});
  if (auto config = context_.store.ControllerConfig(address);
      config.ok() && config->has_value() && !(*config)->profileNameExecuting.empty())
    running.push_back({(*config)->profileNameExecuting, {(*config)->programLowAddress, (*config)->programHighAddress}});
  for (const auto& [name, range] : running) {
    if (last < range.first || start > range.second) continue;
    const std::string what =
        (name.empty() ? "the program" : name) + " (steps " + Text(range.first) + " to " + Text(range.second) + ")";
    return context_.view.Confirm(
        "Program in use: " + (name.empty() ? "steps " + Text(range.first) + " - " + Text(range.second) : name),
        "WARNING: Steps " + Text(start) + " to " + Text(last) + " overlap " + what +
            ", which the controller runs or is selected to run. Proceed?");
  }
  return true;
}

UploadResult Upload::Run(const UploadInput& input) {
  UploadResult result;
  auto address = selection_.CurrentAddress();
  context_.ClearDisplay();
  if (!address) return result;
  if (input.profileName.empty()) {
    context_.Display("ERROR: Profile name not entered");
    return result;
  }

  const int count = static_cast<int>(program_.Compiled().steps.size());
  // Announced: the probe, the clears of an old copy and of overlaps are not known yet, then
  // the writes and reads of the range with the frames the controller is known to answer.
  const link::FrameUse frames = context_.FramesFor(*address);
  Exchanges exchanges(context_,
                      1 + link::WriteStepRangeExchanges(count, frames) + link::ReadStepRangeExchanges(count, frames));
  int start = 0, last = 0;
  if (!Checked(*address, input, start, last) || !MadeRoom(*address, input.profileName, start, count) ||
      !Written(*address, input.profileName, start, last))
    return result;
  return VerifiedAndLogged(*address, input, start, last);
}

bool Upload::Checked(std::uint8_t address, const UploadInput& input, int& start, int& last) {
  context_.view.SetLed(Led::Busy);
  if (auto probe = context_.commands.ReadProcessValue(address); !probe.ok()) {
    context_.FinishExchanges(probe.outcome, kCommsError);
    return false;
  }
  context_.view.SetLed(Led::Idle);
  if (!program_.ProfileCompiled()) {
    context_.Display("Error: You have not yet compiled the profile");
    context_.Display("Exiting upload process with no upload occurring");
    return false;
  }
  // The grid holds another profile's program: logged under this name, it would be a lie.
  if (!program_.CompiledFor(input.profileName)) {
    context_.Display("Error: The compiled program was compiled for " + program_.Compiled().profileName + ", not " +
                     input.profileName + ": compile " + input.profileName + " first");
    context_.Display("Exiting upload process with no upload occurring");
    return false;
  }

  // The checks of profile check once more, on what is about to be written.
  if (!program_.PassesChecks()) {
    context_.Display("Exiting upload process with no upload occurring");
    return false;
  }
  // The range is checked before anything is cleared or logged: a refused upload changes nothing.
  const int count = static_cast<int>(program_.Compiled().steps.size());
  if (!CheckRange(input.startStepText, count, start, last)) return false;
  if (!ConfirmOverRunningProgram(address, start, last)) {
    context_.Display("Upload cancelled: nothing was written");
    return false;
  }
  return true;
}

bool Upload::MadeRoom(std::uint8_t address, const std::string& name, int start, int count) {
  if (auto existing = context_.store.LogEntry(address, name); !existing.ok()) {
    Recorded(context_, existing.status(), "The profile log could not be read");
    context_.Display("Exiting upload process with no upload occurring");
    return false;
  } else if (existing->has_value()) {
    if (!context_.view.Confirm("Existing Profile: " + name,
                               "WARNING: This will overwrite a profile of same name. Proceed?"))
      return false;
    // The old copy goes from the controller; its entry leaves the log before the clear begins.
    const store::LogRow old = **existing;
    const bool cleared = memory_.ClearProgramRange(old.start, old.stop);
    log_.Show(address);
    if (!cleared) {
      context_.Display("ERROR: Profile not entered in log");
      return false;
    }
  }

  context_.view.SetLed(Led::Busy);
  if (!log_.EraseOverlappingLogEntries(address, start, count)) {
    context_.Display("ERROR: Profile not entered in log");
    return false;
  }
  return true;
}

bool Upload::Written(std::uint8_t address, const std::string& name, int start, int last) {
  const std::string& sensor = program_.Loaded().sensor;
  store::SensorMenu menu(context_.folder.SensorMenuDatabase());
  if (auto row = menu.ByCaption(sensor); !row.ok() || !row->has_value())
    context_.Display("Sensor type " + sensor + " is not a recognized type for this controller");
  if (last == link::kStepCount) context_.Display(kReachesStepSixtyFour);
  context_.Display("Adding " + name + " to the profile log data base and uploading to controller");

  auto marked = memory_.MarkBeforeWriting(address, start, last);
  if (!marked) {
    context_.Display("ERROR: Profile not entered in log");
    return false;
  }
  context_.view.SetLed(Led::Busy);
  // With the frames known now: a clear above may have learnt.
  const controller::Transfer write = controller::WriteProgram(context_, address, start, program_.Compiled().steps);
  context_.Learnt(address, write.learnt);
  const link::TransferFault& fault = write.fault;
  if (fault.ok()) return true;

  const bool cancelled = fault.outcome == link::Outcome::Cancelled;
  context_.view.SetLed(cancelled ? Led::Idle : Led::Error);
  const std::string partial =
      fault.beforeWriting ? "nothing was written"
                          : "steps " + Text(start) + " to " + Text(fault.lastTouched) + " may hold a partial program";
  if (cancelled) {
    context_.Display("Upload cancelled at step " + Text(fault.step) + " word " + Text(fault.word) + "; " + partial);
  } else {
    context_.Display(kCommsError);
    context_.Display("ERROR: Upload stopped at " + fault.Describe() + "; " + partial);
  }
  context_.Display("ERROR: Profile not entered in log");
  memory_.WriteStopped(*marked, fault);
  memory_.RereadAfterFailedWrite(start, fault);
  memory_.OfferDownload(address);
  if (!cancelled) context_.view.SetLed(Led::Error);
  return false;
}

UploadResult Upload::VerifiedAndLogged(std::uint8_t address, const UploadInput& input, int start, int last) {
  UploadResult result;
  // The written steps are the new program's: a jump's stored original no longer belongs there.
  if (!memory_.ForgetJumpCopies(address, start, last)) return NotLogged(address, result);

  context_.Display("Downloading the segments just uploaded for verification");
  auto readBack = memory_.ReadProgramRange(address, start, last);
  if (!readBack) {
    if (context_.line.Cancelled()) {
      context_.Display("Upload cancelled during the read-back: steps " + Text(start) + " to " + Text(last) +
                       " are written but not verified");
    } else {
      context_.view.SetLed(Led::Error);
      context_.Display("ERROR: The read-back failed: steps " + Text(start) + " to " + Text(last) + " are not verified");
    }
    // The map still shows the range as it was before the writes: read it again.
    if (!context_.line.Cancelled())
      memory_.RereadAfterFailedWrite(start, {link::Outcome::NoReply, last, 3, false, last});
    return NotLogged(address, result);
  }
  context_.Display("Controller memory range downloaded");
  const CompiledProgram& program = program_.Compiled();
  result.mismatches = link::CompareSteps(start, program.steps, *readBack);
  if (!result.mismatches.empty()) {
    // The map shows what the controller holds; the log keeps no entry for it.
    memory_.StoreRead(address, start, *readBack);
    context_.view.SetLed(Led::Error);
    context_.Display("ERROR: The controller does not hold the compiled profile: " +
                     Text(static_cast<int>(result.mismatches.size())) + " words differ");
    for (const auto& m : result.mismatches) context_.Display(DescribeMismatch(m));
    context_.DidNotKeep(address, ReadBack(result.mismatches.front()));
    return NotLogged(address, result);
  }

  // The read-back and the entry go in together: a log row always has its steps read back.
  const LoadedProfile& loaded = program_.Loaded();
  const store::LogRow entry{address,          input.profileName, start, last, loaded.sensor, loaded.temperatureScale,
                            loaded.timeScale, input.progression};
  result.logged = Recorded(context_, controller::RecordUpload(context_, address, start, *readBack, entry),
                           "The read-back and the profile log entry could not be stored");
  memory_.Show(address);
  context_.view.ScrollTo(Grid::ProgramMemory, start);
  memory_.FormatGrid();
  log_.Show(address);
  if (!result.logged) return NotLogged(address, result);
  memory_.HighlightProgramRange(start, static_cast<int>(program.steps.size()));
  context_.Display("Read-back matches the compiled profile");
  context_.view.SetLed(Led::Idle);
  return result;
}

UploadResult Upload::NotLogged(std::uint8_t address, UploadResult result) {
  context_.Display("ERROR: Profile not entered in log");
  memory_.OfferDownload(address);
  if (!context_.line.Cancelled()) context_.view.SetLed(Led::Error);
  return result;
}

}  // namespace tarvel::console
