// tarvel-cli: run recording without the console window (the console's own monitor and
// recorder), and log files as CSV for a spreadsheet.
#include <chrono>
#include <optional>
#include <thread>

#include "cli/args.h"
#include "cli/cli.h"
#include "cli/console_host.h"
#include "profile/chart_data.h"
#include "profile/log_file.h"

namespace tarvel::cli {
namespace {

constexpr const char* kRecordUsage =
    "usage: tarvel-cli [--home DIR] --port DEVICE record CHANNEL --every SECONDS --count N\n";
constexpr const char* kExportUsage = "usage: tarvel-cli log-export FILE\n";

}  // namespace

int LogExportVerb(Context& ctx, const Args& args) {
  ArgReader in(ctx.err, kExportUsage, args, 1, {}, {});
  if (!in.ok() || in.Count() != 1) return in.Usage();
  auto points = profile::ReadLogFile(in.Word(0));
  if (!points) {
    ctx.err << points.status().message() << "\n";
    return kExitFailed;
  }
  ctx.out << "Time,Set Point,Process Value\n";
  for (const profile::LogPoint& p : points.value())
    ctx.out << profile::ChartNumber(p.time) << "," << profile::ChartNumber(p.recordedProfile) << ","
            << profile::ChartNumber(p.recordedTemperature) << "\n";
  return kExitOk;
}

int RecordVerb(Context& ctx, const Args& args) {
  ArgReader in(ctx.err, kRecordUsage, args, 1, {}, {"--every", "--count"});
  if (!in.ok() || in.Count() != 1 || !in.Option("--every") || !in.Option("--count") || ctx.port.empty())
    return in.Usage();
  in.Whole(0, kChannelArg);
  const std::optional<int> every = in.Whole(*in.Option("--every"), kEveryArg);
  const std::optional<int> count = in.Whole(*in.Option("--count"), kCountArg);
  if (!in.ok()) return in.Usage();

  ConsoleHost host(ctx, false);
  if (!host.Open(in.Word(0))) return kExitFailed;
  console::Console& console = host.Console();
  // The same path as the console's button: monitoring on reads at once, then at each tick.
  const auto start = std::chrono::steady_clock::now();
  const auto interval = std::chrono::seconds(*every);
  console.SetMonitoring(true);
  for (int reading = 1; reading < *count; ++reading) {
    std::this_thread::sleep_until(start + reading * interval);
    console.RunMonitor().ReadRunState();
  }
  const controller::RunRecording* recording = console.Recorder().Recording();
  const std::size_t recorded = recording ? recording->Records() : 0;
  const std::string file = recording ? recording->File().string() : std::string();
  console.SetMonitoring(false);
  ctx.out << "Recorded " << recorded << " of " << *count << " readings"
          << (file.empty() ? std::string() : " to " + file) << "\n";
  // A reading that could not be stored as the restart state is a failure even when recorded.
  const int unstored = console.RunMonitor().StoreFailures();
  if (unstored > 0) ctx.err << unstored << " readings could not be stored in " << host.Store().File().string() << "\n";
  return recorded == static_cast<std::size_t>(*count) && unstored == 0 ? kExitOk : kExitFailed;
}

}  // namespace tarvel::cli
