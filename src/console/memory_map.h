#pragma once
// console: the program memory grid -- the console's copy of a controller's 64 program steps
// (ControllerMemory), its row marks, and the range download and clear that fill it.
//
// A row may disagree with the controller only under a mark, written before the controller is:
// - Unknown: a program write (upload, clear, delete profile, clear controller) marks its steps
//   and takes the profile log rows they touch out of the log, in one transaction, before its
//   first write; a good read of a step clears the mark. The grid shows such a step as "?".
// - Modified: a jump marks each step it will rewrite before writing it, and the row keeps the
//   step's original, which Start puts back; the mark is cleared once the original is back.
// So after a failure or a kill at any point, no unmarked row holds other words than the controller.
// Depends on the console context and the controller's program transfers, whose results it words.

#include <optional>

#include "console/context.h"
#include "console/grids.h"
#include "controller/program.h"
#include "link/transfers.h"

namespace tarvel::console {

class ChannelSelection;

// What the grid shows for a word of a step marked Unknown.
inline constexpr const char* kUnknownWord = "?";

using controller::MarkedWrite;

class MemoryMap {
 public:
  MemoryMap(Context& context, ChannelSelection& selection) : context_(context), selection_(selection) {}

  // "DownLoad Memory" with the texts of the two step boxes.
  void DownloadMemory(const std::string& startText, const std::string& stopText);
  // Reads steps first..last (1..64, first not above last) of the current controller into the
  // memory map and clears their marks. The map is written only when every read succeeded; a
  // step a jump changed (Modified) keeps its stored original, as Start puts that back, and the
  // user is told. The steps read are returned; nothing when a read or the store failed. read,
  // when given, receives the steps read even when they could not be stored.
  std::optional<std::vector<link::ProgramStep>> DownloadProgramRange(int firstStep, int lastStep,
                                                                     std::vector<link::ProgramStep>* read = nullptr);
  // The exchanges of a download without the store: nothing (the failure shown) when one failed.
  std::optional<std::vector<link::ProgramStep>> ReadProgramRange(std::uint8_t address, int firstStep, int lastStep);
  // Stores steps read from firstStep on and clears their marks; a Modified step keeps its
  // original while the controller still runs the jump's copy. False (shown) when the store failed.
  bool StoreRead(std::uint8_t address, int firstStep, const std::vector<link::ProgramStep>& steps);
  // Zeroes steps first..last in the controller, stopping at the first failed write, then
  // reads the range back. The log rows the range touches leave the log before the first
  // write. True when every exchange and every database write succeeded.
  bool ClearProgramRange(int firstStep, int lastStep);

  // Before a program write of steps first..last: marks them Unknown and takes the log rows
  // they touch out of the log, in one transaction (each row taken out is told). Nothing when
  // the database refused: the reason is shown and the command must send nothing.
  std::optional<MarkedWrite> MarkBeforeWriting(std::uint8_t address, int first, int last);
  // After the write of a marked range stopped: the steps it cannot have reached get back the
  // state they had, and the jump copies of those it may have reached are forgotten.
  void WriteStopped(const MarkedWrite& write, const link::TransferFault& fault);
  // Steps first..last were overwritten by a program write: no jump's copy is left in them,
  // so no stored original is to be put back (their Modified flags go to 0). False (shown) when
  // the database refused.
  bool ForgetJumpCopies(std::uint8_t address, int firstStep, int lastStep);
  // After a write sequence failed at step lastStep: reads first..lastStep again, so the map
  // shows what the controller now holds rather than what it held before. Not after a cancel.
  void RereadAfterFailedWrite(int firstStep, const link::TransferFault& fault);
  // When steps of the address are marked Unknown: says which, and fills the DownLoad panel's
  // steps with their range. The second form takes the current channel, quietly.
  void OfferDownload(std::uint8_t address);
  void OfferDownload();

  void Show(int address);     // the memory rows of address, unmarked; Unknown steps as "?"
  void Refresh(int address);  // the same, the row marks kept
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
