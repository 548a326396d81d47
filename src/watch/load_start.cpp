#include "watch/load_start.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace tarvel::watch {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool Blank(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

constexpr const char* kActionKinds[] = {event::kPause,    event::kRestart, event::kJump,
                                        event::kSetValue, event::kMode,    event::kCancel};

long long Millis(SystemClock::time_point at) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

SystemClock::time_point FromMillis(long long ms) {
  return SystemClock::time_point(std::chrono::duration_cast<SystemClock::duration>(std::chrono::milliseconds(ms)));
}

std::string Labelled(const char* label, const std::optional<int>& value) {
  return value ? std::string(label) + std::to_string(*value) : "";
}

}  // namespace

Status CheckLoadStart(const std::vector<FieldRule>& rules, const std::string& operatorName,
                      const std::vector<ShopField>& fields) {
  auto refuse = [](const std::string& why) { return Status::Error(Status::Code::Invalid, "Load not started: " + why); };
  if (Blank(operatorName)) return refuse("Operator is required");
  for (const ShopField& given : fields)
    if (std::none_of(rules.begin(), rules.end(),
                     [&](const FieldRule& r) { return Lower(r.name) == Lower(given.name); })) {
      std::string names;
      for (const FieldRule& r : rules) names += (names.empty() ? "" : ", ") + r.name;
      return refuse("the shop has no field " + given.name + " (its fields: " + names + ")");
    }
  for (const FieldRule& rule : rules) {
    if (!rule.required) continue;
    const bool given = std::any_of(fields.begin(), fields.end(), [&](const ShopField& f) {
      return Lower(f.name) == Lower(rule.name) && !Blank(f.value);
    });
    if (!given) return refuse("the field " + rule.name + " is required");
  }
  return Status::Ok();
}

SystemClock::time_point RequestedAt(const store::LoadStartRow& start) { return FromMillis(start.requested); }

bool LoadStartExpired(const store::LoadStartRow& start, SystemClock::time_point at) {
  return at - RequestedAt(start) > kLoadStartWaits;
}

std::optional<ShopField> ParseField(const std::string& text) {
  const auto equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return std::nullopt;
  return ShopField{text.substr(0, equals), text.substr(equals + 1)};
}

Status RequestLoadStart(const AppFolder& folder, store::ConfigStore& store, const std::vector<int>& channels,
                        const std::string& operatorName, const std::vector<ShopField>& fields,
                        const std::string& startedBy, SystemClock::time_point at) {
  if (Status checked = CheckLoadStart(ReadFieldRules(folder), operatorName, fields); !checked.ok()) return checked;
  std::vector<store::LoadStartRow> rows;
  for (int channel : channels) {
    store::LoadStartRow row{channel, operatorName, startedBy, Millis(at), {}};
    for (const ShopField& f : fields) row.fields.emplace_back(f.name, f.value);
    rows.push_back(std::move(row));
  }
  if (Status saved = store.SaveLoadStarts(rows); !saved.ok())
    return Status::Error(saved.code(), "Load not started: " + saved.message());
  return Status::Ok();
}

std::optional<LoadPlan> PlanFromStore(const AppFolder& folder, store::ConfigStore& store, int channel,
                                      double sweepPeriod) {
  auto mapped = store.ChannelByNumber(channel);
  if (!mapped.ok() || !mapped->has_value()) return std::nullopt;
  LoadPlan plan;
  plan.sweepPeriod = sweepPeriod;
  const std::vector<store::ZoneRow> zones = store.Zones().value_or({});
  for (const store::ZoneRow& row : zones)
    if (row.softwareChannel == channel) plan.furnace = row.zoneName;
  std::vector<int> members;
  for (const store::ZoneRow& row : zones)
    if (!plan.furnace.empty() && row.zoneName == plan.furnace) members.push_back(row.softwareChannel);
  if (members.empty()) members.push_back(channel);
  const std::string storedPort = [&] {
    auto port = store.Port();
    return port.ok() && port->has_value() ? (*port)->devicePath : std::string();
  }();
  for (int member : members) {
    auto row = store.ChannelByNumber(member);
    if (!row.ok() || !row->has_value()) continue;
    const store::ChannelRow& c = **row;
    plan.controllers.push_back({c.softwareChannel, c.nickName, c.modbusAddress, c.port.empty() ? storedPort : c.port});
  }

  // The profile and its steps as the started channel's controller runs them.
  const int address = (**mapped).modbusAddress;
  auto config = store.ControllerConfig(address);
  if (config.ok() && config->has_value() && !(*config)->profileNameExecuting.empty()) {
    const store::ControllerConfigRow& run = **config;
    plan.profileName = run.profileNameExecuting;
    plan.profileFile = folder.Profiles() / run.profileNameExecuting;
    plan.lowStep = run.programLowAddress;
    plan.highStep = run.programHighAddress;
    for (const store::MemoryRow& m : store.Memory(address).value_or({}))
      if (m.segment >= plan.lowStep && m.segment <= plan.highStep)
        plan.program.push_back({m.segment, m.pidSet, m.duration, m.temperature});
  }

  if (auto start = store.LoadStart(channel); start.ok() && start->has_value()) {
    plan.operatorName = (*start)->operatorName;
    plan.startedBy = (*start)->startedBy;
    for (const auto& [name, value] : (*start)->fields) plan.fields.push_back({name, value});
  } else {
    plan.startedBy = "front panel";
  }
  return plan;
}

