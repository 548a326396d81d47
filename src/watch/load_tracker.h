#pragma once
// watch: the lifecycle of loads, fed with plain values -- the sweep's readings, the operator's
// actions, alarms. A load starts at an operator's Start, or at a start the readings show (the
// run mode leaves 0 into a program, or the program goes back to its low step); a controller's
// part of it ends at its end step (the step is the high step and its time has run out, or it is
// the end step of time 0), or when its run mode is left to 0 without a Pause; the load ends when
// every controller's part has, or at a cancel. Pause and Restart stay within the load. A zone's
// load spans its members. Open loads are kept in the Loads table, so that a new recording
// process continues the same record (an event says so; the time between is a gap).
// Everything runs on the caller's thread; nothing here reads a controller. Qt-free; depends on
// store, profile and util.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profile/profile_table.h"
#include "store/config_store.h"
#include "util/app_folder.h"
#include "util/result.h"
#include "watch/load_book.h"
#include "watch/load_checks.h"
#include "watch/load_record.h"
#include "watch/record_writer.h"

namespace tarvel::watch {

// What a start gives: who starts what.
struct LoadPlan {
  std::string operatorName;
  std::vector<ShopField> fields;  // by the names of the shop's field rules
  std::string furnace;            // the zone; empty for a controller of its own
  std::vector<LoadController> controllers;
  std::string profileName;
  std::filesystem::path profileFile;  // read once, for its SHA-256 and its design
  int lowStep = 0, highStep = 0;
  std::vector<LoadStep> program;  // the compiled steps as uploaded
  double sweepPeriod = 15;        // seconds
  std::string startedBy = "console";
};

// One run-state reading of one controller, as the sweep took it.
struct LoadReading {
  int channel = 0;
  SystemClock::time_point at{};
  bool ok = false;  // every exchange of the reading answered
  std::string why;  // of a failed reading
  int runMode = 0, step = 0, stepTime = 0, setPoint = 0, processValue = 0;
  int lowStep = 0, highStep = 0;
  // Where the program stands on the profile's time axis, when the caller knows better than the
  // program steps tell (a step a jump has shortened); else it is worked out from the steps --
  // in the run modes that count whole minutes, with the part of the minute since the step time
  // was seen to change, so that on a ramp the design does not lag by up to a minute.
  std::optional<double> programTime;
};

// An action that stops short once the process recording it has taken its row leaves a second
// row (LoadActionLog): its own what with this after it, and no values ("Pause Profile failed").
inline constexpr std::string_view kActionFailed = " failed";

struct LoadAction {
  enum class Kind { Pause, Restart, Jump, SetValue, Mode, Cancel };
  Kind kind = Kind::Pause;
  int channel = 0;
  SystemClock::time_point at{};
  std::string who, what, oldValue, newValue;
};

class LoadTracker {
 public:
  using Clock = std::function<SystemClock::time_point()>;
  // The load a start seen on a channel's readings belongs to (its zone, its executing profile);
  // nullopt: none is recorded.
  using Planner = std::function<std::optional<LoadPlan>(int channel)>;

  // Which open loads of the Loads table this tracker continues (a line service has one per port);
  // none given: all.
  using Mine = std::function<bool(const store::LoadRow&)>;

  // Continues the open loads of the Loads table that are its own.
  LoadTracker(
      AppFolder folder, store::ConfigStore& store, Clock clock = [] { return SystemClock::now(); },
      RecordOpener open = OpenRecordFile, const Mine& mine = {});
  ~LoadTracker();
  LoadTracker(const LoadTracker&) = delete;
  LoadTracker& operator=(const LoadTracker&) = delete;

  void SetPlanner(Planner planner) { planner_ = std::move(planner); }
  // Problems writing a record or its table row, and what became of them, one line each.
  void OnMessage(std::function<void(const std::string&)> listener) { message_ = std::move(listener); }
  // A load opened or closed (its record's close then set); told at once of the loads this
  // tracker continues.
  void OnLoad(std::function<void(const LoadRecord&)> listener);

