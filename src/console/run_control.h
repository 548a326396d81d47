#pragma once
// console: run control -- select a logged profile for running, start it, pause, restart,
// jump into a segment, the run mode panel and the program limits panel. Every sequence of
// exchanges stops at its first failure and says which exchange failed and what the
// controller may now hold (console/sequence.h). The jump and the program steps it changes
// are in jump.cpp; the point it leads to and each action's result are controller/run_control.h.
// Depends on the console context and the selection, memory map, profile log, monitor and
// settings rooms.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console/channel_selection.h"
#include "console/context.h"
#include "console/memory_map.h"
#include "console/monitor.h"
#include "console/profile_log.h"
#include "console/settings.h"
#include "controller/run_control.h"
#include "store/rows.h"

namespace tarvel::console {

using controller::ComputeModifiedPoint;
using controller::kJumpStep;
using controller::ModifiedPoint;
using controller::PointRefusal;
using controller::PointResult;
using controller::RunAction;
using controller::RunActionResult;
using controller::RunModeCode;

// The lines the user reads for a refused jump point.
std::vector<std::string> RefusalLines(PointRefusal refusal);

struct RestartState {
  int runMode = 0;
  int segment = 0;
  int elapsedTime = 0;
};

class Sequence;

class RunControl {
 public:
  RunControl(Context& context, ChannelSelection& selection, MemoryMap& memory, ProfileLog& log, Monitor& monitor,
             Settings& settings)
      : context_(context), selection_(selection), memory_(memory), log_(log), monitor_(monitor), settings_(settings) {}

  // The operator's front-panel start code, where the program can enter it (the built-in
  // simulated line); unset on a real line, where the operator does it.
  void SetFrontPanelStart(std::function<void(std::uint8_t address)> press) { frontPanelStart_ = std::move(press); }

  // Each returns true when it did all it set out to do; false when refused, cancelled or
  // stopped by a failure (the messages say which).

  // "Select Profile" on log row (1 = first data row): checks sensor and scale against the
  // controller, uploads the program limits and stores the selection.
  bool SelectRunProfile(int row);
  // "Start Profile": run mode 0, the front-panel start code, then the profile's run mode
  // once the start box is answered OK (after putting back the steps a jump changed). The stored
  // run state then holds no step until the new run's first reading.
  bool StartProfile();
  bool PauseProfile();
  bool RestartProfile();
  // "Jump To" with the texts of the Seg and Time boxes.
  bool JumpToSegmentPoint(const std::string& segmentText, const std::string& timeText);
  bool JumpTo(int segment, int time);
  // "Set Mode": writes the selected run mode, then reads the run state.
  bool SetRunMode();
  // "UpLoad Limits" with the texts of the Low Step and High Step boxes.
  bool UploadProgramLimits(const std::string& lowText, const std::string& highText);
  // "UpLoad Set Value": the single set point with the text of its box (the controller's settings).
  bool SetValue(const std::string& text);

  // The result of the last action, once it has ended.
  const RunActionResult& LastAction() const { return last_; }
  // Told of every action as it is about to write and once it has ended (none: nullptr).
  void Observe(controller::RunActionObserver* observer) { observer_ = observer; }

  std::optional<RestartState> GetRestartState(std::uint8_t address);
  // The stored limits of the selection; a selection whose limits were being written when its
  // command stopped is settled first with those the controller holds (one read).
  std::optional<std::pair<int, int>> GetSavedProgramLimits(std::uint8_t address);

 private:
  // Every public action runs its steps through here, and here its result is complete. An action
  // run as a step of another (Restart's jump) adds to the outer one's result.
  bool Act(RunAction action, const std::function<bool()>& steps);
  // Just before the action's first write to the line, the values it sets out to write in last_:
  // the observer is told, once per action.
  void Begins();
  bool SelectSteps(int row);
  bool UploadLimitsSteps(const std::string& lowText, const std::string& highText);
  bool StartSteps();
  // The front-panel start code, said step by step: true when the operator answers OK.
  bool AskFrontPanelStart(std::uint8_t address);
  bool PauseSteps();
  bool RestartSteps();
  bool JumpPointSteps(const std::string& segmentText, const std::string& timeText);  // then JumpTo
  bool JumpSteps(int segment, int time);
  bool SetModeSteps();

