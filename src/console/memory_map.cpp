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

namespace {

// "Step 5 keeps its stored original" / "Steps 5, 7 keep their stored originals".
std::string KeptOriginals(const std::vector<int>& steps) {
  std::string list;
  for (int step : steps) list += (list.empty() ? "" : ", ") + Text(step);
  return steps.size() == 1 ? "Step " + list + " keeps its stored original" : "Steps " + list + " keep their stored originals";
}

}  // namespace

std::optional<std::vector<link::ProgramStep>> MemoryMap::DownloadProgramRange(int firstStep, int lastStep) {
  // Checked before anything is read: an empty range would report a download that read nothing.
  if (firstStep > lastStep) {
    context_.Display("ERROR: Low step must not be above the high step");
    return std::nullopt;
  }
  if (firstStep < 1 || lastStep > link::kStepCount) {
    context_.Display("Entry must be a number in the range: 1 - 64");
    return std::nullopt;
  }
  auto address = selection_.CurrentAddress();
  if (!address) return std::nullopt;
  link::FrameUse frames = context_.FramesFor(*address);
  Exchanges exchanges(context_, link::ReadStepRangeExchanges(lastStep - firstStep + 1, frames));
  context_.view.SetLed(Led::Busy);
  link::RangeRead read = link::ReadStepRange(context_.commands, *address, firstStep, lastStep, frames);
  context_.Learnt(*address, frames);
  context_.view.SetLed(Led::Idle);
  if (!read.ok()) {
    // A partial read would mix the controller's words with stale ones: the map stays as it was.
    if (read.fault.outcome == link::Outcome::Cancelled) {
      context_.Display("Download cancelled at step " + Text(read.fault.step) + " word " + Text(read.fault.word) +
                       "; the memory map is unchanged");
      return std::nullopt;
    }
    context_.FinishExchanges(read.fault.outcome, kCommsError);
    context_.Display("Reading stopped at " + read.fault.Describe() + "; the memory map is unchanged");
    return std::nullopt;
  }
  context_.Display("Controller memory range downloaded");
  // A jump's copy runs in the controller while the row keeps the step it shortened: the row
  // is what Start puts back, so the copy never replaces it.
  std::vector<int> kept;
  for (const auto& row : context_.store.Memory(*address).value_or({}))
    if (row.modified == 1 && row.segment >= firstStep && row.segment <= lastStep) kept.push_back(row.segment);
  std::vector<store::MemoryRow> rows;
  for (std::size_t i = 0; i < read.steps.size(); ++i) {
    const auto& s = read.steps[i];
    const int step = firstStep + static_cast<int>(i);
    if (std::find(kept.begin(), kept.end(), step) != kept.end()) continue;
    rows.push_back({*address, step, s.duration, s.temperature, s.pidSet, 0});
  }
  if (!kept.empty())
    context_.Display(KeptOriginals(kept) + ": a jump changed it in the controller and Start Profile puts it back");
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
  link::FrameUse frames = context_.FramesFor(*address);
  Exchanges exchanges(context_, link::WriteStepRangeExchanges(count, frames) + link::ReadStepRangeExchanges(count, frames));
  context_.view.SetLed(Led::Busy);
  link::TransferFault fault = link::ClearStepRange(context_.commands, *address, firstStep, lastStep, frames);
  context_.Learnt(*address, frames);
  if (!fault.beforeWriting) ForgetJumpCopies(*address, firstStep, fault.ok() ? lastStep : fault.lastTouched);
  if (fault.outcome == link::Outcome::Cancelled) {
    context_.view.SetLed(Led::Idle);
    context_.Display("Clearing cancelled at step " + Text(fault.step) + " word " + Text(fault.word) + "; steps " +
                     Text(fault.step) + " to " + Text(lastStep) + " may still hold their old words");
    return false;
  }
  if (!fault.ok()) {
    context_.view.SetLed(Led::Error);
    context_.Display(kCommError);
    context_.Display("Clearing stopped at " + fault.Describe() + "; steps " + Text(fault.step) + " to " +
                     Text(lastStep) + " may still hold their old words");
    if (!fault.beforeWriting) RereadAfterFailedWrite(firstStep, fault);
    return false;
  }
  if (!DownloadProgramRange(firstStep, lastStep)) {
    if (!context_.line.Cancelled()) {
      context_.view.SetLed(Led::Error);
      context_.Display(kCommError);
    }
    return false;
  }
  context_.view.SetLed(Led::Idle);
  context_.Display("Program memory range cleared");
  return true;
}

void MemoryMap::ForgetJumpCopies(std::uint8_t address, int firstStep, int lastStep) {
  for (const auto& row : context_.store.Memory(address).value_or({}))
    if (row.modified == 1 && row.segment >= firstStep && row.segment <= lastStep)
      (void)context_.store.SetStepModified(address, row.segment, 0);
}

void MemoryMap::RereadAfterFailedWrite(int firstStep, const link::TransferFault& fault) {
  if (fault.outcome == link::Outcome::Cancelled || fault.beforeWriting || fault.lastTouched < firstStep) return;
  context_.Display("Reading steps " + Text(firstStep) + " to " + Text(fault.lastTouched) +
                   " again so that the memory map shows what the controller holds");
  if (!DownloadProgramRange(firstStep, fault.lastTouched))
    context_.Display("The memory map of steps " + Text(firstStep) + " to " + Text(fault.lastTouched) +
                     " may be out of date");
}

}  // namespace tarvel::console
