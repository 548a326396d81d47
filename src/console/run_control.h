#pragma once
// console: run control -- select a logged profile for running, start it, pause, restart,
// jump into a segment, the run mode panel and the program limits panel. Every sequence of
// exchanges stops at its first failure and says which exchange failed and what the
// controller may now hold (console/sequence.h). The jump and the program steps it changes
// are in jump.cpp; the point it leads to is computed in console/jump.h.
// Depends on the console context and the selection, memory map, profile log, monitor and
// settings rooms.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console/channel_selection.h"
#include "console/context.h"
#include "console/jump.h"
#include "console/memory_map.h"
#include "console/monitor.h"
#include "console/profile_log.h"
#include "console/settings.h"
#include "store/rows.h"

namespace tarvel::console {

// The run mode code of a logged profile: 2 more for PV progression, then 1 for seconds,
// else 2 (any other time scale, H included, counts as minutes).
int RunModeCode(const std::string& progressionType, const std::string& timeScaleType);

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
  // once the start box is answered OK (after putting back the steps a jump changed).
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

  std::optional<RestartState> GetRestartState(std::uint8_t address);
  std::optional<std::pair<int, int>> GetSavedProgramLimits(std::uint8_t address);

 private:
  // scaleWord: the word beside the high step when known, else it is read first.
  bool UploadProgramLimits(Sequence& sequence, std::uint8_t address, int lowStep, int highStep,
                           std::optional<std::uint16_t> scaleWord = std::nullopt);
  // jump.cpp: the jump and the program steps it changes.
  // Refuses a program whose limits include step 64, the jump's trampoline; true when refused.
  bool RefuseStepSixtyFour(std::pair<int, int> limits);
  // Writes the step's words (word 1 only with pidSet), word 3 carrying word 1 of the step
  // after it as one read just before found it.
  bool WriteStepWords(Sequence& sequence, std::uint8_t address, int step, std::optional<int> pidSet, int duration,
                      int temperature);
  bool RestoreModifiedSteps(Sequence& sequence, std::uint8_t address);
  bool RestoreStep(Sequence& sequence, std::uint8_t address, int step);
  // Sets or clears the step's Modified mark; a refusal of the database stops the sequence.
  bool SetStepModified(Sequence& sequence, std::uint8_t address, int step, int value, int jumpTime = 0);
  int ModifiedCount(std::uint8_t address);  // steps a jump changed, for the progress bar
  bool JumpSequence(Sequence& sequence, std::uint8_t address, int segment, const ModifiedPoint& point,
                    std::pair<int, int> savedLimits);
  void ShowMemory(std::uint8_t address);  // the memory copy with its Modified flags, marks kept

  Context& context_;
  ChannelSelection& selection_;
  MemoryMap& memory_;
  ProfileLog& log_;
  Monitor& monitor_;
  Settings& settings_;
  std::function<void(std::uint8_t)> frontPanelStart_;
};

}  // namespace tarvel::console
