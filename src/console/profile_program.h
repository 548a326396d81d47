#pragma once
// console: the program steps of a design profile, and the room behind the console's "Compiled
// Profile" frame -- open a profile file, the start step entry, the program built and shown, the
// target marked in the memory map and its conflicts with the profile log.
// StepsOfProfile is pure; the room depends on the console context, selection and memory map.

#include <filesystem>
#include <string>
#include <vector>

#include "console/channel_selection.h"
#include "console/context.h"
#include "console/memory_map.h"
#include "link/transfers.h"
#include "profile/profile_table.h"

namespace tarvel::console {

// Duration codes of the event steps that a Command cell's "J1=" / "J2=" keys add.
inline constexpr int kRelay1On = -1011;
inline constexpr int kRelay1Off = -1010;
inline constexpr int kRelay2On = -1021;
inline constexpr int kRelay2Off = -1020;

struct CompiledProgram {
  std::vector<link::ProgramStep> steps;  // never more than the controller's 64
  int startStep = 1;                     // program step of steps[0]
  bool truncated = false;                // the profile needed more than 64 steps: the rest was dropped
  std::string profileName;               // the profile it was compiled from: only it may be uploaded
  int LastStep() const { return startStep + static_cast<int>(steps.size()) - 1; }
};

// Step 64 is the jump's trampoline: a program that reaches it can be uploaded and run, but
// never jumped within or restarted, and any jump borrows its step 64 until the next Start.
// Said by compile and upload.
inline constexpr const char* kReachesStepSixtyFour =
    "WARNING: The program reaches step 64, which Jump To and Restart Profile borrow: it cannot be jumped "
    "within or restarted, and a jump in any program changes its step 64 until the next Start Profile";

// One step per profile row (PID set from "C=", else 1; the Duration, in minutes for an hours
// profile; the Start Temp), the end row with time 0, and after a row the event steps of its
// "J1=" and "J2=" keys ("on" / "off" only) at the next row's Start Temp. Numbers are rounded
// half to even; a cell that is not a number gives 0.
CompiledProgram StepsOfProfile(const profile::ProfileTable& table, const profile::ProfileSettings& settings,
                               int startStep);

// The profile loaded into the console, as the upload takes it.
struct LoadedProfile {
  std::string name;  // file name without folder: the name in the profile log
  profile::ProfileTable table;
  std::string sensor, temperatureScale, timeScale;  // the three settings as shown
  profile::ProfileSettings Settings() const {
    return {sensor, profile::TemperatureScaleFromLetter(temperatureScale.empty() ? 'F' : temperatureScale[0]),
            profile::TimeScaleFromLetter(timeScale.empty() ? 'M' : timeScale[0])};
  }
};

class ProfileProgram {
 public:
  ProfileProgram(Context& context, ChannelSelection& selection, MemoryMap& memory)
      : context_(context), selection_(selection), memory_(memory) {}

  // "Open Profile" with the chosen file; an empty path (dialog cancelled) does nothing. A
  // profile that loads takes the place of the compiled program of the one before.
  bool OpenProfile(const std::filesystem::path& file);
  // Every change of the start step entry.
  void SetStartStepText(const std::string& text);
  // The program of the loaded profile from the start step, shown in the grid and marked in the
  // memory map; none when the profile checks refuse it.
  void BuildProgram();
  // "Compile Profile": the program built, then its target reported: its conflicts with the log,
  // or that it does not fit below step 64.
  void BuildAndCheckTarget();
  // The checks of tarvel-cli profile check on the loaded profile; a refusal is shown with its lines.
  bool PassesChecks();
  bool CheckMemoryConflict(int address, int start, int count);

  const LoadedProfile& Loaded() const { return loaded_; }
  const CompiledProgram& Compiled() const { return compiled_; }
  bool ProfileCompiled() const { return compiled_flag_; }
  // Compiled, and from the profile of this name.
  bool CompiledFor(const std::string& profileName) const {
    return compiled_flag_ && compiled_.profileName == profileName;
  }
  int CompiledStartStep() const { return startStep_; }

 private:
  Context& context_;
  ChannelSelection& selection_;
  MemoryMap& memory_;
  LoadedProfile loaded_;
  CompiledProgram compiled_;
  bool compiled_flag_ = false;
  int startStep_ = 1;
};

}  // namespace tarvel::console
