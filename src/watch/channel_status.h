#pragma once
// watch: what the line watch knows of one mapped controller after its latest reading -- the
// row of the line overview, the line tarvel-cli watch prints and the JSON published for it.
// Qt-free. Depends on controller (the reading) and store (the rows).

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "controller/run_state_read.h"
#include "store/rows.h"
#include "watch/sweep.h"

namespace tarvel::watch {

using SystemClock = std::chrono::system_clock;

// running: a ramp/soak run mode (1..4) with the program under way; finished: such a mode with
// the program at its end (the end step reached, or the time of the last step run out); held:
// run mode 0 with the selected profile's program standing inside its range past its start (a
// paused run); idle: anything else in mode 0; no reply: the latest reading had a failed exchange.
enum class RunState { Running, Held, Idle, NoReply, Finished };
const char* RunStateName(RunState state);  // "running", "held", "idle", "no reply", "finished"

// Where the process value stands against the design's Error Limits band.
enum class Band { None, In, Above, Below };  // None: no design or no limits to compare with
const char* BandName(Band band);             // "", "in band", "above band", "below band"

// memory: the controller's program memory copy, which tells an end step from a timed one.
RunState StateOf(const controller::RunStateReading& reading, const std::optional<store::ControllerConfigRow>& config,
                 const std::vector<store::MemoryRow>& memory = {});

struct ChannelStatus {
  WatchedChannel id;
  std::string zone;                                 // the zone the channel belongs to; empty when none
  std::string profile;                              // the executing profile as the store has it
  SystemClock::time_point at{};                     // of the latest reading
  std::optional<SystemClock::time_point> lastGood;  // of the latest complete reading
  RunState state = RunState::NoReply;
  link::Outcome failure = link::Outcome::Ok;  // the first failed exchange of the latest reading

  // From the latest complete reading.
  int lowStep = 0, highStep = 0, step = 0, stepTime = 0, runMode = 0;
  int setPoint = 0, processValue = 0;
  link::RelayStates relays;
  std::optional<double> programTime;  // on the profile's time axis, as the recorder puts it
  char temperatureScale = 0;          // the profile's 'F' or 'C'; 0 when not known
  char timeScale = 0;                 // the profile's 'S', 'M' or 'H' (programTime's unit); 0 when not known
  std::optional<int> design;          // the design temperature at programTime
  std::optional<int> bandLow, bandHigh;
  Band band = Band::None;

  bool alarm = false;
  std::string alarmText;
  std::string alarmAckedBy;  // who acknowledged the active alarm; empty while nobody has
  std::optional<SystemClock::time_point> alarmAcked;
  std::filesystem::path recording;  // the log file being written; empty when not recording

  std::optional<int> Deviation() const {
    return design && lastGood ? std::optional<int>(processValue - *design) : std::nullopt;
  }
};

// ISO 8601 local time with offset, to the second: "2026-09-21T16:13:20+02:00".
std::string IsoTime(SystemClock::time_point at);

// One line of tarvel-cli watch: time, channel, nickname, state and the values of the reading.
std::string StatusLine(const ChannelStatus& status);

}  // namespace tarvel::watch
