// tarvel-cli: zones -- channels grouped as one furnace -- and a zone's members programmed and
// run as one command, each member through the console's own workflow.
#include <algorithm>
#include <filesystem>
#include <map>

#include "cli/cli.h"
#include "cli/console_host.h"
#include "cli/load_args.h"
#include "console/zone_run.h"
#include "util/text.h"
#include "watch/load_start.h"
#include "watch/zones.h"

namespace tarvel::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarvel-cli [--home DIR] zones | zone set NAME CHANNEL... | zone remove CHANNEL...\n"
    "       tarvel-cli [--home DIR] --port DEVICE zone upload NAME PROFILE START [--progression SV|PV] [--yes] |\n"
    "         zone select NAME PROFILE [--yes] | zone start NAME [--front-panel] [--operator NAME] [--field "
    "NAME=VALUE]... |\n"
    "         zone pause NAME | zone restart NAME\n";

int Usage(Context& ctx, const std::string& why = "") {
  if (!why.empty()) ctx.err << why << "\n";
  ctx.err << kUsage;
  return kExitUsage;
}

int ListZones(Context& ctx, store::ConfigStore& store) {
  auto rows = store.Zones();
  if (!rows) {
    ctx.err << rows.status().message() << "\n";
    return kExitFailed;
  }
  std::map<std::string, std::string> zones;
  for (const auto& row : *rows) zones[row.zoneName] += " " + std::to_string(row.softwareChannel);
  for (const auto& [name, channels] : zones) ctx.out << name << ":" << channels << "\n";
  if (zones.empty()) ctx.out << "No zones\n";
  return kExitOk;
}

int Membership(Context& ctx, const Args& words) {
  store::ConfigStore store(ctx.folder.ConfigDatabase());
  const bool set = words[1] == "set";
  const std::size_t first = set ? 3 : 2;
  if (words.size() <= first) return Usage(ctx);
  for (std::size_t i = first; i < words.size(); ++i) {
    auto channel = ToWholeNumber(words[i], -32768, 32767);
    if (!channel) return Usage(ctx, "Not a channel number: " + words[i]);
    if (set && !store.ChannelByNumber(static_cast<int>(*channel)).value_or(std::nullopt)) {
      ctx.err << "Channel " << words[i] << " is not in the channel map\n";
      return kExitFailed;
    }
    Status done =
        set ? store.SetZone(static_cast<int>(*channel), words[2]) : store.RemoveFromZone(static_cast<int>(*channel));
    if (!done.ok()) {
      ctx.err << done.message() << "\n";
      return kExitFailed;
    }
  }
  return ListZones(ctx, store);
}

// The words of a zone command and its own options.
struct ZoneWords {
  Args words;
  bool yes = false, frontPanel = false;
  std::string progression = "SV";
  std::string fault;  // an unknown option
};

ZoneWords ReadZoneWords(const Args& args) {
  ZoneWords z;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--yes")
      z.yes = true;
    else if (args[i] == "--front-panel")
      z.frontPanel = true;
    else if (args[i] == "--progression" && i + 1 < args.size() && (args[i + 1] == "SV" || args[i + 1] == "PV"))
      z.progression = args[++i];
    else if (args[i].starts_with("--")) {
      z.fault = "Unknown option " + args[i];
      break;
    } else
      z.words.push_back(args[i]);
  }
  return z;
}

// The load actions of a zone's pause or restart: each member's row is left before any write, and
// a member the command did not finish on takes its row back (or records the failure).
class ZoneActions {
 public:
  ZoneActions(Context& ctx, store::ConfigStore& store) : ctx_(ctx), store_(store) {}

  void Leave(const std::vector<int>& members, bool pause, const std::string& zone, const LoadArgs& load) {
    const std::string what = (pause ? "Pause Profile (zone " : "Restart Profile (zone ") + zone + ")";
    for (int member : members)
      if (auto row =
              RecordLoadAction(ctx_, store_, member, pause ? "pause" : "restart", load, what, pause ? "mode 0" : ""))
        left_.emplace(member, std::move(*row));
  }
  void TakeBackUnfinished(const std::vector<console::MemberReport>& reports) {
    for (const auto& [member, row] : left_) {
      const auto done = [member](const console::MemberReport& r) { return r.channel == member && r.done; };
      if (std::none_of(reports.begin(), reports.end(), done))
        if (const Status failed = watch::TakeBackLoadAction(store_, row); !failed.ok())
          ctx_.err << "The load record will miss this action: " << failed.message() << "\n";
    }
  }

