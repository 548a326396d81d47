#pragma once
// console: the main console, which holds its workflow rooms -- channel selection, memory map,
// profile log, monitoring, settings, profile program, upload, run control -- sharing one Context.
// Callers reach a workflow through its room's accessor; start-up, activation and the loading of
// a channel, which touch every room, live here.
// Qt-free: it speaks to a ConsoleView. Every call runs on one thread at a time (the GUI's
// command runner); only Messages() and Cancel() may be used from another thread.
// Depends on controller, link, store, profile and util.

#include <cstdint>
#include <optional>
#include <string>

#include "console/channel_selection.h"
#include "console/context.h"
#include "console/memory_map.h"
#include "console/monitor.h"
#include "console/profile_log.h"
#include "console/profile_program.h"
#include "console/run_control.h"
#include "console/settings.h"
#include "console/upload.h"
#include "controller/run_recorder.h"

namespace tarvel::console {

// What became of a run's file, as the message area says it.
std::string RecordingMessage(const controller::RecordingEvent& event);

class Console {
 public:
  Console(AppFolder folder, store::ConfigStore& store, link::Line& line, ConsoleView& view, LineInfo lineInfo = {});
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  MessageArea& Messages() { return context_.messages; }
  // Stops the running command before its next exchange (from any thread).
  void Cancel() { context_.line.Cancel(); }

  // Reads of more than two registers where a controller has answered one.
  void SetBlockReads(bool on) { context_.blockReads = on; }
  ChannelSelection& Selection() { return selection_; }
  MemoryMap& Memory() { return memory_; }
  ProfileLog& Log() { return log_; }
  Monitor& RunMonitor() { return monitor_; }
  Settings& ControllerSettings() { return settings_; }
  ProfileProgram& Program() { return program_; }
  Upload& ProfileUpload() { return upload_; }
  RunControl& RunControls() { return run_; }

  // --- start-up, activation and the loading of a channel, which touch every room
  void Load();
  void Activate();
  // Loads the channel the selectors show: both grids (previous marks cleared), the program
  // limits matched against the profile log, and the run state.
  void SelectChannel();
  const RowMarks& Marks(Grid grid) const { return grid == Grid::ProfileLog ? log_.Marks() : memory_.Marks(); }

  // --- run-state monitoring, which the recorder follows
  // A tick of "Monitor Run State": the reading's lines go below the last command's outcome,
  // which stays until the user's next command.
  void MonitorTick() {
    BackgroundLines tick(context_.messages);
    monitor_.ReadRunState();
  }
  void ReadControllerState();
  void SetMonitoring(bool on) {
    monitor_.SetMonitoring(on);
    if (!on) recorder_.Stop();
  }
  // What the console last read of the current controller.
  int SelectedRunMode() const { return context_.selectedRunMode; }
  int ProgramLowStep() const { return context_.programLowStep; }
  int ProgramHighStep() const { return context_.programHighStep; }

  // --- run recording: every complete reading of the current channel becomes a point of the
  // trend, and a record of LogFiles/Channel-NN while monitoring is on
  controller::RunRecorder& Recorder() { return recorder_; }

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
  ProfileProgram program_;
  Upload upload_;
  RunControl run_;
  controller::RunRecorder recorder_{context_};
  int commPortNumber_ = 1;
};

}  // namespace tarvel::console