store::LoadActionRow ActionRow(int channel, const std::string& kind, const std::string& who, const std::string& what,
                               const std::string& oldValue, const std::string& newValue, SystemClock::time_point at) {
  return {0, channel, Millis(at), kind, who, what, oldValue, newValue};
}

std::optional<store::LoadActionRow> ActionRowOf(const controller::RunActionResult& result, const std::string& who,
                                                SystemClock::time_point at) {
  using controller::RunAction;
  if (result.channel <= 0) return std::nullopt;
  auto row = [&](const char* kind, const char* what, const std::string& oldValue, const std::string& newValue) {
    return ActionRow(result.channel, kind, who, what, oldValue, newValue, at);
  };
  switch (result.action) {
    case RunAction::Pause:
      return row(event::kPause, "Pause Profile", Labelled("mode ", result.modeBefore),
                 Labelled("mode ", result.modeAfter));
    case RunAction::Restart: return row(event::kRestart, "Restart Profile", "", Labelled("mode ", result.modeAfter));
    case RunAction::Jump:
      return row(event::kJump, "Jump", Labelled("step ", result.stepBefore),
                 result.jumpPoint ? "segment " + std::to_string(result.jumpPoint->first) + ", time " +
                                        std::to_string(result.jumpPoint->second)
                                  : "");
    case RunAction::SetMode:
      return row(event::kMode, "Set Run Mode", Labelled("mode ", result.modeBefore),
                 Labelled("mode ", result.modeAfter));
    case RunAction::SetValue:
      return row(event::kSetValue, "Set Value", Labelled("", result.setValueBefore),
                 Labelled("", result.setValueAfter));
    default: return std::nullopt;
  }
}

void LoadActionLog::SetWho(std::string who) {
  std::lock_guard lock(mutex_);
  who_ = std::move(who);
}

void LoadActionLog::Add(const store::LoadActionRow& row) {
  if (const Status added = store_.AddLoadAction(row); !added.ok() && problem_)
    problem_("The load record will miss this action: " + added.message());
}

void LoadActionLog::Begins(const controller::RunActionResult& intended) {
  std::unique_lock lock(mutex_);
  const std::string who = who_;
  lock.unlock();
  begun_ = ActionRowOf(intended, who, SystemClock::now());
  if (begun_) Add(*begun_);
}

void LoadActionLog::Ended(const controller::RunActionResult& result) {
  auto begun = std::exchange(begun_, std::nullopt);
  if (!begun || result.done) return;
  if (const Status failed = TakeBackLoadAction(store_, *begun); !failed.ok() && problem_)
    problem_("The load record will miss this action: " + failed.message());
}

Status TakeBackLoadAction(store::ConfigStore& store, const store::LoadActionRow& begun) {
  const auto withdrawn = store.WithdrawLoadAction(begun);
  if (withdrawn.ok() && *withdrawn) return Status::Ok();
  return store.AddLoadAction(ActionRow(begun.softwareChannel, begun.kind, begun.who,
                                       begun.what + std::string(kActionFailed), "", "", SystemClock::now()));
}

std::optional<LoadAction> ActionOf(const store::LoadActionRow& row) {
  const auto* kind =
      std::find_if(std::begin(kActionKinds), std::end(kActionKinds), [&](const char* k) { return row.kind == k; });
  if (kind == std::end(kActionKinds)) return std::nullopt;
  return LoadAction{static_cast<LoadAction::Kind>(kind - std::begin(kActionKinds)),
                    row.softwareChannel,
                    FromMillis(row.at),
                    row.who,
                    row.what,
                    row.oldValue,
                    row.newValue};
}

}  // namespace tarvel::watch
