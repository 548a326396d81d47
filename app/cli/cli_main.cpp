// tarvel-cli: the store, profiles and the controller line without the console.
#include <iostream>
#include <sstream>

#include "cli/args.h"
#include "cli/cli.h"
#include "store/home.h"

namespace tarvel::cli {

void PrintUsage(std::ostream& err) {
  err << "usage: tarvel-cli [--home DIR] [--no-block-reads] VERB ...\n"
         "  home                                   prepare the application folder and show it\n"
         "  channels [--database FILE]             list the channel map (of another database: read only)\n"
         "  channel add CHANNEL ADDRESS NICKNAME [TYPE] [--port DEVICE]   on that line (else the stored port)\n"
         "  channel remove CHANNEL\n"
         "  ports                                  the serial ports and what answers on each\n"
         "  port use N|DEVICE                      make a port the console's port\n"
         "  profile check FILE                     load, show and verify a profile file\n"
         "  profile build --sensor S --temp F|C --time S|M|H IN.csv OUT.txt\n"
         "  profile export FILE                    the rows of a profile as CSV\n"
         "  profile fill --sensor S --temp F|C --time S|M|H IN.csv OUT.csv\n"
         "                                         compute Start Time, Start Temp, Ramp Rate as the editor does\n"
         "  compile PROFILE START                  the program steps of a profile placed at START\n"
         "  log CHANNEL                            the profile log of a channel's controller\n"
         "tarvel-cli --port DEVICE VERB ...        talk to the controllers on a serial line\n"
         "  state ADDRESS                          step, step time, set points, process value, relays, run mode, "
         "limits\n"
         "  step ADDRESS STEP [PID TIME TEMP]      read one program step, or write it and read it back\n"
         "  scan                                   probe addresses 1..64\n"
         "  scan --add                             ... and map the units found (with --home)\n"
         "  address OLD NEW                        give a controller a new address; the database follows\n"
         "tarvel-cli [--home DIR] --port DEVICE VERB CHANNEL ...   program a mapped controller\n"
         "  upload CHANNEL PROFILE START [--progression SV|PV] [--yes]\n"
         "                                         compile, write, read back and compare, log\n"
         "  download CHANNEL FIRST LAST            read steps into the memory map and show them\n"
         "  clear CHANNEL FIRST LAST               zero steps in the controller and read them back\n"
         "  record CHANNEL --every SECONDS --count N  record N readings of a channel to its log folder\n"
         "tarvel-cli [--home DIR] --port DEVICE VERB CHANNEL ...   run control, as the console's buttons do\n"
         "  select CHANNEL PROFILE [--yes]         upload the profile's program limits (--yes: despite a mismatch)\n"
         "  start CHANNEL [--front-panel]          arm the selected profile (--front-panel: the operator's code 5172)\n"
         "    [--operator NAME] [--field NAME=VALUE]...  who starts the load and the shop's fields (required ones "
         "checked first)\n"
         "  pause CHANNEL                          hold the set point the program has reached\n"
         "  restart CHANNEL                        resume where the last reading stood\n"
         "  jump CHANNEL SEGMENT TIME              continue the program at TIME into SEGMENT\n"
         "  mode CHANNEL CODE                      run mode 0 SV, 1 S-SV, 2 M-SV, 3 S-PV, 4 M-PV\n"
         "  limits CHANNEL LOW HIGH                upload program limits\n"
         "  setpoint CHANNEL VALUE                 write the single set point (the value a paused program holds)\n"
         "    pause, restart, jump, mode and setpoint take --operator NAME: the load record has who, old and new "
         "value\n"
         "tarvel-cli [--home DIR] --port DEVICE watch [--every S] [--count N] [--alarm-after N] [--reopen-for S]\n"
         "          [--mqtt URL ...]\n"
         "  watch                                  read every mapped controller each S seconds (15), record every "
         "run,\n"
         "                                         alarms to LogFiles/alarms.csv, readings to MQTT; until Ctrl-C or N "
         "sweeps;\n"
         "                                         a lost port is reopened, exit 1 when it stays away S seconds (600)\n"
         "When tarvel-line serves the home and the port of --port, the verbs that talk to controllers go\n"
         "through it; scan, scan --add and address need the port to themselves; watch is such a service.\n"
         "With --no-block-reads, reads of controllers take at most two registers each, even where a\n"
         "controller has answered more.\n"
         "tarvel-cli [--home DIR] [--port DEVICE] zone ...   channels grouped as one furnace\n"
         "  zones                                  list the zones and their channels\n"
         "  zone set NAME CHANNEL...               put channels in a zone\n"
         "  zone remove CHANNEL...                 take channels out of their zone\n"
         "  zone upload NAME PROFILE START [--progression SV|PV] [--yes]   upload to each member in turn\n"
         "  zone select NAME PROFILE [--yes]       select the profile on each member\n"
         "  zone start NAME [--front-panel]        start each member, as start does (--operator, --field too)\n"
         "  zone pause NAME                        pause each member\n"
         "  zone restart NAME                      restart each member\n"
         "tarvel-cli [--home DIR] load ...         load records: one per load, checked, chained and signed\n"
         "  load list [--from DATE] [--to DATE] [--channel N] [--result PASS|FAIL|CANCELLED] [--order TEXT]\n"
         "                                         one load a line, its id first\n"
         "  load show ID                           header, checks, events and signatures of a load\n"
         "  load report ID [--pdf FILE] [--csv FILE]  the PDF report (LogFiles/Loads/ID.pdf) and the samples as CSV\n"
         "  load verify ID                         whether the record is whole and untouched, and where not\n"
         "  load sign ID --name NAME --meaning reviewed|approved   sign a closed load\n"
         "  load cancel ID|CHANNEL|ZONE [--operator NAME] [--reason TEXT]   end a load under way as CANCELLED;\n"
         "                                         the process that records ends it at its next reading\n"
         "tarvel-cli [--home DIR] alarm ...        the alarms of the process that watches the line\n"
         "  alarm list                             open alarms: channel, kind, raised, text, who acknowledged and "
         "when\n"
         "  alarm ack CHANNEL [--operator NAME]    acknowledge the channel's open alarm (until it clears)\n"
         "tarvel-cli VERB FILE                     files, without the application folder\n"
         "  log-export FILE                        a temperature log file as CSV\n";
}

namespace {

int ShowHome(Context& ctx, const store::HomeReport& report) {
  ctx.out << "Application folder: " << ctx.folder.Root().string() << "\n";
  if (report.created.empty()) ctx.out << "Nothing new was created.\n";
  for (const auto& path : report.created) ctx.out << "created " << path << "\n";
  return report.problems.empty() ? kExitOk : kExitFailed;
}

std::string UsageText() {
  std::ostringstream text;
  PrintUsage(text);
  return text.str();
}

int Run(int argc, char** argv) {
  Args all(argv + 1, argv + argc);
  if (all.size() == 1 && (all[0] == "--version" || all[0] == "--help")) {
    if (all[0] == "--version")
      std::cout << "tarvel-cli " TARVEL_VERSION "\n";
    else
      PrintUsage(std::cout);
    return kExitOk;
  }
  // An empty --home or --port is refused here: an empty folder would be the current one.
  ArgReader global(std::cerr, UsageText(), all, 0, {"--no-block-reads"}, {"--home", "--port"},
                   ArgReader::Options::Leading);
  if (!global.ok() || global.Count() == 0) return global.Usage();
  const Args& args = global.Words();
  const std::filesystem::path home = global.Option("--home").value_or(AppFolder::DefaultRoot().string());

  Context ctx{AppFolder(home), global.Option("--port").value_or(""), !global.Flag("--no-block-reads"), std::cout,
              std::cerr};
  const std::string& verb = args.front();
  // The line verbs leave the application folder alone.
  const bool scanAdd = verb == "scan" && args.size() == 2 && args[1] == "--add";
  if (verb == "state" || verb == "step" || (verb == "scan" && !scanAdd)) return LineVerbs(ctx, args);
  if (verb == "log-export") return LogExportVerb(ctx, args);

  store::HomeReport report = store::PrepareHome(ctx.folder);
  // A damaged file is reported and left alone. A folder or database that cannot be used stops
  // every verb here, with its path and reason, before any of them reads or writes anything.
  for (const auto& problem : report.problems) std::cerr << problem << "\n";
  if (!report.fatal.ok()) return kExitFailed;

  if (verb == "home") return ShowHome(ctx, report);
  if (auto code = RunVerb(ctx, args)) return *code;
  PrintUsage(std::cerr);
  return kExitUsage;
}

}  // namespace
}  // namespace tarvel::cli

int main(int argc, char** argv) { return tarvel::cli::Run(argc, argv); }
