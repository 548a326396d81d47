#include "console/memory_map.h"

#include <algorithm>

#include "console/channel_selection.h"
#include "util/text.h"

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

namespace tarvel::console {

void MemoryMap::DownloadMemory(const std::string& startText, const std::string& stopText) {
  for (const std::string* text : {&startText, &stopText}) {
    if (!IsIntegerInRange(*text, 1, link::kStepCount)) {
      context_.Display("Entry must be a number in the range: 1 - 64");
      return;
    }
  }
  DownloadProgramRange(*ToInt16(startText), *ToInt16(stopText));
}

std::optional<std::vector<link::ProgramStep>> MemoryMap::DownloadProgramRange(int firstStep, int lastStep) {
  auto address = selection_.CurrentAddress();
  if (!address) return std::nullopt;
  Exchanges exchanges(context_, 3 * std::max(0, lastStep - firstStep + 1));
  context_.view.SetLed(Led::Busy);
  link::RangeRead read = link::ReadStepRange(context_.commands, *address, firstStep, lastStep);
  context_.view.SetLed(Led::Idle);
  if (!read.ok()) {
    // A partial read would mix the controller's words with stale ones: the map stays as it was.
    context_.FinishExchanges(read.fault.outcome, kCommsError);
    context_.Display("Reading stopped at " + read.fault.Describe() + "; the memory map is unchanged");
    return std::nullopt;
  }
  context_.Display("Controller memory range downloaded");
  std::vector<store::MemoryRow> rows;
  for (std::size_t i = 0; i < read.steps.size(); ++i) {
    const auto& s = read.steps[i];
    rows.push_back({*address, firstStep + static_cast<int>(i), s.duration, s.temperature, s.pidSet, 0});
  }
  if (auto stored = context_.store.WriteMemorySteps(*address, rows); !stored.ok())
    context_.Display("ERROR: The memory map could not be stored: " + stored.message());
  Show(*address);
  context_.view.ScrollTo(Grid::ProgramMemory, firstStep);
  FormatGrid();
  return read.steps;
}

bool MemoryMap::ClearProgramRange(int firstStep, int lastStep) {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  const int count = std::max(0, lastStep - firstStep + 1);
  Exchanges exchanges(context_, 6 * count);
  context_.view.SetLed(Led::Busy);
  link::TransferFault fault = link::ClearStepRange(context_.commands, *address, firstStep, lastStep);
  if (!fault.ok()) {
    context_.view.SetLed(Led::Error);
    context_.Display(kCommError);
    context_.Display("Clearing stopped at " + fault.Describe() + "; steps " + Text(fault.step) + " to " +
                     Text(lastStep) + " may still hold their old words");
    RereadAfterFailedWrite(firstStep, fault);
    return false;
  }
  if (!DownloadProgramRange(firstStep, lastStep)) {
    context_.view.SetLed(Led::Error);
    context_.Display(kCommError);
    return false;
  }
  context_.view.SetLed(Led::Idle);
  context_.Display("Program memory range cleared");
  return true;
}

void MemoryMap::RereadAfterFailedWrite(int firstStep, const link::TransferFault& fault) {
  if (fault.outcome == link::Outcome::Cancelled || fault.step < firstStep) return;
  context_.Display("Reading steps " + Text(firstStep) + " to " + Text(fault.step) +
                   " again so that the memory map shows what the controller holds");
  if (!DownloadProgramRange(firstStep, fault.step))
    context_.Display("The memory map of steps " + Text(firstStep) + " to " + Text(fault.step) + " may be out of date");
}

}  // namespace tarvel::console
