#pragma once
// controller: run recording. Every complete run-state reading of the current channel becomes a
// point on the executing profile's time axis; while monitoring is on, each point is appended
// as one 21-byte record to LogFiles/Channel-NN/<profile> <start>.log -- the log format the
// editor's chart reads -- and the live trend is told of every point.
//
// The time of a point is where the program stands on the profile's time axis: the durations of
// the timed steps from the program's low step up to the executing one (from the console's copy
// of the program memory), plus the time spent in the executing step, converted from the
// controller's unit (seconds in run modes 1 and 3, minutes in 2 and 4) to the profile's time
// scale. So a log lies over its design profile whatever the pace of the run (a PV-progression
// run that waits, a simulated run at 60x). In a step a jump (or a restart, which is one)
// shortened, the controller counts from the jump point: the point the jump left in the memory
// copy is added back. A channel with no executing profile records minutes since the recording
// started.
// No view, no message text: what became of the file is an event for the front end to say.
// Depends on the controller session and the run-state reading; Qt-free.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controller/run_state_read.h"
#include "controller/session.h"
#include "store/rows.h"
#include "util/result.h"

namespace tarvel::controller {

// One point of a run: time on the profile's time axis, the set point in force, the process value.
struct RunPoint {
  double time = 0;
  int setPoint = 0;
  int processValue = 0;
  // Not joined to the point before: readings were lost in between, the program was paused or
  // restarted, jumped, or began again. A trend draws a gap there, never a line.
  bool breakBefore = false;
  bool operator==(const RunPoint&) const = default;
};

// What a run is drawn and named after; a new trace starts a new file and a new trend.
struct RunTrace {
  int channel = 0;
  std::string profileName;            // the executing profile; empty when none is stored
  std::filesystem::path profileFile;  // Profiles/<name> when it is a valid profile file, else empty
  char timeScale = 'M';               // the profile's time unit: 'S', 'M' or 'H'
  char temperatureScale = 0;          // the profile's 'F' or 'C'; 0 when not known
  bool operator==(const RunTrace&) const = default;
};

// Time 9 characters ("%9.2f", whole numbers beyond), set point and process value 5 each
// (held within -9999..99999), CR LF: 21 bytes.
std::string FormatLogRecord(const RunPoint& point);

// "<profile without .txt> YYYY-MM-DD HH-MM-SS.log" in local time; characters a file name cannot
// hold become "_"; "No profile" when there is no name.
std::string RunLogFileName(std::string_view profileName, std::chrono::system_clock::time_point start);

// Controller time units from the low step to the executing step: durations of the timed steps
// before it (jump and event steps take no time) plus stepTime, plus the jump point when a jump
// left a shortened copy of the executing step.
double ProgramTime(const std::vector<store::MemoryRow>& memory, int lowStep, int currentStep, double stepTime);

// The program time of a reading, knowing the step and program time of the reading before it in
// the same run. The nine reads of a reading are no snapshot: when the program moves on between
// the read of the step and the read of the step time, the time read belongs to the next timed
// step. That shows as time running back while the step did not move back (a jump to an earlier
// step may), and the time is then counted from the start of the next timed (or end) step up to
// highStep.
double ReadingProgramTime(const std::vector<store::MemoryRow>& memory, int lowStep, int highStep, int currentStep,
                          double stepTime, std::optional<std::pair<int, double>> previous);

// A controller time in the profile's scale. The controller counts seconds in run modes 1 and 3
// and minutes in 2 and 4; in mode 0 the program keeps the unit it was compiled to (seconds for
// an "S" profile, else minutes).
double ToProfileTime(double controllerTime, int runMode, char timeScale);

// One log file, appended record by record. Each record reaches the file before Append returns;
// a write that fails part-way is cut back, so the file never holds a partial record.
class RunRecording {
 public:
  // Creates LogFiles/Channel-NN/ when missing and a new file named after the profile and start.
  static Result<std::unique_ptr<RunRecording>> Open(const AppFolder& folder, int channel, std::string_view profileName,
                                                    std::chrono::system_clock::time_point start);
  ~RunRecording();
  RunRecording(const RunRecording&) = delete;
  RunRecording& operator=(const RunRecording&) = delete;

  Status Append(const RunPoint& point);
  const std::filesystem::path& File() const { return file_; }
  std::size_t Records() const { return records_; }

 private:
  RunRecording(int fd, std::filesystem::path file) : fd_(fd), file_(std::move(file)) {}
  int fd_;
  std::filesystem::path file_;
  std::size_t records_ = 0;
};

// What became of a run's file.
struct RecordingEvent {
  enum class Kind { Opened, OpenFailed, AppendFailed };
  Kind kind = Kind::Opened;
  std::filesystem::path file;  // Opened: the new file, relative to the application folder
  std::string problem;         // the failures: what the file system said
};

class RunRecorder {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;
  using PointListener = std::function<void(const RunTrace&, const RunPoint&)>;
  using EventListener = std::function<void(const RecordingEvent&)>;

  explicit RunRecorder(
      Session& session, Clock clock = [] { return std::chrono::system_clock::now(); })
      : session_(session), clock_(std::move(clock)) {}

  // A complete reading of channel's controller; recorded while monitoring is on.
  void OnReading(int channel, std::uint8_t address, const RunStateReading& reading, bool monitoring);
  // Monitoring switched off: the file is closed; the next switch-on starts a new one.
  void Stop() { recording_.reset(); }
  // A reading of the channel failed: the next point is not joined to the last.
  void Lost() { breakNext_ = true; }
  // Told of every point, recorded or not (on the command thread).
  void OnPoint(PointListener listener) { listener_ = std::move(listener); }
  // Told when a file is opened or a file could not be opened or written.
  void OnEvent(EventListener listener) { events_ = std::move(listener); }

  const RunRecording* Recording() const { return recording_.get(); }
  // The run the latest reading belongs to: its profile and units.
  const std::optional<RunTrace>& Trace() const { return trace_; }

 private:
  RunTrace TraceOf(int channel, std::uint8_t address);
  void Tell(RecordingEvent event) {
    if (events_) events_(event);
  }

  Session& session_;
  Clock clock_;
  PointListener listener_;
  EventListener events_;
  std::optional<RunTrace> trace_;
  std::chrono::system_clock::time_point traceStart_;
  std::optional<std::pair<int, double>> lastStepAndTime_;  // of the trace's last reading
  std::optional<RunPoint> lastPoint_;
  bool lastHeld_ = false;  // the last reading found run mode 0
  bool breakNext_ = false;
  std::vector<std::pair<int, int>> jumps_;  // the steps a jump left shortened, with their jump points
  std::unique_ptr<RunRecording> recording_;
};

}  // namespace tarvel::controller