  // An operator's start: the id of the new load. Refused (Code::Invalid, nothing written) without
  // an operator or a required field (named), with a field the shop does not have, without a
  // controller, or with a controller in another load under way.
  Result<std::string> Start(const LoadPlan& plan);
  void Take(const LoadReading& reading);
  // False when the channel is in no load under way, or a cancel names another load (its old
  // value): nothing was recorded.
  bool Act(const LoadAction& action);
  bool Alarm(int channel, SystemClock::time_point at, bool raised, const std::string& text);
  bool AlarmAcknowledged(int channel, SystemClock::time_point at, const std::string& who, const std::string& text);

  std::optional<std::string> LoadOf(int channel) const;
  std::vector<std::string> OpenLoads() const;

 private:
  // An operator's pause is taken as its first write is about to go: the program may still run at
  // the reading after. Only a reading of the program held makes a later one running again a
  // restart; a pause that failed before any did left the program running.
  enum class Pause { None, Asked, Held, Failed };
  struct Member {
    bool running = false;  // seen in a program since the start or the last restart
    bool started = false;  // seen in a program since the load opened
    Pause pause = Pause::None;
    bool ended = false;
    bool lost = false;    // its latest reading failed
    bool jumped = false;  // an operator moved the program: the next reading is no new start
  };
  struct Load {
    LoadRecord record;  // without its samples: those are folded into checks as they come
    std::optional<LoadChecks> checks;
    std::unique_ptr<RecordWriter> writer;
    profile::ProfileTable design;
    int lastRow = 0;
    double endTime = 0;
    std::map<int, Member> members;
    bool closed = false;   // its last lines are with the writer
    std::string rowState;  // what its Loads row says: "", "open", "closed"
  };
  struct Seen {
    int runMode = 0, step = 0, stepTime = 0;
    SystemClock::time_point at{};
    // When the step time was last seen to change, or the program to start (halfway between the
    // two readings): in the run modes that count minutes, how far into its minute it is.
    std::optional<SystemClock::time_point> tick;
  };

  static bool InProgram(int runMode) { return runMode >= 1 && runMode <= 4; }
  // The row of an action that stopped short after its own was taken, or the event it left.
  static bool StoppedShort(const std::string& what, const std::string& oldValue, const std::string& newValue) {
    return what.ends_with(kActionFailed) && oldValue.empty() && newValue.empty();
  }
  Result<std::string> Open(const LoadPlan& plan, SystemClock::time_point at, bool asked);
  // The profile file's hash, scales and design into the header and the load.
  void ReadDesign(const LoadPlan& plan, LoadHeader& header, Load& load) const;
  // The record file under the next free id of the day of at; the id into the header.
  Status CreateRecord(const LoadPlan& plan, SystemClock::time_point at, LoadHeader& header, Load& load);
  void Resume(const store::LoadRow& row, SystemClock::time_point now);
  void RecordGap(Load& load, const LoadReading& reading);
  // A reading of a controller an operator paused, for its pause; false without a pause under way.
  bool FollowPause(Load& load, Member& member, const LoadReading& reading, bool program);
  // A start seen on the readings of a channel in no load: opens the load the planner gives.
  void StartSeen(const LoadReading& reading, const Seen& before, bool back);
  Load* Find(int channel);
  void Record(Load& load, const LoadSample& sample);
  void Record(Load& load, const LoadEvent& event);
  LoadSample SampleOf(const Load& load, const LoadReading& reading) const;
  void EndMember(Load& load, int channel, SystemClock::time_point at, const std::string& how);
  // Ends, as not started, every controller of the load that never ran, and closes the load.
  void EndUnstarted(Load& load, SystemClock::time_point at, const std::string& how);
  void Close(Load& load, SystemClock::time_point at, const std::string& ended, bool cancelled = false);
  void Settle(SystemClock::time_point now);
  void Say(const std::string& text) const;

  AppFolder folder_;
  store::ConfigStore& store_;
  Clock clock_;
  RecordOpener open_;
  Planner planner_;
  std::function<void(const std::string&)> message_;
  std::function<void(const LoadRecord&)> loadListener_;
  void Tell(const Load& load) const;
  std::map<std::string, Load> loads_;
  std::map<int, Seen> seen_;  // each channel's latest good reading
};

}  // namespace tarvel::watch
