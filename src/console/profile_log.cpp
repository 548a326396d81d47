#include "console/profile_log.h"

#include <algorithm>

#include "console/records.h"

namespace tarvel::console {

using link::Worst;

void ProfileLog::Show(int address) {
  rows_ = context_.store.Log(address).value_or({});
  std::vector<std::vector<std::string>> rows;
  for (const auto& l : rows_)
    rows.push_back({"", Text(l.modbusAddress), l.profileName, Text(l.start), Text(l.stop), l.sensorType,
                    l.temperatureScaleType, l.timeScaleType, l.progressionType});
  context_.view.SetGridRows(Grid::ProfileLog, rows);
  if (marks_.Rows() != static_cast<int>(rows.size())) marks_.Resize(static_cast<int>(rows.size()));
  context_.view.SetRowMarks(Grid::ProfileLog, marks_.All());
}

void ProfileLog::ShowExecutingProfile(int address) {
  auto row = context_.store.ControllerConfig(address);
  context_.ShowField(Field::ExecutingProfileName,
                     row.ok() && row->has_value() ? (*row)->profileNameExecuting : std::string());
}

void ProfileLog::FormatGrid() {
  if (!rows_.empty()) Show(rows_.front().modbusAddress);
  context_.view.SetGridLayout(Grid::ProfileLog, ProfileLogLayout(wide_));
}

void ProfileLog::ToggleSize() {
  wide_ = !wide_;
  context_.view.SetSizeButton(Grid::ProfileLog, wide_);
  FormatGrid();
}

void ProfileLog::Highlight(int first, int count, RowMark mark, bool clearFirst) {
  marks_.Highlight(first, count, mark, clearFirst);
  context_.view.SetRowMarks(Grid::ProfileLog, marks_.All());
}

void ProfileLog::ClearMarks() {
  marks_.Resize(marks_.Rows());
  context_.view.SetRowMarks(Grid::ProfileLog, marks_.All());
}

LogMatch ProfileLog::MarkLogEntryOfProgramLimits() {
  auto address = selection_.CurrentAddress();
  if (!address) return LogMatch::Unread;
  auto rows = context_.store.Log(*address).value_or({});
  if (rows.empty()) return LogMatch::NotFound;

  Exchanges exchanges(context_, 1);
  context_.view.SetLed(Led::Busy);
  const auto [low, high] = context_.commands.ReadProgramLimits(*address);
  if (!low.ok() || !high.ok()) {
    // Unknown limits match nothing; saying so beats a mismatch warning about limits never read.
    context_.FinishExchanges(Worst(low.outcome, high.outcome), kCommsError);
    return LogMatch::Unread;
  }
  context_.view.SetLed(Led::Idle);
  context_.SetProgramLimits(low.value, high.value);

  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].start == low.value && rows[i].stop == high.value) {
      const int row = static_cast<int>(i) + 1;
      Highlight(row, 1, RowMark::LogEntry, true);
      context_.view.SetCurrentRow(Grid::ProfileLog, row);
      if (!SaveRunSelection(*address, rows[i].profileName, rows[i].start, rows[i].stop)) return LogMatch::NotStored;
      return LogMatch::Found;
    }
  }
  std::string text = "Program Limits: " + Text(low.value) + " - " + Text(high.value);
  if (low.value == 0 && high.value == 0) text += " indicate communications problem";
  context_.view.ShowWarning("Physical settings do not match any in the Profile Log", text);
  context_.Display("WARNING: Controller physical settings do not match any in Profile Log");
  context_.Display("Use SELECT PROFILE button to select a profile and change physical settings in Controller");
  return LogMatch::NotFound;
}

void ProfileLog::SelectLogRow(int row) {
  if (row < 1 || row > static_cast<int>(rows_.size())) return;
  Highlight(row, 1, RowMark::LogEntry, true);
  const auto& entry = rows_[row - 1];
  memory_.HighlightProgramRange(entry.start, entry.stop - entry.start + 1);
  context_.view.ScrollTo(Grid::ProgramMemory, entry.start);
}

bool ProfileLog::SaveRunSelection(std::uint8_t address, const std::string& profileName, int lowStep, int highStep) {
  const bool saved = Recorded(context_, context_.store.SaveRunSelection(address, profileName, lowStep, highStep),
                              "The profile selected for running could not be stored");
  ShowExecutingProfile(address);
  return saved;
}

}  // namespace tarvel::console

namespace tarvel::console {

void ProfileLog::DeleteProfile(int row) {
  const bool inGrid = row >= 1 && row <= static_cast<int>(rows_.size());
  context_.Display("Profile: " + (inGrid ? rows_[row - 1].profileName : std::string()) +
                   " - will be deleted upon confirmation");
  Highlight(row, 1, RowMark::LogEntry, true);
  if (!context_.view.Confirm("Erase profile entry and corresponding controller memory range",
                             "WARNING: Erasure of highlighted profile will occur. Proceed?"))
    return;
  if (!inGrid) return;
  const store::LogRow entry = rows_[row - 1];
  auto address = selection_.CurrentAddress();
  if (!address) return;
  auto found = context_.store.LogEntry(*address, entry.profileName);
  if (!Recorded(context_, found.status(), "The profile log could not be read")) return;
  if (!found->has_value()) context_.Display("No entry to delete");
  // The entry leaves the log together with the marks of its steps, before the clear begins.
  memory_.ClearProgramRange(entry.start, entry.stop);
  Show(*address);
}

void ProfileLog::ClearProfileLog() {
  auto address = selection_.CurrentAddress();
  if (!address) return;
  // A run in progress is named below the warning: clearing its steps ends it.
  std::string text = "WARNING: This will wipe out all profile entries. Proceed?";
  if (const std::string running = context_.RunningProgramLine(*address); !running.empty()) text += "\r\n" + running;
  if (!context_.view.ConfirmRisky("Clear Uploaded Profile Log", text)) return;
  auto rows = context_.store.Log(*address);
  if (!rows.ok() || rows->empty()) context_.Display("RecordSet error");
  context_.view.SetLed(Led::Busy);
  // Every entry leaves the log together with the marks of steps 1 to 64, before the clear begins.
  memory_.ClearProgramRange(1, link::kStepCount);
  Show(*address);
  SaveRunSelection(*address, "", 1, 2);
}

bool ProfileLog::EraseOverlappingLogEntries(std::uint8_t address, int start, int count) {
  const int end = start + count - 1;
  // Each clear takes the entries its range touches out of the log: the log is read again after it.
  for (int clears = 0; clears <= link::kStepCount; ++clears) {
    auto rows = context_.store.Log(address);
    if (!Recorded(context_, rows.status(), "The profile log could not be read")) break;
    auto entry = std::find_if(rows->begin(), rows->end(),
                              [&](const store::LogRow& r) { return end >= r.start && start <= r.stop; });
    if (entry == rows->end()) {
      Show(address);
      return true;
    }
    context_.Display("Clearing " + entry->profileName + " (steps " + Text(entry->start) + " to " + Text(entry->stop) +
                     "), which the new profile overlaps");
    if (!memory_.ClearProgramRange(entry->start, entry->stop)) break;
  }
  Show(address);
  return false;
}

}  // namespace tarvel::console
