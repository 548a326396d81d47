#pragma once
// A ConsoleView that records what the window would show, and answers boxes as scripted.

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "console/view.h"

namespace tarvel::console {

struct RecordingView : ConsoleView {
  struct Box {
    std::string title, text;
    bool confirm;
  };

  std::string messages;
  std::vector<Led> leds;
  std::map<Field, std::string> fields;
  Selectors selectors;
  std::vector<std::string> progressionChoices;
  int programMode = -2;  // never set
  bool monitoring = false;
  std::map<Grid, std::vector<std::vector<std::string>>> gridRows;
  std::map<Grid, std::vector<RowMark>> marks;
  std::map<Grid, GridLayout> layouts;
  std::map<Grid, bool> wide;
  std::map<Grid, int> currentRow;
  int progressDone = 0, progressTotal = 0;
  std::vector<Box> boxes;
  std::deque<bool> confirmAnswers;  // answers to Confirm in order; OK when empty

  void ShowMessages(const std::string& text) override { messages = text; }
  void SetLed(Led led) override { leds.push_back(led); }
  void SetField(Field field, const std::string& text) override { fields[field] = text; }
  void SetSelectors(const Selectors& s) override { selectors = s; }
  void SetProgressionChoices(const std::vector<std::string>& choices, int) override { progressionChoices = choices; }
  void SetProgramMode(int code) override { programMode = code; }
  void SetMonitoring(bool on) override { monitoring = on; }
  void SetGridLayout(Grid grid, const GridLayout& layout) override { layouts[grid] = layout; }
  void SetGridRows(Grid grid, const std::vector<std::vector<std::string>>& rows) override { gridRows[grid] = rows; }
  void SetRowMarks(Grid grid, const std::vector<RowMark>& m) override { marks[grid] = m; }
  void SetCurrentRow(Grid grid, int row) override { currentRow[grid] = row; }
  void ScrollTo(Grid, int) override {}
  void SetSizeButton(Grid grid, bool isWide) override { wide[grid] = isWide; }
  void SetProgress(int done, int total) override { progressDone = done, progressTotal = total; }
  void ShowWarning(const std::string& title, const std::string& text) override {
    boxes.push_back({title, text, false});
  }
  bool Confirm(const std::string& title, const std::string& text) override {
    boxes.push_back({title, text, true});
    if (confirmAnswers.empty()) return true;
    bool answer = confirmAnswers.front();
    confirmAnswers.pop_front();
    return answer;
  }

  Led LastLed() const { return leds.empty() ? Led::Idle : leds.back(); }
  RowMark MarkAt(Grid grid, int row) const {
    auto it = marks.find(grid);
    return it != marks.end() && row >= 1 && row <= static_cast<int>(it->second.size()) ? it->second[row - 1]
                                                                                       : RowMark::None;
  }
};

}  // namespace tarvel::console
