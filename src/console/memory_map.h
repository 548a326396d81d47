#pragma once
// console: the program memory grid -- the console's copy of a controller's 64 program steps
// (ControllerMemory), its row marks, and the range download and clear that fill it.
// Depends on the console context only.

#include "console/context.h"
#include "console/grids.h"

namespace tarvel::console {

class MemoryMap {
 public:
  explicit MemoryMap(Context& context) : context_(context) {}

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
  bool wide_ = false;
  RowMarks marks_;
};

}  // namespace tarvel::console
