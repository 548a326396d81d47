// tarvel-cli: run recording without the console window (the console's own monitor and
// recorder), and log files as CSV for a spreadsheet.
#include <chrono>
#include <optional>
#include <thread>

#include "cli/cli.h"
#include "cli/console_host.h"
#include "profile/chart_data.h"
#include "profile/log_file.h"
#include "util/text.h"

namespace tarvel::cli {
namespace {

constexpr const char* kRecordUsage = "usage: tarvel-cli [--home DIR] --port DEVICE record CHANNEL --every SECONDS --count N\n";
constexpr const char* kExportUsage = "usage: tarvel-cli log-export FILE\n";

}  // namespace

int LogExportVerb(Context& ctx, const Args& args) {
  if (args.size() != 2) {
    ctx.err << kExportUsage;
    return kExitUsage;
  }
  auto points = profile::ReadLogFile(args[1]);
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
  std::optional<double> every;
  std::optional<long long> count;
  std::string channel;
  bool unknown = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--every" && i + 1 < args.size())
      every = ParseNumber(args[++i]);
    else if (args[i] == "--count" && i + 1 < args.size())
      count = ToWholeNumber(args[++i], 1, 1'000'000'000);
    else if (channel.empty() && !args[i].starts_with("--"))
      channel = args[i];
    else
      unknown = true;
  }
  if (unknown || channel.empty() || !every || *every < 0 || !count || ctx.port.empty()) {
    ctx.err << kRecordUsage;
    return kExitUsage;
  }

  ConsoleHost host(ctx, false);
  if (!host.Open(channel)) return kExitFailed;
  console::Console& console = host.Console();
  // The same path as the console's button: monitoring on reads at once, then at each tick.
  const auto start = std::chrono::steady_clock::now();
  const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(*every));
  console.SetMonitoring(true);
  for (long long reading = 1; reading < *count; ++reading) {
    std::this_thread::sleep_until(start + reading * interval);
    console.ReadRunState();
  }
  const console::RunRecording* recording = console.Recorder().Recording();
  const std::size_t recorded = recording ? recording->Records() : 0;
  const std::string file = recording ? recording->File().string() : std::string();
  console.SetMonitoring(false);
  ctx.out << "Recorded " << recorded << " of " << *count << " readings"
          << (file.empty() ? std::string() : " to " + file) << "\n";
  return recorded == static_cast<std::size_t>(*count) ? kExitOk : kExitFailed;
}

}  // namespace tarvel::cli