 private:
  Context& ctx_;
  store::ConfigStore& store_;
  std::map<int, store::LoadActionRow> left_;
};

}  // namespace

int ZoneVerbs(Context& ctx, const Args& given) {
  Args args = given;
  const LoadArgs load = TakeLoadArgs(args);
  if (!load.fault.empty()) return Usage(ctx, load.fault);
  ZoneWords given_words = ReadZoneWords(args);
  if (!given_words.fault.empty()) return Usage(ctx, given_words.fault);
  const auto& [words, yes, frontPanel, progression, fault] = given_words;
  if (words[0] == "zones") {
    if (words.size() != 1) return Usage(ctx);
    store::ConfigStore store(ctx.folder.ConfigDatabase());
    return ListZones(ctx, store);
  }
  if (words.size() < 2) return Usage(ctx);
  if (words[1] == "set" || words[1] == "remove") return Membership(ctx, words);

  static const std::map<std::string, std::pair<console::ZoneVerb, std::size_t>> kVerbs = {
      {"upload", {console::ZoneVerb::Upload, 5}},
      {"select", {console::ZoneVerb::Select, 4}},
      {"start", {console::ZoneVerb::Start, 3}},
      {"pause", {console::ZoneVerb::Pause, 3}},
      {"restart", {console::ZoneVerb::Restart, 3}}};
  auto verb = kVerbs.find(words[1]);
  if (verb == kVerbs.end() || words.size() != verb->second.second) return Usage(ctx);
  const console::ZoneVerb zoneVerb = verb->second.first;
  if ((yes && zoneVerb != console::ZoneVerb::Upload && zoneVerb != console::ZoneVerb::Select) ||
      (frontPanel && zoneVerb != console::ZoneVerb::Start) || ctx.port.empty() ||
      (!load.fields.empty() && zoneVerb != console::ZoneVerb::Start))
    return Usage(ctx);
  console::ZoneCommand command{zoneVerb, words.size() > 3 ? words[3] : "", words.size() > 4 ? words[4] : "",
                               progression};
  if (zoneVerb == console::ZoneVerb::Upload) {  // a bare name is a profile of Profiles/, as upload takes it
    const std::filesystem::path file = command.profile;
    std::error_code ec;
    if (!file.has_parent_path() && !std::filesystem::exists(file, ec))
      command.profile = (ctx.folder.Profiles() / file).string();
  }
  if (zoneVerb == console::ZoneVerb::Upload && !ToWholeNumber(command.startStep, 1, 64))
    return Usage(ctx, "START must be a program step from 1 to 64");

  ConsoleHost host(ctx, yes);
  host.SpanPorts();  // a zone may span ports: each member on its own
  if (zoneVerb == console::ZoneVerb::Select) host.View().AnswerOk("Run State Parameters Change");
  if (frontPanel) host.View().AnswerOk("Enter Front Panel Start Code 5172");
  const auto members = watch::ZoneMembers(host.Store().Zones().value_or({}), words[2]);
  if (members.empty()) {
    ctx.err << "No zone " << words[2] << "\n";
    return kExitFailed;
  }
  const bool start = zoneVerb == console::ZoneVerb::Start;
  if (start && !RequestLoadStart(ctx, host.Store(), members, load)) return kExitFailed;
  const bool pause = zoneVerb == console::ZoneVerb::Pause, restart = zoneVerb == console::ZoneVerb::Restart;
  ZoneActions actions(ctx, host.Store());
  if (pause || restart) actions.Leave(members, pause, words[2], load);
  if (!host.Open(std::to_string(members.front()))) {
    actions.TakeBackUnfinished({});
    return kExitFailed;
  }
  const auto reports = console::RunZone(host.Console(), words[2], members, command);
  actions.TakeBackUnfinished(reports);
  const bool all = std::all_of(reports.begin(), reports.end(), [](const console::MemberReport& r) { return r.done; });
  if (start && !all) (void)host.Store().DropLoadStarts(members);
  return all ? kExitOk : kExitFailed;
}

}  // namespace tarvel::cli
