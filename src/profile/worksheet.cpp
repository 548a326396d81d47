#include "profile/worksheet.h"

#include <cmath>
#include <cstdio>

#include "profile/profile_text.h"
#include "profile/verify.h"
#include "util/text.h"

namespace tarvel::profile {
namespace {

constexpr std::string_view kCrLf = "\r\n";

bool IsDigit(char key) { return key >= '0' && key <= '9'; }

KeyFilterResult Verdict(bool accepted) { return {accepted ? KeyVerdict::Accept : KeyVerdict::Beep, {}}; }

KeyFilterResult NotEditable(std::string_view first, std::string_view second = {}) {
  std::string message(first);
  if (!second.empty()) message.append(kCrLf).append(second);
  return {KeyVerdict::NotEditable, message};
}

int Sign(double value) { return (value > 0) - (value < 0); }

CellChanges Diff(const ProfileTable& before, const ProfileTable& after) {
  CellChanges changes;
  for (int row = 1; row <= kLastSegmentRow; ++row)
    for (int column = 0; column < kTableColumns; ++column)
      if (before.at(row, column) != after.at(row, column))
        changes.push_back({row, column, before.at(row, column), after.at(row, column)});
  return changes;
}

}  // namespace

KeyFilterResult FilterKey(int row, int column, char key) {
  if (row == 0) return NotEditable("You can not edit header title");
  const bool number = IsDigit(key) || key == kBackspace || key == '.';
  switch (column) {
    case kSeg: return NotEditable("This entry is a constant", "You can not edit this column");
    case kStartTime:
      return NotEditable("This entry is calculate from the other entries",
                         "You can not manually edit this column, change duration of previous segments to change this");
    case kAction:
      if (key == 'e' || key == 'h' || key == 'r' || key == 'w') return {KeyVerdict::AcceptAlone, {}};
      return Verdict(false);
    case kDuration:
    case kErrorLimits: return Verdict(number);
    case kStartTemp:
      if (row >= 2)
        return NotEditable("This entry is set from your previous segment end temperature",
                           "You can not manually edit this column");
      return Verdict(number || key == '-');
    case kEndTemp:
    case kRampRate: return Verdict(number || key == '-');
    case kCommand: return Verdict(true);
    case kNotify: return Verdict(number || key == 'T' || key == 't' || key == '=');
    default: return Verdict(false);
  }
}

bool IsTypedCell(int row, int column) {
  return row >= 1 && row <= kLastSegmentRow && column >= kDuration && column < kTableColumns &&
         !(column == kStartTemp && row >= 2);
}

std::optional<std::string> TypeKeys(int row, int column, std::string_view keys) {
  if (!IsTypedCell(row, column)) return std::nullopt;
  std::string text;
  for (char key : keys) {
    switch (FilterKey(row, column, key).verdict) {
      case KeyVerdict::Accept:
        if (key != kBackspace)
          text += key;
        else if (!text.empty())
          text.pop_back();
        break;
      case KeyVerdict::AcceptAlone: text.assign(1, key); break;
      default: return std::nullopt;
    }
  }
  return text;
}

std::string FormatTwoDecimals(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  std::string text(buffer);
  if (text == "-0.00") text = "0.00";
  return text;
}

std::string CellName(CellRef cell) {
  return "Row " + std::to_string(cell.row) + " " +
         std::string(cell.column >= 0 && cell.column < kTableColumns ? ColumnTitles()[cell.column] : "?");
}

std::string NotANumberLine(CellRef cell, std::string_view text) {
  return CellName(cell) + " \"" + std::string(text) + "\" is not a number";
}

Worksheet::Worksheet() { ClearProfile(); }

void Worksheet::SetTable(const ProfileTable& table) {
  table_ = table;
  for (int row = 1; row <= kLastSegmentRow; ++row) table_.at(row, kSeg) = std::to_string(row);
}

void Worksheet::Set(int row, int column, std::string text) {
  if (row >= 1 && row <= kLastSegmentRow) table_.at(row, column) = std::move(text);
}

double Worksheet::Value(int row, int column) {
  auto value = ParseNumber(table_.at(row, column));
  if (!value && !failed_) {
    failed_ = true;
    unreadable_ = CellRef{row, column};
  }
  return value.value_or(0);
}

std::vector<CutCell> CellsCutAtSave(const ProfileTable& table) {
  std::vector<CutCell> cut;
  for (int row = 1; row <= kLastSegmentRow; ++row)
    for (int column = kDuration; column < kTableColumns; ++column)
      if (const std::string& text = table.at(row, column); text.size() > kFieldWidth)
        cut.push_back({{row, column}, text, text.substr(0, kFieldWidth)});
  return cut;
}

std::string CutWarning(const std::vector<CutCell>& cells) {
  std::string text = "A profile file keeps " + std::to_string(kFieldWidth) + " characters of a cell; saving cuts:";
  for (const CutCell& c : cells) text += "\r\n" + CellName(c.cell) + " \"" + c.text + "\" to \"" + c.saved + "\"";
  return text;
}

CellChanges Worksheet::CommitEdit(int row, int column, std::string_view text, MessageSink& sink) {
  if (row < 1 || row > kLastSegmentRow || column < kDuration || column >= kTableColumns) return {};
  const ProfileTable before = table_;
  Commit(row, column, text, sink);
  return Diff(before, table_);
}

bool Worksheet::Commit(int row, int column, std::string_view text, MessageSink& sink) {
  const ProfileTable before = table_;
  unreadable_.reset();
  // A number a file would cut to 20 characters would be another number: the cell keeps its value.
  if (column != kCommand && column != kNotify && text.size() > kFieldWidth) {
    sink.Display(CellName({row, column}) + ": " + std::to_string(text.size()) + " characters do not fit the " +
                 std::to_string(kFieldWidth) + " a profile file keeps; not entered");
    return false;
  }
  if (!ValidateCellEntry(table_, row, column, text, sink)) {
    Set(row, column, "");
    return false;
  }
  Set(row, column, std::string(text));
  failed_ = false;
  UpdateDependents(row, column, sink);
  if (failed_) {
    // A cell the rules read is not a number (a hand-made file): keep the entry, change nothing else.
    table_ = before;
    Set(row, column, std::string(text));
    sink.Display("Profile_FlexGrid_MouseDown Routine Error= 13\r\n" +
                 NotANumberLine(*unreadable_, table_.at(unreadable_->row, unreadable_->column)));
  }
  return true;
}

BlockResult Worksheet::TypeBlock(int row, int column, const std::vector<std::vector<std::string>>& cells,
                                 MessageSink& sink) {
  const ProfileTable before = table_;
  BlockResult result;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const int r = row + static_cast<int>(i);
    if (r > kLastSegmentRow) break;
    for (std::size_t j = 0; j < cells[i].size(); ++j) {
      const int c = column + static_cast<int>(j);
      const std::string& text = cells[i][j];
      if (c >= kTableColumns) break;
      if (text.empty()) continue;  // a block's empty cells leave what is there, computed cells too
      if (!IsTypedCell(r, c)) {
        auto given = ParseNumber(text), held = ParseNumber(table_.at(r, c));
        if (text != table_.at(r, c) && !(given && held && *given == *held))
          sink.Display("Row " + std::to_string(r) + " " + std::string(ColumnTitles()[c]) + " is computed as \"" +
                       table_.at(r, c) + "\"; \"" + text + "\" is not used");
        continue;
      }
      auto typed = TypeKeys(r, c, text);
      if (!typed) {
        ++result.refused;
        sink.Display("Row " + std::to_string(r) + " " + std::string(ColumnTitles()[c]) + ": \"" + text +
                     "\" holds a character this column does not take; not entered");
        continue;
      }
      if (!Commit(r, c, *typed, sink)) ++result.refused;
    }
  }
  result.changes = Diff(before, table_);
  return result;
}

