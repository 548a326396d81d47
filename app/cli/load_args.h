#pragma once
// tarvel-cli: who starts and acts on a load, from the command line of start, zone start and the
// run control verbs: --operator NAME (the login name when not given) and --field NAME=VALUE,
// repeated. Taken out of the arguments before the verb reads its own.

#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "service/service_plant.h"
#include "store/config_store.h"
#include "watch/load_record.h"

namespace tarvel::cli {

struct LoadArgs {
  std::string operatorName;
  std::vector<watch::ShopField> fields;
  std::string fault;  // a --field without NAME=, an option without its value
};

// Who runs tarvel-cli: the operator when none is named.
std::string LoginName();

// The web view's load reports, as load report makes them (a PDF needs Qt: call it on the main
// thread); none in a build without Qt.
service::ReportMaker LoadReports(const AppFolder& folder);

// Takes --operator and every --field out of args.
LoadArgs TakeLoadArgs(Args& args);

// Checks a start of channels against the shop's fields and leaves it for the process that
// records; false, with the refusal on err, before anything reaches a controller.
bool RequestLoadStart(Context& ctx, store::ConfigStore& store, const std::vector<int>& channels, const LoadArgs& load);

// An operator's action on channel's load, left for the process that records it. Written before
// the action's first write, so that no reading of its effect comes first. oldValue: what the
// action changes as read just before; without it, where the stored run state stood.
// The row left, for taking back an action that then stopped short; nullopt when the store refused it.
std::optional<store::LoadActionRow> RecordLoadAction(Context& ctx, store::ConfigStore& store, int channel,
                                                     const std::string& kind, const LoadArgs& load,
                                                     const std::string& what, const std::string& newValue,
                                                     const std::optional<std::string>& oldValue = std::nullopt);

}  // namespace tarvel::cli
