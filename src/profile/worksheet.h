#pragma once
// profile: the worksheet editor's rules -- which keys each cell takes, what an accepted edit
// changes in the dependent cells, clearing rows, the message area and the editor settings.
// Depends on util only; the window and `tarvel-cli profile fill` share it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profile/message_sink.h"
#include "profile/profile_table.h"

namespace tarvel::profile {

// What a typed key does in the cell it is typed into.
enum class KeyVerdict {
  Accept,       // the key goes into the edit box
  AcceptAlone,  // Action: the box is emptied first, so the cell holds one letter
  Beep,         // discarded with a beep
  NotEditable,  // discarded; the cell is not edited by hand (the message says why)
};

struct KeyFilterResult {
  KeyVerdict verdict = KeyVerdict::Beep;
  std::string message;  // for NotEditable
};

inline constexpr char kBackspace = '\b';

// The key filter of one cell (row 0..255, column 0..9). Row 0 is the title row.
KeyFilterResult FilterKey(int row, int column, char key);

// Whether the user may type into a cell at all (Seg, Start Time and the computed Start Temps
// are not typed).
bool IsTypedCell(int row, int column);

// The text an empty edit box holds after the keys were typed, or no value when a key is
// refused. Used for text that arrives without key presses (paste, fill).
std::optional<std::string> TypeKeys(int row, int column, std::string_view keys);

// "#0.00": two decimals, at least one integer digit; never "-0.00".
std::string FormatTwoDecimals(double value);

// One cell of the worksheet, to select when a message is about it.
struct CellRef {
  int row = 0;
  int column = 0;
  bool operator==(const CellRef&) const = default;
};
// "Row 3 Start Temp": a cell as a message names it.
std::string CellName(CellRef cell);
// The line that says a cell the rules read is not a number.
std::string NotANumberLine(CellRef cell, std::string_view text);

struct CellChange {
  int row = 0;
  int column = 0;
  std::string before;
  std::string after;
  bool operator==(const CellChange&) const = default;
};
using CellChanges = std::vector<CellChange>;

// A cell whose text is longer than a profile file keeps: what is typed, and what a save writes.
struct CutCell {
  CellRef cell;
  std::string text;
  std::string saved;
  bool operator==(const CutCell&) const = default;
};
std::vector<CutCell> CellsCutAtSave(const ProfileTable& table);
// The question before such a save: one line per cell.
std::string CutWarning(const std::vector<CutCell>& cells);

struct BlockResult {
  CellChanges changes;
  int refused = 0;  // cells not entered or emptied by the per-cell check
};

// The worksheet: the profile table and the rules of an edit.
class Worksheet {
 public:
  Worksheet();  // a cleared profile

  const ProfileTable& Table() const { return table_; }
  const std::string& Cell(int row, int column) const { return table_.at(row, column); }
  // Replaces the whole table (a loaded profile); Seg keeps 1..255.
  void SetTable(const ProfileTable& table);

  // Commits the edit box's text into a segment cell as a click on the grid does: a text
  // ValidateCellEntry refuses empties the cell; an accepted one is stored and its dependent
  // cells updated. Returns every cell that changed, for undo. Columns 0 and 1 take nothing.
  CellChanges CommitEdit(int row, int column, std::string_view text, MessageSink& sink);

  // Cells typed in order, row by row, left to right, from (row, column): a block pasted from
  // a spreadsheet. Cells that are not typed by hand are passed over (a differing value is
  // noted); empty cells are passed over; a cell with a key its column refuses is not entered
  // and says so.
  BlockResult TypeBlock(int row, int column, const std::vector<std::vector<std::string>>& cells, MessageSink& sink);

  // Replaces the table as SetTable does and returns the cells that changed (an import).
  CellChanges Replace(const ProfileTable& table);

  // Puts cell texts back (undo / redo of a change list).
  void Apply(const CellChanges& changes, bool undo);

  // The cell whose text stopped the last edit's computation (it is not a number); none when
  // the last edit went through.
  std::optional<CellRef> UnreadableCell() const { return unreadable_; }

  // Empties columns 1..9 of rows first..255.
  void ClearRows(int firstRow);
  // ClearRows(1), then Start Time 0 and Start Temp 70 in row 1.
  void ClearProfile();

 private:
  // CommitEdit without the change list; false when the text was refused.
  bool Commit(int row, int column, std::string_view text, MessageSink& sink);
  void Set(int row, int column, std::string text);
  bool Empty(int row, int column) const { return table_.at(row, column).empty(); }
  // The number in a cell; a cell that is not a number stops the update (failed_ is set).
  double Value(int row, int column);
  void UpdateDependents(int row, int column, MessageSink& sink);
  void Classify(int row);
  void ComputeRampRate(int row);
  void ComputeDuration(int row);
  void PropagateStartTimes(int row);

  ProfileTable table_;
  bool failed_ = false;
  std::optional<CellRef> unreadable_;
};

// The editor's message area, on the one rule of message areas (AppendMessageLine);
// ClearAndDisplay replaces it.
class PromptText : public MessageSink {
 public:
  void Clear() override { text_.clear(); }
  void Display(std::string_view text) override;
  void ClearAndDisplay(std::string_view text);
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// Setup/EditorSettings.bag: the eight properties, with their defaults.
struct EditorSettings {
  bool temperatureScale = true;  // Fahrenheit checked
  bool timeScale = true;         // Minutes checked
  std::string sensorType = "K";
  std::int16_t designProfilePlotSelect = 1;
  std::int16_t designProfileLimitsPlotSelect = 1;
  std::int16_t recordedProfilePlotSelect = 1;
  std::int16_t recordedTempDataPlotSelect = 1;
  std::string profilePathFileName;
  bool operator==(const EditorSettings&) const = default;
};

}  // namespace tarvel::profile