CellChanges Worksheet::Replace(const ProfileTable& table) {
  const ProfileTable before = table_;
  SetTable(table);
  return Diff(before, table_);
}

void Worksheet::Apply(const CellChanges& changes, bool undo) {
  for (const CellChange& change : changes) table_.at(change.row, change.column) = undo ? change.before : change.after;
}

void Worksheet::ClearRows(int firstRow) {
  for (int row = std::max(firstRow, 1); row <= kLastSegmentRow; ++row)
    for (int column = 1; column < kTableColumns; ++column) table_.at(row, column).clear();
}

void Worksheet::ClearProfile() {
  for (int row = 1; row <= kLastSegmentRow; ++row) table_.at(row, kSeg) = std::to_string(row);
  ClearRows(1);
  table_.at(1, kStartTime) = "0";
  table_.at(1, kStartTemp) = "70";
}

void Worksheet::UpdateDependents(int r, int column, MessageSink& sink) {
  switch (column) {
    case kDuration:
      ComputeRampRate(r);
      if (Empty(r, kDuration)) {
        // Without this segment's length no later start can be placed: stale times would draw
        // the profile wrong.
        for (int i = r + 1; i <= kLastSegmentRow; ++i) Set(i, kStartTime, "");
      }
      PropagateStartTimes(r);
      break;
    case kAction:
      if (Cell(r, kAction) == "h") {
        Set(r, kRampRate, "0");
        if (!Empty(r, kStartTemp)) {
          Set(r, kEndTemp, Cell(r, kStartTemp));
          Set(r + 1, kStartTemp, Cell(r, kStartTemp));
          Classify(r + 1);
        }
      }
      if (Cell(r, kAction) == "e") {
        Set(r, kDuration, "");
        Set(r, kEndTemp, "");
        Set(r, kRampRate, "");
        ClearRows(r + 1);
      }
      break;
    case kEndTemp:
      Set(r + 1, kStartTemp, Cell(r, kEndTemp));
      Classify(r);
      Classify(r + 1);
      if (failed_) return;
      if (!Empty(r, kEndTemp) && !Empty(r, kStartTemp) && !Empty(r, kRampRate)) {
        double end = Value(r, kEndTemp), start = Value(r, kStartTemp), ramp = Value(r, kRampRate);
        if (failed_) return;
        if (Sign(end - start) != Sign(ramp)) {
          Set(r, kRampRate, "");
        } else if (end != start) {
          Set(r, kAction, "r");
          // A typed duration stays as typed: the rate was computed from it and rounded, and
          // computing the duration back from that rate would change what the user entered.
          if (Empty(r, kDuration)) ComputeDuration(r);
        } else if (Cell(r, kAction) != "w") {
          Set(r, kAction, "h");
          Set(r, kRampRate, "0");
        }
      }
      PropagateStartTimes(r);
      break;
    case kRampRate:
      if (!Empty(r, kRampRate)) {
        double ramp = Value(r, kRampRate);
        if (failed_) return;
        if (ramp == 0) {
          Set(r, kAction, "h");
        } else {
          Set(r, kAction, "r");
          if (!Empty(r, kEndTemp) && !Empty(r, kStartTemp)) {
            double end = Value(r, kEndTemp), start = Value(r, kStartTemp);
            if (failed_) return;
            if (Sign(end - start) == Sign(ramp)) {
              ComputeDuration(r);
            } else {
              sink.Display(std::string("Sign of ramp conflicts with End Temperature")
                               .append(kCrLf)
                               .append("If End Temp > Start Temp Ramp Rate = +")
                               .append(kCrLf)
                               .append("If End Temp < Start Temp Ramp Rate = -"));
              Set(r, kEndTemp, "");
              Set(r + 1, kStartTemp, "");
            }
          }
        }
      }
      PropagateStartTimes(r);
      break;
    default: break;
  }
}

