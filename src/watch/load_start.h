#pragma once
// watch: what a load is started with, from the store. A client (the console, tarvel-cli) that
// starts a run leaves its operator and the shop's fields in the store before anything reaches
// the controller; the process that records (the line watch, in the console, `tarvel-cli watch`
// or the line service) takes them when its readings show the program running, with the rest of
// the plan -- zone, controllers, profile and its file, compiled steps -- from the store as it
// is then. Operator actions wait in the store the same way, so that run control only has to
// leave one row. Qt-free; depends on store, profile and util.

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "controller/run_control.h"
#include "store/config_store.h"
#include "util/app_folder.h"
#include "watch/load_tracker.h"

namespace tarvel::watch {

// Why an operator's start cannot be recorded ("Load not started: the field Order is required"):
// no operator, a required field left empty, a field the shop does not have. Ok when none.
Status CheckLoadStart(const std::vector<FieldRule>& rules, const std::string& operatorName,
                      const std::vector<ShopField>& fields);

// "NAME=VALUE" as --field gives it; nullopt without "=" or a name.
std::optional<ShopField> ParseField(const std::string& text);

// How long a client's start waits for its run: long enough to walk to the furnace and key the
// start code on the panel; short enough that a start no run followed (the code never keyed, the
// client killed between its request and the controller, nothing recording) is not taken by a
// run begun hours later for another order.
inline constexpr std::chrono::minutes kLoadStartWaits{15};

// Whether a client's start is too old for a run that began at runBegan, or, for an idle
// controller, at now.
bool LoadStartExpired(const store::LoadStartRow& start, SystemClock::time_point at);
SystemClock::time_point RequestedAt(const store::LoadStartRow& start);

// Checks a client's start of channels (a controller, or the members of a zone) and leaves it in
// the store for the process that records. Call it before the start reaches a controller: a
// refusal names the field.
Status RequestLoadStart(const AppFolder& folder, store::ConfigStore& store, const std::vector<int>& channels,
                        const std::string& operatorName, const std::vector<ShopField>& fields,
                        const std::string& startedBy, SystemClock::time_point at);

// The load a start seen on channel belongs to: the channel's zone (every member) or the channel
// alone, each controller's nickname, address and port, the profile it executes with its file,
// the program steps low..high from the memory copy, and the operator and fields of a client's
// start waiting for the channel. nullopt when the channel is not mapped.
std::optional<LoadPlan> PlanFromStore(const AppFolder& folder, store::ConfigStore& store, int channel,
                                      double sweepPeriod);

// An operator's action for the store; kind is one of the event kinds of operator actions.
store::LoadActionRow ActionRow(int channel, const std::string& kind, const std::string& who, const std::string& what,
                               const std::string& oldValue, const std::string& newValue, SystemClock::time_point at);
// The row a run-control action leaves for the load record: the values it read and sets out to
// write. Selections, limits and starts have none: they are the load's own beginning, which the
// process that records sees. nullopt then, or without a channel.
std::optional<store::LoadActionRow> ActionRowOf(const controller::RunActionResult& result, const std::string& who,
                                                SystemClock::time_point at);

// An action left in the store that then stopped short: its row taken back while no one has taken
// it, else followed by a row saying it failed. The store's refusal of that row is returned.
Status TakeBackLoadAction(store::ConfigStore& store, const store::LoadActionRow& begun);

// The load actions of one front end's run control (the console window, tarvel-cli), told on the
// thread that runs it. An action's row goes to the store as it is about to make its first write,
// so that the process recording the load takes a pause before it reads the run mode 0 the pause
// writes. An action that then stops short takes its row back while no one has taken it, else
// leaves a second row saying it failed; what it left on the controller the readings record.
class LoadActionLog final : public controller::RunActionObserver {
 public:
  using Problem = std::function<void(const std::string&)>;
  LoadActionLog(store::ConfigStore& store, std::string who, Problem problem)
      : store_(store), who_(std::move(who)), problem_(std::move(problem)) {}
  void SetWho(std::string who);  // from any thread: the next action's operator

  void Begins(const controller::RunActionResult& intended) override;
  void Ended(const controller::RunActionResult& result) override;

 private:
  void Add(const store::LoadActionRow& row);

  store::ConfigStore& store_;
  std::mutex mutex_;
  std::string who_;
  Problem problem_;
  std::optional<store::LoadActionRow> begun_;  // the row of the action under way
};

// A stored action as the tracker takes it; nullopt for a kind it does not know.
std::optional<LoadAction> ActionOf(const store::LoadActionRow& row);

}  // namespace tarvel::watch
