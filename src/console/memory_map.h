#pragma once
// console: the program memory grid -- the console's copy of a controller's 64 program steps
// (ControllerMemory), its row marks, and the range download and clear that fill it.
// Depends on the console context only.

#include <optional>

#include "console/context.h"
#include "console/grids.h"
#include "link/transfers.h"

namespace tarvel::console {

class ChannelSelection;

class MemoryMap {
 public:
  MemoryMap(Context& context, ChannelSelection& selection) : context_(context), selection_(selection) {}

  // "DownLoad Memory" with the texts of the two step boxes.
  void DownloadMemory(const std::string& startText, const std::string& stopText);
  // Reads steps first..last (1..64, first not above last) of the current controller into the
  // memory map. The map is written only when every read succeeded; a step a jump changed
  // (Modified) keeps its stored original, as Start puts that back, and the user is told. The
  // steps read are returned, nothing when a read failed.
  std::optional<std::vector<link::ProgramStep>> DownloadProgramRange(int firstStep, int lastStep);
  // Zeroes steps first..last in the controller, stopping at the first failed write, then
  // reads the range back. True when every exchange succeeded.
  bool ClearProgramRange(int firstStep, int lastStep);
  // Steps first..last were overwritten by a program write: no jump's copy is left in them,
  // so no stored original is to be put back (their Modified flags go to 0).
  void ForgetJumpCopies(std::uint8_t address, int firstStep, int lastStep);
  // After a write sequence failed at step lastStep: reads first..lastStep again, so the map
  // shows what the controller now holds rather than what it held before. Not after a cancel.
  void RereadAfterFailedWrite(int firstStep, const link::TransferFault& fault);

  void Show(int address);  // the memory rows of address, unmarked
  void FormatGrid();
  void ToggleSize();
  bool Wide() const { return wide_; }

  void Highlight(int first, int count, RowMark mark, bool clearFirst);
  void HighlightProgramRange(int startStep, int stepCount);
  void HighlightCurrentStep(int step);
  void ClearMarks();
  const RowMarks& Marks() const { return marks_; }

 private:
  Context& context_;
  ChannelSelection& selection_;
  bool wide_ = false;
  RowMarks marks_;
};

}  // namespace tarvel::console
