#include "console/memory_map.h"

namespace tarvel::console {

void MemoryMap::Show(int address) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& m : context_.store.Memory(address).value_or({}))
    rows.push_back({"", Text(m.modbusAddress), Text(m.segment), Text(m.duration), Text(m.temperature),
                    Text(m.pidSet), Text(m.modified)});
  context_.view.SetGridRows(Grid::ProgramMemory, rows);
  marks_.Resize(static_cast<int>(rows.size()));
  context_.view.SetRowMarks(Grid::ProgramMemory, marks_.All());
}

void MemoryMap::FormatGrid() { context_.view.SetGridLayout(Grid::ProgramMemory, ProgramMemoryLayout(wide_)); }

void MemoryMap::ToggleSize() {
  wide_ = !wide_;
  context_.view.SetSizeButton(Grid::ProgramMemory, wide_);
  FormatGrid();
}

void MemoryMap::Highlight(int first, int count, RowMark mark, bool clearFirst) {
  marks_.Highlight(first, count, mark, clearFirst);
  context_.view.SetRowMarks(Grid::ProgramMemory, marks_.All());
}

void MemoryMap::HighlightProgramRange(int startStep, int stepCount) {
  Highlight(startStep, stepCount, RowMark::ProgramRange, true);
}

void MemoryMap::HighlightCurrentStep(int step) { Highlight(step, 1, RowMark::CurrentStep, true); }

void MemoryMap::ClearMarks() {
  marks_.Resize(marks_.Rows());
  context_.view.SetRowMarks(Grid::ProgramMemory, marks_.All());
}

}  // namespace tarvel::console
