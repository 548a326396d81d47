#include "console/memory_map.h"

#include <algorithm>

#include "console/channel_selection.h"
#include "console/records.h"
#include "util/text.h"

namespace tarvel::console {

void MemoryMap::Show(int address) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& m : context_.store.Memory(address).value_or({})) {
    // The words of a marked step are what the map last knew, not what the controller holds.
    const auto word = [&m](int value) { return m.unknown != 0 ? std::string(kUnknownWord) : Text(value); };
    rows.push_back({"", Text(m.modbusAddress), Text(m.segment), word(m.duration), word(m.temperature), word(m.pidSet),
                    Text(m.modified)});
  }
  context_.view.SetGridRows(Grid::ProgramMemory, rows);
  marks_.Resize(static_cast<int>(rows.size()));
  context_.view.SetRowMarks(Grid::ProgramMemory, marks_.All());
}

void MemoryMap::Refresh(int address) {
  // Show repaints every row unmarked; the range and step marks still stand, so they go back.
  const std::vector<RowMark> marks = marks_.All();
  Show(address);
  for (int first = 0; first < static_cast<int>(marks.size());) {
    int end = first;
    while (end < static_cast<int>(marks.size()) && marks[end] == marks[first]) ++end;
    if (marks[first] != RowMark::None) Highlight(first + 1, end - first, marks[first], false);
    first = end;
  }
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
  return steps.size() == 1 ? "Step " + StepList(steps) + " keeps its stored original"
                           : "Steps " + StepList(steps) + " keep their stored originals";
}

std::string Range(int first, int last) {
  return first == last ? "step " + Text(first) : "steps " + Text(first) + " to " + Text(last);
}

// The refusal of forgetting the jump copies of first..last, said; true when there was none.
bool Said(Context& context, const controller::JumpCopiesForgotten& forgotten, int first, int last) {
  if (forgotten.ok()) return true;
  return Recorded(context, forgotten.status,
                  forgotten.failedStep == 0
                      ? "The jump marks of " + Range(first, last) + " could not be read"
                      : "The jump mark of step " + Text(forgotten.failedStep) + " could not be cleared");
}

}  // namespace

std::optional<std::vector<link::ProgramStep>> MemoryMap::DownloadProgramRange(int firstStep, int lastStep,
                                                                              std::vector<link::ProgramStep>* read) {
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
  auto steps = ReadProgramRange(*address, firstStep, lastStep);
  if (!steps) return std::nullopt;
  if (read) *read = *steps;
  context_.Display("Controller memory range downloaded");
  const bool stored = StoreRead(*address, firstStep, *steps);
  Show(*address);
  context_.view.ScrollTo(Grid::ProgramMemory, firstStep);
  FormatGrid();
  if (!stored) return std::nullopt;
  return steps;
}

