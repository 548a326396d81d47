#pragma once
// console: what a console workflow tells its window. Depends on nothing but the standard
// library; the GUI implements it on Qt (posting to the UI thread), tests record it.

#include <string>
#include <vector>

namespace tarvel::console {

// CommStatusLED: yellow while talking to a controller, light grey after, red after a failure.
enum class Led { Busy, Idle, Error };

enum class Grid { ProgramMemory, ProfileLog, CompiledProfile };

// Row background marks: ProgramRange light yellow (&HC0FFFF), CurrentStep light green
// (&H80FF80), LogEntry green (&H00FF00); None is the grid's normal background.
enum class RowMark { None, ProgramRange, CurrentStep, LogEntry };

// Read-outs and entry boxes the workflows fill; the window knows each one's control.
enum class Field {
  ControllerType,
  ExecutingProfileName,
  CurrentStep,
  CurrentTime,
  ProfileSetPoint,
  SetPoint,
  ProcessTemperature,
  Relay1,
  Relay2,
  ProgramStepLow,
  ProgramStepHigh,
  SingleSetPoint,
  Alarm1Type,
  Alarm2Type,
  TemperatureScale,
  SensorType,
  StartAddress,
  CompileProfileName,
  CompiledProfileSensor,
  CompiledProfileTemperatureScale,
  CompiledProfileTimeScale,
  DownloadStartStep,
  DownloadStopStep,
};

// The three linked channel selectors: entry i of each list belongs to the same ChannelMap row.
struct Selectors {
  std::vector<std::string> channels, addresses, nickNames;
  int channelIndex = -1, addressIndex = -1, nickNameIndex = -1;
};

struct GridLayout {
  std::vector<int> widthsTwips;  // column 0 first; 0 hides a column
  std::vector<std::string> headers;
};

class ConsoleView {
 public:
  virtual ~ConsoleView() = default;

  virtual void ShowMessages(const std::string& text) = 0;  // the whole text of User_Prompt
  virtual void SetLed(Led led) = 0;
  virtual void SetField(Field field, const std::string& text) = 0;
  virtual void SetSelectors(const Selectors& selectors) = 0;
  virtual void SetProgressionChoices(const std::vector<std::string>& choices, int selected) = 0;
  virtual void SetProgramMode(int code) = 0;  // the ProgramMode option to select; -1 none
  virtual void SetMonitoring(bool on) = 0;    // MonitorRunStateLED green + ProfileRunTimer on, or grey + off
  virtual void SetGridLayout(Grid grid, const GridLayout& layout) = 0;
  virtual void SetGridRows(Grid grid, const std::vector<std::vector<std::string>>& rows) = 0;  // data rows only
  virtual void SetRowMarks(Grid grid, const std::vector<RowMark>& marks) = 0;  // index 0 = first data row
  virtual void SetCurrentRow(Grid grid, int row) = 0;                          // grid row, 1 = first data row
  virtual void ScrollTo(Grid grid, int topRow) = 0;
  virtual void SetSizeButton(Grid grid, bool wide) = 0;  // caption "<" when wide, ">" when narrow
  virtual void SetProgress(int done, int total) = 0;
  virtual void ShowWarning(const std::string& title, const std::string& text) = 0;  // OK only
  virtual bool Confirm(const std::string& title, const std::string& text) = 0;      // OK / Cancel
  // OK / Cancel before a command that may spoil a run: a window makes Cancel the default.
  virtual bool ConfirmRisky(const std::string& title, const std::string& text) { return Confirm(title, text); }
};

// A view without controls (the terminal, the line watch, the benches): only the message area
// and the boxes mean anything there, so the rest shows nothing.
class TextView : public ConsoleView {
 public:
  void SetLed(Led) override {}
  void SetField(Field, const std::string&) override {}
  void SetSelectors(const Selectors&) override {}
  void SetProgressionChoices(const std::vector<std::string>&, int) override {}
  void SetProgramMode(int) override {}
  void SetMonitoring(bool) override {}
  void SetGridLayout(Grid, const GridLayout&) override {}
  void SetGridRows(Grid, const std::vector<std::vector<std::string>>&) override {}
  void SetRowMarks(Grid, const std::vector<RowMark>&) override {}
  void SetCurrentRow(Grid, int) override {}
  void ScrollTo(Grid, int) override {}
  void SetSizeButton(Grid, bool) override {}
  void SetProgress(int, int) override {}
};

}  // namespace tarvel::console
