// tarvel-cli: load records -- list, show, report (PDF and CSV), verify, sign; who starts a load.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>

#include "cli/args.h"
#include "cli/cli.h"
#include "cli/load_args.h"
#include "store/config_store.h"
#include "util/text.h"
#include "watch/load_book.h"
#include "watch/load_checks.h"
#include "watch/load_start.h"
#include "watch/zones.h"

#ifdef TARVEL_REPORTS
#include <QGuiApplication>

#include "report/load_report.h"
#endif

namespace tarvel::cli {
namespace {

using namespace tarvel::watch;

constexpr const char* kUsage =
    "usage: tarvel-cli [--home DIR] load list [--from DATE] [--to DATE] [--channel N] [--result PASS|FAIL|CANCELLED]"
    " [--order TEXT]\n"
    "       tarvel-cli [--home DIR] load show ID | load report ID [--pdf FILE] [--csv FILE] | load verify ID |\n"
    "         load sign ID --name NAME --meaning reviewed|approved |\n"
    "         load cancel ID|CHANNEL|ZONE [--operator NAME] [--reason TEXT]\n"
    "DATE: YYYY-MM-DD (UTC) or YYYY-MM-DDTHH:MM:SSZ\n";

// A day means all of it: --from its start, --to its end.
std::optional<SystemClock::time_point> DateArg(const std::string& text, bool end) {
  if (auto exact = ParseUtcTime(text)) return exact;
  auto day = ParseUtcTime(text + "T00:00:00Z");
  if (!day || text.size() != 10) return std::nullopt;
  return end ? *day + std::chrono::hours(24) - std::chrono::seconds(1) : *day;
}

std::string Channel(int channel) { return channel ? "ch " + std::to_string(channel) : "all"; }

std::string EventWords(const LoadEvent& e) {
  std::string text = e.what;
  if (!e.oldValue.empty() || !e.newValue.empty())
    text += (text.empty() ? "" : " ") + ("(" + e.oldValue + " -> " + e.newValue + ")");
  if (e.from && e.to) text += (text.empty() ? "" : "; ") + ("from " + UtcTime(*e.from) + " to " + UtcTime(*e.to));
  return text;
}

void Show(Context& ctx, const LoadRecord& r, const LoadResult& result) {
  const LoadHeader& h = r.header;
  std::ostream& out = ctx.out;
  out << "Load " << h.loadId << "\n";
  if (r.close)
    out << "Result: " << ResultWord(*r.close) << " (closed " << UtcTime(r.close->at) << ", " << r.close->ended << ")\n";
  else
    out << "Under way (provisional result: " << (result.pass ? "PASS" : "FAIL") << ")\n";
  out << "Opened: " << UtcTime(h.opened) << ", started from the " << h.startedBy << "\n";
  out << "Operator: " << (h.operatorName.empty() ? "(none)" : h.operatorName) << "\n";
  for (const ShopField& f : h.fields) out << f.name << ": " << f.value << "\n";
  for (const std::string& name : h.missing) out << name << ": (not given)\n";
  if (!h.furnace.empty()) out << "Furnace: " << h.furnace << "\n";
  for (const LoadController& c : h.controllers)
    out << "Channel " << c.channel << ": " << c.nickname << ", address " << c.address
        << (c.port.empty() ? "" : ", port " + c.port) << "\n";
  out << "Profile: " << h.profileName << "  SHA-256 " << (h.profileSha256.empty() ? "(unreadable)" : h.profileSha256)
      << "\n";
  out << "Program: steps " << h.lowStep << " to " << h.highStep << "\n";
  long long gaps = 0;
  for (const LoadSample& s : r.samples) gaps += s.gap;
  out << "Samples: " << r.samples.size() - gaps << " readings, " << gaps << " failed\n";
  out << "Checks:\n";
  for (const LoadCheck& c : result.checks)
    out << "  " << (c.pass ? "PASS" : "FAIL") << "  " << Channel(c.channel) << "  " << c.name << ": " << c.reason
        << "\n";
  out << "Events:\n";
  for (const LoadEvent& e : r.events) {
    out << "  " << UtcTime(e.at) << "  " << Channel(e.channel) << "  " << e.kind;
    if (!e.who.empty()) out << "  " << e.who;
    if (const std::string words = EventWords(e); !words.empty()) out << "  " << words;
    out << "\n";
  }
  out << "Signatures:" << (r.signatures.empty() ? " none" : "") << "\n";
  for (const LoadSignature& s : r.signatures)
    out << "  " << UtcTime(s.at) << "  " << s.name << "  " << s.meaning << "\n";
  out << "Final hash: " << (r.close ? r.close->finalHash : "(none: the load is under way)") << "\n";
}

int Failed(Context& ctx, const std::string& why) {
  ctx.err << why << "\n";
  return kExitFailed;
}

int List(Context& ctx, ArgReader& in) {
  LoadFilter filter;
  if (auto from = in.Option("--from"); from && !(filter.from = DateArg(*from, false)))
    in.Refuse("--from needs a DATE, not \"" + *from + "\"");
  if (auto to = in.Option("--to"); to && !(filter.to = DateArg(*to, true)))
    in.Refuse("--to needs a DATE, not \"" + *to + "\"");
  if (auto channel = in.Option("--channel")) filter.channel = in.Whole(*channel, {"--channel N", 1, 32767});
  if (auto result = in.Option("--result")) {
    if (!FilterResult(filter, *result)) in.Refuse("--result is PASS, FAIL or CANCELLED, not \"" + *result + "\"");
  }
  filter.order = in.Option("--order");
  if (!in.ok()) return in.Usage();
  std::vector<std::string> skipped;
  const auto loads = ListLoads(ctx.folder, filter, &skipped);
  for (const LoadSummary& load : loads) ctx.out << SummaryLine(load) << "\n";
  for (const std::string& name : skipped)
    ctx.err << "Not a load record: " << (LoadsFolder(ctx.folder) / name).string() << "\n";
  if (loads.empty()) ctx.err << "No loads\n";
  return kExitOk;
}

// Leaves a cancel for the process that records: a load under way has one writer, which ends the
// record at its next reading of the load's controllers. target: a load's id, a channel or a zone.
int Cancel(Context& ctx, const std::string& target, const std::string& who, const std::string& why) {
  store::ConfigStore store(ctx.folder.ConfigDatabase());
  auto open = store.OpenLoads();
  if (!open.ok()) return Failed(ctx, open.status().message());
  std::vector<int> channels;
  if (auto channel = ToWholeNumber(target, 1, 32767))
    channels.push_back(static_cast<int>(*channel));
  else if (!IsLoadId(target))
    channels = ZoneMembers(store.Zones().value_or({}), target);
  std::vector<std::pair<std::string, int>> loads;  // each load under way once, by its first channel named
  for (const store::LoadRow& row : *open) {
    std::vector<int> of;
    for (std::size_t at = 0; at < row.channels.size();) {
      const std::size_t comma = std::min(row.channels.find(',', at), row.channels.size());
      of.push_back(std::atoi(row.channels.substr(at, comma - at).c_str()));
      at = comma + 1;
    }
    if (row.loadId == target && !of.empty()) loads.emplace_back(row.loadId, of.front());
    for (int channel : channels)
      if (std::find(of.begin(), of.end(), channel) != of.end()) {
        loads.emplace_back(row.loadId, channel);
        break;
      }
  }
  if (loads.empty()) {
    const bool number = ToWholeNumber(target, 1, 32767).has_value();
    return Failed(ctx, "No load under way " +
                           std::string(IsLoadId(target) ? "with the id "
                                       : number         ? "on channel "
                                                        : "in zone ") +
                           target);
  }
  for (const auto& [id, channel] : loads) {
    if (Status added = store.AddLoadAction(ActionRow(channel, event::kCancel, who, why, id, "", SystemClock::now()));
        !added.ok())
      return Failed(ctx, "Load " + id + " not cancelled: " + added.message());
    ctx.out << "Load " << id << " is cancelled by " << who << " at the next reading of the process that records it"
            << " (the controllers are not stopped)\n";
  }
  return kExitOk;
}

int Verify(Context& ctx, const std::string& id) {
  store::ConfigStore store(ctx.folder.ConfigDatabase());
  const RecordVerdict verdict = VerifyLoad(ctx.folder, store, id);
  if (verdict.Whole()) {
    ctx.out << id << ": whole and untouched, " << verdict.lines << " lines, "
            << (verdict.closed ? "closed, final hash " + verdict.finalHash : std::string("under way")) << "\n";
    return kExitOk;
  }
  ctx.out << id << ": BROKEN\n";
  for (const RecordBreak& b : verdict.breaks)
    ctx.out << (b.line > 0 ? "  line " + std::to_string(b.line) + ": " : "  ") << b.what << "\n";
  return kExitFailed;
}

#ifdef TARVEL_REPORTS
int& GuiArgc() {
  static int argc = 3;
  return argc;
}
char** GuiArgv() {
  static char name[] = "tarvel-cli", option[] = "-platform", platform[] = "offscreen";
  static char* argv[] = {name, option, platform, nullptr};
  return argv;
}
#endif

int Report(Context& ctx, const std::string& id, std::optional<std::string> pdf, const std::optional<std::string>& csv) {
  store::ConfigStore store(ctx.folder.ConfigDatabase());
  if (const RecordVerdict verdict = VerifyLoad(ctx.folder, store, id); !verdict.Whole())
    return Failed(ctx, "Load " + id + " is broken (" + verdict.breaks.front().what +
                           "): no report is made of it; see load verify");
  auto record = ReadLoadRecord(LoadFile(ctx.folder, id));
  if (!record.ok()) return Failed(ctx, record.status().message());
  if (!pdf && !csv) pdf = (LoadsFolder(ctx.folder) / (id + ".pdf")).string();
  if (csv) {
#ifdef TARVEL_REPORTS
    if (Status written = report::WriteLoadCsv(*record, *csv); !written.ok()) return Failed(ctx, written.message());
    ctx.out << "Samples of " << id << " written to " << *csv << "\n";
#endif
  }
  if (pdf) {
#ifdef TARVEL_REPORTS
    // The report needs fonts and a paint device, not a display.
    std::optional<QGuiApplication> app;  // a service with a web view has one already
    if (!QCoreApplication::instance()) app.emplace(GuiArgc(), GuiArgv());
    if (Status written = report::WriteLoadPdf(*record, ResultOf(*record, SystemClock::now()), *pdf); !written.ok())
      return Failed(ctx, written.message());
    ctx.out << "Report of " << id << " written to " << *pdf << "\n";
#endif
  }
#ifndef TARVEL_REPORTS
  return Failed(ctx, "This tarvel-cli was built without Qt: it makes no reports");
#else
  return kExitOk;
#endif
}

}  // namespace

service::ReportMaker LoadReports(const AppFolder& folder) {
#ifdef TARVEL_REPORTS
  // Made here, on the main thread, once: the web view's threads paint the PDFs under it.
  if (!QCoreApplication::instance()) new QGuiApplication(GuiArgc(), GuiArgv());
  return [folder](const std::string& id, const std::string& format) -> Result<std::string> {
    static std::mutex one;  // a report at a time: they share the painter's fonts
    std::lock_guard lock(one);
    store::ConfigStore store(folder.ConfigDatabase());
    if (!std::filesystem::exists(LoadFile(folder, id))) return Status::Error(Status::Code::NotFound, "No load " + id);
    if (const RecordVerdict verdict = VerifyLoad(folder, store, id); !verdict.Whole())
      return Status::Failed("Load " + id + " is broken (" + verdict.breaks.front().what +
                            "): no report is made of it; see load verify");
    auto record = ReadLoadRecord(LoadFile(folder, id));
    if (!record.ok()) return record.status();
    if (format == "csv") return report::LoadCsv(*record);
    const std::filesystem::path file = LoadsFolder(folder) / (id + ".web.pdf");
    if (Status written = report::WriteLoadPdf(*record, ResultOf(*record, SystemClock::now()), file); !written.ok())
      return written;
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::error_code ec;
    std::filesystem::remove(file, ec);
    return bytes;
  };
#else
  (void)folder;
  return {};
#endif
}

int LoadVerbs(Context& ctx, const Args& args) {
  ArgReader in(ctx.err, kUsage, args, 1, {},
               {"--from", "--to", "--channel", "--result", "--order", "--pdf", "--csv", "--name", "--meaning",
                "--operator", "--reason"});
  if (in.Count() == 0) return in.Usage();
  const std::string verb = in.Word(0);
  // Each verb takes its own options only.
  const std::map<std::string, std::vector<std::string>> kOptions = {
      {"list", {"--from", "--to", "--channel", "--result", "--order"}},
      {"show", {}},
      {"report", {"--pdf", "--csv"}},
      {"verify", {}},
      {"sign", {"--name", "--meaning"}},
      {"cancel", {"--operator", "--reason"}}};
  auto allowed = kOptions.find(verb);
  if (allowed == kOptions.end()) return in.Usage();
  for (const char* option : {"--from", "--to", "--channel", "--result", "--order", "--pdf", "--csv", "--name",
                             "--meaning", "--operator", "--reason"})
    if (in.Option(option) && std::find(allowed->second.begin(), allowed->second.end(), option) == allowed->second.end())
      in.Refuse(std::string("load ") + verb + " takes no " + option);
  if (verb == "list") return in.Count() == 1 ? List(ctx, in) : in.Usage();
  if (verb == "cancel") {
    if (in.Count() != 2) in.Refuse("load cancel needs one load ID, channel or zone");
    if (auto who = in.Option("--operator"); who && who->empty()) in.Refuse("--operator needs a NAME");
    if (!in.ok()) return in.Usage();
    return Cancel(ctx, in.Word(1), in.Option("--operator").value_or(LoginName()), in.Option("--reason").value_or(""));
  }
  if (in.Count() != 2) in.Refuse("load " + verb + " needs one load ID");
  const std::string id = in.Count() > 1 ? in.Word(1) : "";
  if (in.ok() && !IsLoadId(id)) in.Refuse("Not a load ID: \"" + id + "\"");
  if (verb == "sign") {
    if (!in.Option("--name")) in.Refuse("load sign needs --name NAME");
    const std::string meaning = in.Option("--meaning").value_or("");
    if (meaning != "reviewed" && meaning != "approved")
      in.Refuse("load sign needs --meaning reviewed or --meaning approved");
  }
  if (!in.ok()) return in.Usage();

  if (!std::filesystem::exists(LoadFile(ctx.folder, id))) return Failed(ctx, "No load " + id);
  if (verb == "verify") return Verify(ctx, id);
  if (verb == "report") return Report(ctx, id, in.Option("--pdf"), in.Option("--csv"));
  if (verb == "sign") {
    store::ConfigStore store(ctx.folder.ConfigDatabase());
    const auto now = SystemClock::now();
    if (Status signed_ = SignLoad(ctx.folder, store, id, *in.Option("--name"), *in.Option("--meaning"), now);
        !signed_.ok())
      return Failed(ctx, signed_.message());
    ctx.out << "Load " << id << " signed by " << *in.Option("--name") << " (" << *in.Option("--meaning") << ") at "
            << UtcTime(now) << "\n";
    return kExitOk;
  }
  // show
  auto record = ReadLoadRecord(LoadFile(ctx.folder, id));
  if (!record.ok()) return Failed(ctx, record.status().message());
  Show(ctx, *record, ResultOf(*record, SystemClock::now()));
  return kExitOk;
}

std::string LoginName() {
  const passwd* user = getpwuid(getuid());
  return user ? user->pw_name : "";
}

LoadArgs TakeLoadArgs(Args& args) {
  LoadArgs load;
  Args rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--operator" && args[i] != "--field") {
      rest.push_back(args[i]);
      continue;
    }
    if (i + 1 >= args.size() || args[i + 1].empty()) {
      load.fault = args[i] + " needs a value";
      break;
    }
    const std::string& value = args[++i];
    if (args[i - 1] == "--operator") {
      load.operatorName = value;
    } else if (auto field = ParseField(value)) {
      load.fields.push_back(*field);
    } else {
      load.fault = "--field takes NAME=VALUE, not \"" + value + "\"";
      break;
    }
  }
  args = std::move(rest);
  if (load.operatorName.empty()) {
    // The login: who runs the command is who acts.
    load.operatorName = LoginName();
  }
  return load;
}

