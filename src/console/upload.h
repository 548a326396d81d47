#pragma once
// console: the upload of a compiled profile -- checks, overlap clearing, the step writes
// (their steps marked before the first one), the read-back compared word by word with the
// compiled program, and the profile log entry, stored together with the read-back and only
// when the controller holds exactly the compiled program.
// Depends on the console context, selection, memory map, profile log and profile program.

#include <string>
#include <vector>

#include "console/channel_selection.h"
#include "console/context.h"
#include "console/memory_map.h"
#include "console/profile_log.h"
#include "console/profile_program.h"
#include "link/transfers.h"

namespace tarvel::console {

// What the window holds when "UpLoad Profile" is pressed.
struct UploadInput {
  std::string profileName;    // CompileProfileNameDisplay
  std::string startStepText;  // StartAddressDisplay
  std::string progression;    // cmbProgressionSelect: "SV" or "PV"
};

struct UploadResult {
  bool logged = false;                         // written, read back equal, and entered in the log
  std::vector<link::WordMismatch> mismatches;  // of the read-back, when it was made
};

class Upload {
 public:
  Upload(Context& context, ChannelSelection& selection, MemoryMap& memory, ProfileLog& log, ProfileProgram& program)
      : context_(context), selection_(selection), memory_(memory), log_(log), program_(program) {}

  UploadResult Run(const UploadInput& input);

 private:
  // The start step entry again, and the end step, before anything is changed.
  bool CheckRange(const std::string& startText, int count, int& start, int& last);
  // Asks before steps start..last overwrite the program the controller runs or is selected
  // to run; true when they do not, or the user says so.
  bool ConfirmOverRunningProgram(std::uint8_t address, int start, int last);
  // The checks before anything is changed: the controller answers, the compiled program is this
  // profile's and passes every check, the range fits, the user allows it; start..last is the range.
  bool Checked(std::uint8_t address, const UploadInput& input, int& start, int& last);
  // An old copy of the profile cleared from the controller and the log, and log entries the
  // range overlaps taken out.
  bool MadeRoom(std::uint8_t address, const std::string& name, int start, int count);
  // The steps marked and written; a failure or cancel is said with the steps it may have left.
  bool Written(std::uint8_t address, const std::string& name, int start, int last);
  // The read-back compared with the compiled program, then stored with the log entry.
  UploadResult VerifiedAndLogged(std::uint8_t address, const UploadInput& input, int start, int last);
  // Written but not logged: says so, offers to read the marked steps, and returns result.
  UploadResult NotLogged(std::uint8_t address, UploadResult result);

  Context& context_;
  ChannelSelection& selection_;
  MemoryMap& memory_;
  ProfileLog& log_;
  ProfileProgram& program_;
};

}  // namespace tarvel::console