  // scaleWord: the word beside the high step when known, else it is read first. verify: the
  // limits are read back (the jump reads its own back at its end).
  bool UploadProgramLimits(Sequence& sequence, std::uint8_t address, int lowStep, int highStep,
                           std::optional<std::uint16_t> scaleWord = std::nullopt, bool verify = true);
  // Writes the run mode, the low step beside it kept, and reads both back.
  bool WriteRunModeChecked(Sequence& sequence, std::uint8_t address, int mode, int lowStep);
  // A selection recorded before its limits were written, and not confirmed since, is settled
  // with the limits the controller holds (one read): false (said) when they match neither it
  // nor the selection before.
  bool SettleSelection(std::uint8_t address, const store::ControllerConfigRow& row);
  // jump.cpp: the jump and the program steps it changes.
  // Refuses a program whose limits include step 64, the jump's trampoline; true when refused.
  bool RefuseStepSixtyFour(std::pair<int, int> limits);
  // Words 2 and 3 of a step: one write carrying both where the controller is known to keep both
  // registers of a write; else word 3 on its own as well, carrying word 1 of the step after it as
  // a read just before found it. verify: both are read back.
  bool WriteStepWords(Sequence& sequence, std::uint8_t address, int step, int duration, int temperature,
                      const link::FrameUse& frames, bool verify);
  // Words 2 and 3 of step read back: true when they are duration and temperature.
  bool ReadBackStep(Sequence& sequence, std::uint8_t address, int step, int duration, int temperature);
  // Puts back, read back, every step a jump changed but those in keep (which the jump under way
  // rewrites anyway); a step a program write began over only loses its mark.
  bool RestoreModifiedSteps(Sequence& sequence, std::uint8_t address, const link::FrameUse& frames,
                            const std::vector<int>& keep = {});
  // Sets or clears the step's Modified mark; a refusal of the database stops the sequence.
  bool SetStepModified(Sequence& sequence, std::uint8_t address, int step, int value, int jumpTime = 0);
  int ModifiedCount(std::uint8_t address);  // steps a jump changed, for the progress bar
  // The steps the point is computed from -- the segment and those up to the next timed step --
  // read from the controller where the map may not hold them or has no row: never a refusal.
  bool ReadStepsForPoint(std::uint8_t address, int segment);
  bool JumpSequence(Sequence& sequence, std::uint8_t address, int segment, const ModifiedPoint& point,
                    std::pair<int, int> savedLimits);
  // The parts of JumpSequence, in their order; each false when its sequence stopped.
  struct Jump;
  // Reads the run mode and the low step beside it (and the word beside the high step where the
  // limits are written alone), then holds the program within limits 1 - 64.
  bool HoldProgram(Jump& jump);
  // Reads the step the held program executes and marks it to be put back; a step the memory copy
  // cannot put back, or a mark the database refuses, gives the program back its limits and mode.
  bool TakeExecutingStep(Jump& jump);
  bool ReadTrampolineTemperature(Jump& jump);
  // Leads the program through step 64 into the shortened copy of the segment, puts back the
  // executing step, the limits and the mode.
  bool WriteJump(Jump& jump);
  // Reads back all that was written, then where the controller runs.
  bool JumpLanded(Jump& jump);
  void ShowMemory(std::uint8_t address);  // the memory copy with its Modified flags, marks kept

  Context& context_;
  ChannelSelection& selection_;
  MemoryMap& memory_;
  ProfileLog& log_;
  Monitor& monitor_;
  Settings& settings_;
  std::function<void(std::uint8_t)> frontPanelStart_;
  controller::RunActionObserver* observer_ = nullptr;
  RunActionResult last_;
  int acting_ = 0;  // nesting of Act
};

}  // namespace tarvel::console
