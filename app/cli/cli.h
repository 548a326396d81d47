#pragma once
// tarvel-cli: verbs for a technician or a script, each in its own file.

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "link/line.h"
#include "link/transfers.h"
#include "profile/profile_table.h"
#include "util/app_folder.h"
#include "util/result.h"

namespace tarvel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the verb ran and failed (duplicate, link failure, ...)
inline constexpr int kExitUsage = 2;   // bad arguments

struct Context {
  AppFolder folder;
  std::string port;        // serial device given with --port, empty when none
  bool blockReads = true;  // false with --no-block-reads: never more than two registers per read
  std::ostream& out;
  std::ostream& err;
  // Set when the line service runs the verb for a workflow request: the line of a port, in a
  // session of the service's own worker.
  std::function<std::unique_ptr<link::Line>(const std::string& port)> serviceLine = {};
};

using Args = std::vector<std::string>;

// Each returns an exit code; kExitUsage after printing its usage line to err.
int ChannelVerbs(Context& ctx, const Args& args);   // channels | channel add|remove
int LineVerbs(Context& ctx, const Args& args);      // --port DEVICE: state | step | download | scan
int ProfileVerbs(Context& ctx, const Args& args);   // profile check|build|export|fill
int ProfileFill(Context& ctx, const Args& args);    // profile fill (fill.cpp)
int PortVerbs(Context& ctx, const Args& args);      // ports | port use | scan --add | address
int ProgramVerbs(Context& ctx, const Args& args);   // compile | log | --port: upload | download | clear
int RecordVerb(Context& ctx, const Args& args);     // --port DEVICE record CHANNEL --every S --count N
int LogExportVerb(Context& ctx, const Args& args);  // log-export FILE

// "Step  PIDSet  Duration  Temperature" and one line per step, first numbered first.
void PrintStepTable(std::ostream& out, int first, const std::vector<link::ProgramStep>& steps);
int RunVerbs(Context& ctx, const Args& args);  // --port DEVICE: select | start | pause | restart | jump | mode | limits

class ArgReader;
// What profile build and profile fill are given: --sensor S --temp F|C --time S|M|H IN OUT.
struct ProfileFileArgs {
  profile::ProfileSettings settings;
  std::string in, out;
};
// Prints nothing: a fault is kept in the reader for its Usage().
std::optional<ProfileFileArgs> ReadProfileFileArgs(ArgReader& in);
// A worksheet CSV file's bytes, refused above the size a worksheet can have.
Result<std::string> ReadWorksheetCsv(const std::string& file);
// --port DEVICE watch [--every S] [--count N] [--mqtt URL ...]: the line watch without a display
int WatchVerb(Context& ctx, const Args& args);
// zones | zone set|remove | --port: zone upload|select|start|pause|restart
int ZoneVerbs(Context& ctx, const Args& args);
// load list|show|report|verify|sign: load records
int LoadVerbs(Context& ctx, const Args& args);
// alarm list | alarm ack CHANNEL [--operator NAME]: the line watch's open alarms
int AlarmVerbs(Context& ctx, const Args& args);

void PrintUsage(std::ostream& err);
// Runs the verb args[0] in a prepared home (verbs.cpp): tarvel-cli's and the line service's one
// way in. Nothing when there is no such verb.
std::optional<int> RunVerb(Context& ctx, const Args& args);

}  // namespace tarvel::cli
