#include "console/grids.h"

#include <algorithm>

namespace tarvel::console {

void RowMarks::Highlight(int first, int count, RowMark mark, bool clearFirst) {
  if (clearFirst) std::replace(marks_.begin(), marks_.end(), mark, RowMark::None);
  for (int row = std::max(first, 1); row < first + count && row <= Rows(); ++row) marks_[row - 1] = mark;
}

GridLayout ProgramMemoryLayout(bool wide) {
  return {{0, wide ? 500 : 0, 500, 1800, 1800, 1800, wide ? 1800 : 0},
          {"", "Addr", "Seg", "Time", "Temp", "PID", "Modif"}};
}

GridLayout ProfileLogLayout(bool wide) {
  return {{0, wide ? 1000 : 0, 2500, 1000, 1000, 1000, 1000, 1000, 1000},
          {"", "Unit Addr", "Profile", "Start", "Stop", "Sensor", "Temp Scale", "Time Scale", "Progress"}};
}

GridLayout CompiledProfileLayout(int gridWidthTwips) {
  int data = gridWidthTwips / 4 + 60;
  return {{500, data, data, data}, {"Seg", "Time", "Temp", "PID"}};
}

}  // namespace tarvel::console