void Worksheet::Classify(int i) {
  if (failed_ || i > kLastSegmentRow) return;
  if (Empty(i, kEndTemp) || Empty(i, kStartTemp) || Cell(i, kAction) == "w") return;
  double end = Value(i, kEndTemp), start = Value(i, kStartTemp);
  if (failed_) return;
  if (end != start) {
    Set(i, kAction, "r");
    ComputeRampRate(i);
  } else {
    Set(i, kAction, "h");
    Set(i, kRampRate, "0");
  }
}

void Worksheet::ComputeRampRate(int i) {
  if (failed_ || Empty(i, kStartTemp) || Empty(i, kEndTemp) || Empty(i, kDuration)) return;
  double start = Value(i, kStartTemp), end = Value(i, kEndTemp), duration = Value(i, kDuration);
  if (failed_ || duration == 0) return;
  Set(i, kRampRate, FormatTwoDecimals((end - start) / duration));
}

void Worksheet::ComputeDuration(int i) {
  if (failed_ || Empty(i, kStartTemp) || Empty(i, kEndTemp) || Empty(i, kRampRate)) return;
  double start = Value(i, kStartTemp), end = Value(i, kEndTemp), ramp = Value(i, kRampRate);
  if (failed_ || ramp == 0) return;
  Set(i, kDuration, FormatTwoDecimals((end - start) / ramp));
}

void Worksheet::PropagateStartTimes(int i) {
  for (; !failed_ && i < kLastSegmentRow && !Empty(i, kDuration) && !Empty(i, kStartTime); ++i) {
    double next = Value(i, kStartTime) + Value(i, kDuration);
    if (failed_) return;
    Set(i + 1, kStartTime, FormatTwoDecimals(next));
  }
}

void PromptText::Display(std::string_view text) { AppendMessageLine(text_, text); }

void PromptText::ClearAndDisplay(std::string_view text) { text_.assign(text).append(kCrLf); }

}  // namespace tarvel::profile
