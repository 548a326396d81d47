#pragma once
// console: the console's grids as data: column layouts and row marks.

#include <vector>

#include "console/view.h"

namespace tarvel::console {

// Row marks of one grid, with the marking rule of HighlightGridRows: with clearFirst, every
// row carrying the same mark loses it; then rows first .. first + count - 1 get the mark.
// Rows are grid rows (1 = first data row); rows outside the grid are ignored.
class RowMarks {
 public:
  void Resize(int dataRows) { marks_.assign(dataRows > 0 ? dataRows : 0, RowMark::None); }
  int Rows() const { return static_cast<int>(marks_.size()); }
  void Highlight(int first, int count, RowMark mark, bool clearFirst);
  RowMark At(int row) const { return row >= 1 && row <= Rows() ? marks_[row - 1] : RowMark::None; }
  const std::vector<RowMark>& All() const { return marks_; }

 private:
  std::vector<RowMark> marks_;
};

GridLayout ProgramMemoryLayout(bool wide);  // narrow hides "Addr" and "Modif"
GridLayout ProfileLogLayout(bool wide);     // narrow hides "Unit Addr"
GridLayout CompiledProfileLayout(int gridWidthTwips);

}  // namespace tarvel::console
