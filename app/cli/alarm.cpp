// tarvel-cli: the alarms the line watch keeps open in the store, and their acknowledgement. The
// watch (tarvel-cli watch, the line service, the console's overview) takes an acknowledgement in
// at its next reading of the channel: its state, the MQTT state and the load record show it.
#include "cli/args.h"
#include "cli/cli.h"
#include "cli/load_args.h"
#include "store/config_store.h"
#include "util/text.h"
#include "watch/alarms.h"
#include "watch/load_record.h"

namespace tarvel::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarvel-cli [--home DIR] alarm list\n"
    "       tarvel-cli [--home DIR] alarm ack CHANNEL [--operator NAME]\n";

std::string Utc(long long ms) { return watch::UtcTime(watch::SystemClock::time_point(std::chrono::milliseconds(ms))); }

std::string Acked(const store::AlarmRow& row) {
  return row.ackedBy.empty() ? "not acknowledged" : "acknowledged by " + row.ackedBy + " at " + Utc(row.acked);
}

}  // namespace

int AlarmVerbs(Context& ctx, const Args& args) {
  ArgReader in(ctx.err, kUsage, args, 1, {}, {"--operator"});
  const std::string verb = in.Count() > 0 ? in.Word(0) : "";
  if (verb == "list" && in.Count() != 1) in.Refuse("alarm list takes nothing more");
  if (verb == "list" && in.Option("--operator")) in.Refuse("alarm list takes no --operator");
  if (verb == "ack" && in.Count() != 2) in.Refuse("alarm ack needs one CHANNEL");
  if (auto who = in.Option("--operator"); who && who->empty()) in.Refuse("--operator needs a NAME");
  const auto channel = verb == "ack" && in.Count() == 2 ? ToWholeNumber(in.Word(1), 1, 32767) : std::nullopt;
  if (verb == "ack" && in.ok() && !channel) in.Refuse("Not a channel: \"" + in.Word(1) + "\"");
  if (!in.ok() || (verb != "list" && verb != "ack")) return in.Usage();

  store::ConfigStore store(ctx.folder.ConfigDatabase());
  if (verb == "list") {
    auto open = store.OpenAlarms();
    if (!open.ok()) return ctx.err << open.status().message() << "\n", kExitFailed;
    for (const store::AlarmRow& row : *open)
      ctx.out << "ch " << row.softwareChannel << "  " << row.kind << "  raised " << Utc(row.raised) << "  " << row.text
              << "  " << Acked(row) << "\n";
    if (open->empty()) ctx.err << "No open alarms\n";
    return kExitOk;
  }
  const std::string who = in.Option("--operator").value_or(LoginName());
  if (who.empty()) return ctx.err << "alarm ack needs --operator NAME: there is no login name\n", kExitUsage;
  auto acked = watch::AcknowledgeAlarm(store, static_cast<int>(*channel), who);
  if (!acked.ok()) return ctx.err << acked.status().message() << "\n", kExitFailed;
  // Whoever acknowledged first keeps it: a second acknowledgement changes nothing.
  const store::AlarmRow& row = acked->row;
  ctx.out << "The " << row.kind << " alarm on channel " << row.softwareChannel << " (" << row.text << ") "
          << (acked->first ? "is " : "was already ") << Acked(row) << "\n";
  return kExitOk;
}

}  // namespace tarvel::cli