bool RequestLoadStart(Context& ctx, store::ConfigStore& store, const std::vector<int>& channels, const LoadArgs& load) {
  const Status requested = watch::RequestLoadStart(ctx.folder, store, channels, load.operatorName, load.fields,
                                                   "tarvel-cli", SystemClock::now());
  if (!requested.ok()) ctx.err << requested.message() << "\n";
  return requested.ok();
}

std::optional<store::LoadActionRow> RecordLoadAction(Context& ctx, store::ConfigStore& store, int channel,
                                                     const std::string& kind, const LoadArgs& load,
                                                     const std::string& what, const std::string& newValue,
                                                     const std::optional<std::string>& given) {
  std::string oldValue = given.value_or("");
  if (!given)
    if (auto mapped = store.ChannelByNumber(channel); mapped.ok() && mapped->has_value())
      if (auto run = store.ControllerConfig((**mapped).modbusAddress); run.ok() && run->has_value())
        oldValue = "mode " + std::to_string((**run).runMode) + ", step " + std::to_string((**run).segmentExecuting) +
                   ", time " + std::to_string((**run).segmentElapsedTime);
  const auto row = watch::ActionRow(channel, kind, load.operatorName, what, oldValue, newValue, SystemClock::now());
  if (const Status added = store.AddLoadAction(row); !added.ok()) {
    ctx.err << "The load record will miss this action: " << added.message() << "\n";
    return std::nullopt;
  }
  return row;
}

}  // namespace tarvel::cli
