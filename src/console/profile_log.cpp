#include "console/profile_log.h"

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

bool ProfileLog::MarkLogEntryOfProgramLimits() {
  auto address = selection_.CurrentAddress();
  if (!address) return false;
  auto rows = context_.store.Log(*address).value_or({});
  if (rows.empty()) return false;

  Exchanges exchanges(context_, 2);
  context_.view.SetLed(Led::Busy);
  auto low = context_.commands.ReadProgramLowStep(*address);
  auto high = context_.commands.ReadProgramHighStep(*address);
  if (!low.ok() || !high.ok()) {
    // Unknown limits match nothing; saying so beats a mismatch warning about limits never read.
    context_.FinishExchanges(Worst(low.outcome, high.outcome), kCommsError);
    return false;
  }
  context_.view.SetLed(Led::Idle);
  context_.programLowStep = low.value;
  context_.programHighStep = high.value;
  context_.ShowField(Field::ProgramStepLow, Text(low.value));
  context_.ShowField(Field::ProgramStepHigh, Text(high.value));

  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].start == low.value && rows[i].stop == high.value) {
      const int row = static_cast<int>(i) + 1;
      Highlight(row, 1, RowMark::LogEntry, true);
      context_.view.SetCurrentRow(Grid::ProfileLog, row);
      SaveRunSelection(*address, rows[i].profileName, rows[i].start, rows[i].stop);
      return true;
    }
  }
  std::string text = "Program Limits: " + Text(low.value) + " - " + Text(high.value);
  if (low.value == 0 && high.value == 0) text += " indicate communications problem";
  context_.view.ShowWarning("Physical settings do not match any in the Profile Log", text);
  context_.Display("WARNING: Controller physical settings do not match any in Profile Log");
  context_.Display("Use SELECT PROFILE button to select a profile and change physical settings in Controller");
  return false;
}

void ProfileLog::SelectLogRow(int row) {
  if (row < 1 || row > static_cast<int>(rows_.size())) return;
  Highlight(row, 1, RowMark::LogEntry, true);
  const auto& entry = rows_[row - 1];
  memory_.HighlightProgramRange(entry.start, entry.stop - entry.start + 1);
  context_.view.ScrollTo(Grid::ProgramMemory, entry.start);
}

void ProfileLog::SaveRunSelection(std::uint8_t address, const std::string& profileName, int lowStep, int highStep) {
  context_.store.SaveRunSelection(address, profileName, lowStep, highStep);
  ShowExecutingProfile(address);
}

}  // namespace tarvel::console
