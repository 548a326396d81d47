#pragma once
// console: the profile log grid -- the profiles uploaded to the current controller with the
// step range each occupies (TarvelLog), its marks, and the match of the controller's program
// limits against it. Depends on the console context and the memory map.

#include <cstdint>
#include <string>
#include <vector>

#include "console/channel_selection.h"
#include "console/context.h"
#include "console/grids.h"
#include "console/memory_map.h"

namespace tarvel::console {

// What matching the controller's program limits against the log found.
enum class LogMatch {
  Found,      // the matching row is marked and selected for running
  NotStored,  // the matching row is marked, but the selection could not be stored: that was shown
  NotFound,   // no row has those limits (or the log is empty): the warnings were shown
  Unread,     // the limits could not be read: the communication error was shown
};

class ProfileLog {
 public:
  ProfileLog(Context& context, ChannelSelection& selection, MemoryMap& memory)
      : context_(context), selection_(selection), memory_(memory) {}

  void Show(int address);
  void FormatGrid();
  void ToggleSize();
  bool Wide() const { return wide_; }
  void ShowExecutingProfile(int address);

  void Highlight(int first, int count, RowMark mark, bool clearFirst);
  void ClearMarks();
  const RowMarks& Marks() const { return marks_; }
  const std::vector<store::LogRow>& Rows() const { return rows_; }

  // Reads the controller's program limits and marks the log row they match; warns when none does.
  LogMatch MarkLogEntryOfProgramLimits();
  void SelectLogRow(int row);  // a click on the grid: marks the row and its program range
  // Stores the profile selected for running; false (shown) when the database refused.
  bool SaveRunSelection(std::uint8_t address, const std::string& profileName, int lowStep, int highStep);

  // "Delete Profile" on the grid's current row (1 = first data row): the entry goes and its
  // range is cleared in the controller, after confirmation.
  void DeleteProfile(int row);
  // "Clear Controller": every entry of the controller goes and steps 1..64 are cleared.
  void ClearProfileLog();
  // Clears in the controller and removes from the log every entry whose range overlaps
  // start..start + count - 1, each entry leaving the log before its clear begins. Stops at
  // the first clear that fails, or a log that cannot be read or changed; false then.
  bool EraseOverlappingLogEntries(std::uint8_t address, int start, int count);

 private:
  Context& context_;
  ChannelSelection& selection_;
  MemoryMap& memory_;
  bool wide_ = false;
  RowMarks marks_;
  std::vector<store::LogRow> rows_;  // what the grid shows, in grid order
};

}  // namespace tarvel::console