std::optional<std::vector<link::ProgramStep>> MemoryMap::ReadProgramRange(std::uint8_t address, int firstStep,
                                                                          int lastStep) {
  Exchanges exchanges(context_, link::ReadStepRangeExchanges(lastStep - firstStep + 1, context_.FramesFor(address)));
  context_.view.SetLed(Led::Busy);
  controller::ProgramRead program = controller::ReadProgram(context_, address, firstStep, lastStep);
  context_.Learnt(address, program.learnt);
  context_.view.SetLed(Led::Idle);
  link::RangeRead& read = program.read;
  if (read.ok()) return std::move(read.steps);
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

bool MemoryMap::StoreRead(std::uint8_t address, int firstStep, const std::vector<link::ProgramStep>& steps) {
  const int lastStep = firstStep + static_cast<int>(steps.size()) - 1;
  const controller::StoredRead stored = controller::StoreProgramRead(context_, address, firstStep, steps);
  if (!stored.kept.empty())
    context_.Display(KeptOriginals(stored.kept) +
                     ": a jump changed it in the controller and Start Profile puts it back");
  return Recorded(context_, stored.status, "The memory map of " + Range(firstStep, lastStep) + " could not be stored");
}

bool MemoryMap::ClearProgramRange(int firstStep, int lastStep) {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  const int count = std::max(0, lastStep - firstStep + 1);
  const link::FrameUse frames = context_.FramesFor(*address);
  Exchanges exchanges(context_,
                      link::WriteStepRangeExchanges(count, frames) + link::ReadStepRangeExchanges(count, frames));
  auto marked = MarkBeforeWriting(*address, firstStep, lastStep);
  if (!marked) return false;
  context_.view.SetLed(Led::Busy);
  const controller::Transfer clear = controller::ClearProgram(context_, *address, firstStep, lastStep);
  context_.Learnt(*address, clear.learnt);
  const link::TransferFault& fault = clear.fault;
  if (!fault.ok()) {
    const bool cancelled = fault.outcome == link::Outcome::Cancelled;
    context_.view.SetLed(cancelled ? Led::Idle : Led::Error);
    if (!cancelled) context_.Display(kCommError);
    context_.Display((cancelled ? "Clearing cancelled at step " + Text(fault.step) + " word " + Text(fault.word)
                                : "Clearing stopped at " + fault.Describe()) +
                     "; steps " + Text(fault.step) + " to " + Text(lastStep) + " may still hold their old words");
    WriteStopped(*marked, fault);
    RereadAfterFailedWrite(firstStep, fault);
    OfferDownload(*address);
    return false;
  }
  // The read-back is stored as read, zeros or not: the map shows what the controller holds.
  std::vector<link::ProgramStep> read;
  if (!ForgetJumpCopies(*address, firstStep, lastStep) || !DownloadProgramRange(firstStep, lastStep, &read)) {
    // A database that refused is said as such above, never as a failure of the line.
    if (read.empty() && !context_.line.Cancelled()) context_.Display(kCommError);
    if (!context_.line.Cancelled()) context_.view.SetLed(Led::Error);
    OfferDownload(*address);
    return false;
  }
  const auto left = link::CompareSteps(firstStep, std::vector<link::ProgramStep>(read.size()), read);
  if (!left.empty()) {
    for (const auto& m : left) context_.Display(DescribeMismatch(m));
    context_.DidNotKeep(*address, ReadBack(left.front()));
    context_.Display("ERROR: " + Text(static_cast<int>(left.size())) + " words of " + Range(firstStep, lastStep) +
                     " are not cleared");
    return false;
  }
  context_.view.SetLed(Led::Idle);
  context_.Display("Program memory range cleared");
  return true;
}

std::optional<MarkedWrite> MemoryMap::MarkBeforeWriting(std::uint8_t address, int first, int last) {
  controller::Marking marking = controller::MarkBeforeWriting(context_, address, first, last);
  if (marking.write) {
    for (const auto& row : marking.dropped)
      context_.Display("Profile " + row.profileName + " (" + Range(row.start, row.stop) +
                       ") taken out of the profile log: " + Range(first, last) + " are written over");
    Refresh(address);
    return std::move(marking.write);
  }
  Recorded(context_, marking.status, Range(first, last) + " could not be marked in the memory map before writing");
  context_.Display("Nothing was written to the controller");
  return std::nullopt;
}

void MemoryMap::WriteStopped(const MarkedWrite& write, const link::TransferFault& fault) {
  const controller::StoppedWrite stopped = controller::WriteStopped(context_, write, fault);
  if (stopped.forgotten) Said(context_, *stopped.forgotten, write.first, stopped.reached);
  Recorded(context_, stopped.restored, "The marks of the steps not written could not be cleared");
  Refresh(write.address);
}

bool MemoryMap::ForgetJumpCopies(std::uint8_t address, int firstStep, int lastStep) {
  return Said(context_, controller::ForgetJumpCopies(context_, address, firstStep, lastStep), firstStep, lastStep);
}

void MemoryMap::RereadAfterFailedWrite(int firstStep, const link::TransferFault& fault) {
  if (fault.outcome == link::Outcome::Cancelled || fault.beforeWriting || fault.lastTouched < firstStep) return;
  context_.Display("Reading steps " + Text(firstStep) + " to " + Text(fault.lastTouched) +
                   " again so that the memory map shows what the controller holds");
  if (!DownloadProgramRange(firstStep, fault.lastTouched))
    context_.Display("The memory map of steps " + Text(firstStep) + " to " + Text(fault.lastTouched) +
                     " may be out of date");
}

void MemoryMap::OfferDownload(std::uint8_t address) {
  std::vector<int> written, unread;
  for (const auto& row : context_.store.UnknownSteps(address).value_or({}))
    (row.unknown == store::kNotRead ? unread : written).push_back(row.segment);
  if (written.empty() && unread.empty()) return;
  // Each step is said with the reason the map may not hold it.
  const auto say = [&](const std::vector<int>& steps, const char* why) {
    if (steps.empty()) return;
    context_.Display(std::string("WARNING: ") + (steps.size() == 1 ? "Step " : "Steps ") + StepList(steps) +
                     " of unit #" + Text(address) + " may hold other words than the memory map (shown as " +
                     kUnknownWord + "): " + why);
  };
  say(written, "a write to them did not finish");
  say(unread, "they have not been read since a controller was put at this address");
  const int first = std::min(written.empty() ? link::kStepCount : written.front(),
                             unread.empty() ? link::kStepCount : unread.front());
  const int last = std::max(written.empty() ? 1 : written.back(), unread.empty() ? 1 : unread.back());
  context_.ShowField(Field::DownloadStartStep, Text(first));
  context_.ShowField(Field::DownloadStopStep, Text(last));
  context_.Display("Use DownLoad Memory with Low Step " + Text(first) + " and High Step " + Text(last) +
                   " to read them");
}

void MemoryMap::OfferDownload() {
  auto channel = ToInt16(selection_.CurrentChannelText());
  if (!channel) return;
  auto row = context_.store.ChannelByNumber(*channel);
  if (row.ok() && row->has_value() && (*row)->modbusAddress >= 1 && (*row)->modbusAddress <= 247)
    OfferDownload(static_cast<std::uint8_t>((*row)->modbusAddress));
}

}  // namespace tarvel::console
