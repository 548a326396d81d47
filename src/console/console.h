#pragma once
// console: the main console's workflows -- start-up and activation, channel selection,
// run-state monitoring, controller settings, program memory and profile log grids.
// Qt-free: it speaks to a ConsoleView. Every call runs on one thread at a time (the GUI's
// command runner); only MessageArea may be used from another thread.
// Depends on link, store and util.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/counting_line.h"
#include "console/grids.h"
#include "console/message_area.h"
#include "console/view.h"
#include "link/commands.h"
#include "store/config_store.h"
#include "util/app_folder.h"

namespace tarvel::console {

inline constexpr const char* kAddressLookupError =
    "Error: Could not retrieve modbus address of software channel in database";
inline constexpr const char* kCommsError = "ERROR: Commmunications error";
inline constexpr const char* kCommError = "ERROR: Communication error";

struct LineInfo {
  bool configured = false;  // a line was given (simulated or --port): no port warning at activation
  bool simulated = false;
};

// The texts of the "Controller Settings" panel when "Write Settings" is pressed.
struct SettingsInput {
  std::string temperatureScale;
  std::string alarm1Type;
  std::string alarm2Type;
};

enum class Selector { Channel, Address, NickName };

class Console {
 public:
  Console(AppFolder folder, store::ConfigStore& store, link::Line& line, ConsoleView& view, LineInfo lineInfo = {});

  MessageArea& Messages() { return messages_; }

  // --- start-up, activation and channel selection
  void Load();
  void Activate();
  void LoadChannelLists();
  void SelectChannel();
  // The user picked entry index of a selector.
  void ChooseChannel(int index);
  void ChooseAddress(int index);
  void ChooseNickName(int index);
  int GetItemIndex(Selector selector, const std::string& item) const;
  // The Modbus address of the channel shown by the channel selector; shows the lookup
  // error and gives nullopt when it does not resolve to an address 1..247.
  std::optional<std::uint8_t> CurrentAddress();
  std::optional<std::uint8_t> GetModbusAddressOfChannel(const std::string& channelText);
  std::string CurrentChannelText() const;
  bool StartupComplete() const { return startupComplete_; }

  // --- program memory grid and profile log grid
  void FormatProgramMemoryGrid();
  void FormatProfileLogGrid();
  void ToggleProgramMemorySize();
  void ToggleProfileLogSize();
  void HighlightGridRows(Grid grid, int first, int count, RowMark mark, bool clearFirst);
  void HighlightProgramRange(int startStep, int stepCount);
  void HighlightCurrentStep(int step);
  bool MarkLogEntryOfProgramLimits();
  void SelectLogRow(int row);  // a click on the profile log grid
  void SaveRunSelection(std::uint8_t address, const std::string& profileName, int lowStep, int highStep);
  const RowMarks& Marks(Grid grid) const { return grid == Grid::ProfileLog ? logMarks_ : memoryMarks_; }

  // --- run-state monitoring
  void ReadRunState();
  void ReadControllerRunMode();
  void ReadControllerState();
  void SetMonitoring(bool on);
  bool Monitoring() const { return monitoring_; }
  void SetSelectedRunMode(int code);
  int SelectedRunMode() const { return selectedRunMode_; }
  int ProgramLowStep() const { return programLowStep_; }
  int ProgramHighStep() const { return programHighStep_; }

  // --- controller settings, single set point, auto-tune
  void ReadControllerSettings();
  void WriteSettings(const SettingsInput& input);
  void WriteSingleSetPoint(const std::string& text);
  void AutoTune(bool on);
  std::string GetSensorCaption(int index);
  int GetSensorIndex(const std::string& caption);

  // --- about
  void ShowInfo();
  void ShowBugReportInfo();

 private:
  void Display(const std::string& text) { messages_.Display(text); }
  void ClearDisplay() { messages_.ClearDisplay(); }
  void ShowField(Field field, const std::string& text) { view_.SetField(field, text); }
  // LED after a command's exchanges: grey when all succeeded, else red with the message.
  void FinishExchanges(link::Outcome outcome, const char* failureMessage);
  void SelectIndex(int index);  // aligns the three selectors on one row
  void ShowProgramMemory(int address);
  void ShowProfileLog(int address);
  void ShowExecutingProfile(int address);
  void PushMarks(Grid grid);

  class Exchanges;  // progress of one multi-exchange command

  AppFolder folder_;
  store::ConfigStore& store_;
  CountingLine line_;
  link::CommandSet commands_;
  ConsoleView& view_;
  LineInfo lineInfo_;
  MessageArea messages_;

  Selectors selectors_;
  bool startupComplete_ = false;
  int commPortNumber_ = 1;
  int selectedRunMode_ = 0;
  int exchangeDepth_ = 0;
  int programLowStep_ = 0;
  int programHighStep_ = 0;
  bool monitoring_ = false;
  bool memoryWide_ = false;
  bool logWide_ = false;
  RowMarks memoryMarks_;
  RowMarks logMarks_;
  std::vector<store::LogRow> logRows_;  // what the profile log grid shows, in grid order
};

}  // namespace tarvel::console
