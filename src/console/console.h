#pragma once
// console: the main console as a thin facade over its workflow rooms -- channel selection,
// memory map, profile log, monitoring, settings, compilation, upload -- which share one Context. Start-up,
// activation and the loading of a channel, which touch every room, live here.
// Qt-free: it speaks to a ConsoleView. Every call runs on one thread at a time (the GUI's
// command runner); only Messages() and Cancel() may be used from another thread.
// Depends on link, store, profile and util.

#include <cstdint>
#include <optional>
#include <string>

#include "console/channel_selection.h"
#include "console/compile.h"
#include "console/context.h"
#include "console/memory_map.h"
#include "console/monitor.h"
#include "console/profile_log.h"
#include "console/run_control.h"
#include "console/run_recording.h"
#include "console/settings.h"
#include "console/upload.h"

namespace tarvel::console {

class Console {
 public:
  Console(AppFolder folder, store::ConfigStore& store, link::Line& line, ConsoleView& view, LineInfo lineInfo = {});
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  MessageArea& Messages() { return context_.messages; }
  // Stops the running command before its next exchange (from any thread).
  void Cancel() { context_.line.Cancel(); }

  Context& Shared() { return context_; }
  ChannelSelection& Selection() { return selection_; }
  MemoryMap& Memory() { return memory_; }
  ProfileLog& Log() { return log_; }
  Monitor& RunMonitor() { return monitor_; }
  Settings& ControllerSettings() { return settings_; }
  Compilation& Compiler() { return compilation_; }
  RunControl& Run() { return run_; }

  // --- start-up, activation and channel selection
  void Load();
  void Activate();
  void LoadChannelLists() { selection_.LoadChannelLists(); }
  // Loads the channel the selectors show: both grids (previous marks cleared), the program
  // limits matched against the profile log, and the run state.
  void SelectChannel();
  void ChooseChannel(int index) { selection_.ChooseChannel(index); }
  void ChooseAddress(int index) { selection_.ChooseAddress(index); }
  void ChooseNickName(int index) { selection_.ChooseNickName(index); }
  int GetItemIndex(Selector selector, const std::string& item) const { return selection_.GetItemIndex(selector, item); }
  std::optional<std::uint8_t> CurrentAddress() { return selection_.CurrentAddress(); }
  std::optional<std::uint8_t> GetModbusAddressOfChannel(const std::string& channelText) {
    return selection_.GetModbusAddressOfChannel(channelText);
  }
  std::string CurrentChannelText() const { return selection_.CurrentChannelText(); }
  bool StartupComplete() const { return selection_.StartupComplete(); }

  // --- program memory grid and profile log grid
  void FormatProgramMemoryGrid() { memory_.FormatGrid(); }
  void FormatProfileLogGrid() { log_.FormatGrid(); }
  void ToggleProgramMemorySize() { memory_.ToggleSize(); }
  void ToggleProfileLogSize() { log_.ToggleSize(); }
  void HighlightProgramRange(int startStep, int stepCount) { memory_.HighlightProgramRange(startStep, stepCount); }
  void HighlightCurrentStep(int step) { memory_.HighlightCurrentStep(step); }
  LogMatch MarkLogEntryOfProgramLimits() { return log_.MarkLogEntryOfProgramLimits(); }
  void SelectLogRow(int row) { log_.SelectLogRow(row); }
  const RowMarks& Marks(Grid grid) const { return grid == Grid::ProfileLog ? log_.Marks() : memory_.Marks(); }
  void DownloadMemory(const std::string& startText, const std::string& stopText) {
    memory_.DownloadMemory(startText, stopText);
  }
  void DeleteProfile(int row) { log_.DeleteProfile(row); }
  void ClearController() { log_.ClearProfileLog(); }

  // --- compilation and upload
  bool OpenProfile(const std::filesystem::path& file) { return compilation_.OpenProfile(file); }
  void SetStartStepText(const std::string& text) { compilation_.SetStartStepText(text); }
  void CompileProfile() { compilation_.CompileButton(); }
  UploadResult UploadProfile(const UploadInput& input) { return upload_.Run(input); }

  // --- run-state monitoring
  void ReadRunState() { monitor_.ReadRunState(); }
  // A tick of "Monitor Run State": the reading's lines go below the last command's outcome,
  // which stays until the user's next command.
  void MonitorTick() {
    BackgroundLines tick(context_.messages);
    monitor_.ReadRunState();
  }
  void ReadControllerRunMode() { monitor_.ReadControllerRunMode(); }
  void ReadControllerState();
  void SetMonitoring(bool on) {
    monitor_.SetMonitoring(on);
    if (!on) recorder_.Stop();
  }
  bool Monitoring() const { return monitor_.Monitoring(); }
  int SelectedRunMode() const { return context_.selectedRunMode; }
  void SetSelectedRunMode(int code) { monitor_.SetSelectedRunMode(code); }
  int ProgramLowStep() const { return context_.programLowStep; }
  int ProgramHighStep() const { return context_.programHighStep; }

  // --- controller settings, single set point, auto-tune
  void ReadControllerSettings() { settings_.ReadControllerSettings(); }
  bool WriteSettings(const SettingsInput& input) { return settings_.WriteSettings(input); }
  bool WriteSingleSetPoint(const std::string& text) { return settings_.WriteSingleSetPoint(text); }
  void AutoTune(bool on) { settings_.AutoTune(on); }
  std::string GetSensorCaption(int index) { return settings_.GetSensorCaption(index); }
  int GetSensorIndex(const std::string& caption) { return settings_.GetSensorIndex(caption); }

  // --- run recording: every complete reading of the current channel becomes a point of the
  // trend, and a record of LogFiles/Channel-NN while monitoring is on
  RunRecorder& Recorder() { return recorder_; }

  // --- about
  void ShowInfo();
  void ShowBugReportInfo();

 private:
  Context context_;
  ChannelSelection selection_;
  MemoryMap memory_;
  ProfileLog log_;
  Monitor monitor_;
  Settings settings_;
  Compilation compilation_;
  Upload upload_;
  RunControl run_;
  RunRecorder recorder_{context_};
  int commPortNumber_ = 1;
};

}  // namespace tarvel::console
