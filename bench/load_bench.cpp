// Load records: a 72-hour load of a zone of 8 controllers read every 15 s (138 240 readings),
// recorded by the tracker; then its report as `tarvel-cli load report` makes it -- verify, read,
// checks, PDF -- against the goal of 2 s for the PDF. Prints the time the tracker takes per
// reading beside the time a reading takes on the line.
// usage: load_bench [--home DIR] [--hours H] [--controllers N]   (DIR is kept, for a look at it)
#include <QGuiApplication>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "report/load_report.h"
#include "store/home.h"
#include "watch/load_book.h"
#include "watch/load_tracker.h"

using namespace tarvel;
using namespace tarvel::watch;
using Steady = std::chrono::steady_clock;

namespace {

double Seconds(Steady::duration d) { return std::chrono::duration<double>(d).count(); }

// 70 -> 1600 F over 12 h, hold 24 h, down to 400 over 12 h, hold 24 h: 72 hours, limits 15, 10,
// 20, 10 and 10 at the end (the band narrows to the next row's limit); in hours, so the
// controller counts minutes.
profile::ProfileTable Design(double hours) {
  const double k = hours / 72;
  auto n = [](double v) { return std::to_string(v); };
  const char* rows[][8] = {{"0", "", "r", "70", "1600", "", "15"},
                           {"", "", "h", "1600", "1600", "0", "10"},
                           {"", "", "r", "1600", "400", "", "20"},
                           {"", "", "h", "400", "400", "0", "10"},
                           {"", "", "e", "400", "", "", "10"}};
  const double durations[] = {12 * k, 24 * k, 12 * k, 24 * k};
  profile::ProfileTable table;
  double start = 0;
  for (int r = 0; r < 5; ++r) {
    table.at(r + 1, profile::kSeg) = std::to_string(r + 1);
    for (int c = 0; c < 7; ++c) table.at(r + 1, profile::kStartTime + c) = rows[r][c];
    table.at(r + 1, profile::kStartTime) = n(start);
    if (r < 4) {
      table.at(r + 1, profile::kDuration) = n(durations[r]);
      start += durations[r];
    }
  }
  return table;
}

struct Options {
  std::filesystem::path home;  // empty: a temporary one, removed at the end
  double hours = 72;
  int controllers = 8;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--home") options.home = argv[i + 1];
    if (option == "--hours") options.hours = std::atof(argv[i + 1]);
    if (option == "--controllers") options.controllers = std::atoi(argv[i + 1]);
  }
  return options;
}

// The load of a zone of `controllers` on one port, running the design from anneal.txt.
LoadPlan Plan(const AppFolder& folder, double hours, int controllers) {
  LoadPlan plan;
  plan.operatorName = "Ann Smith";
  plan.fields = {{"Customer", "Northern Forge"},
                 {"Order", "4711-B"},
                 {"Part numbers", "BR-220, BR-221"},
                 {"Quantity", "48"},
                 {"Material", "AISI 4140"},
                 {"Standard", "AMS 2750 class 2"},
                 {"Revision", "H"}};
  plan.furnace = "Furnace 1";
  for (int ch = 1; ch <= controllers; ++ch)
    plan.controllers.push_back({ch, "Zone " + std::to_string(ch), ch, "/dev/ttyUSB0"});
  plan.profileName = "anneal.txt";
  plan.profileFile = folder.Profiles() / "anneal.txt";
  const int minutes[] = {static_cast<int>(12 * 60 * hours / 72), static_cast<int>(24 * 60 * hours / 72)};
  plan.lowStep = 1;
  plan.highStep = 5;
  plan.program = {{1, 1, minutes[0], 70},
                  {2, 1, minutes[1], 1600},
                  {3, 1, minutes[0], 1600},
                  {4, 1, minutes[1], 400},
                  {5, 1, 0, 400}};
  return plan;
}

// The design's temperature at hour t of the load.
double DesignAt(double t, double hours) {
  return t < 12 * hours / 72   ? 70 + (1600 - 70) * t / (12 * hours / 72)
         : t < 36 * hours / 72 ? 1600
         : t < 48 * hours / 72 ? 1600 - 1200 * (t - 36 * hours / 72) / (12 * hours / 72)
                               : 400;
}

struct Recording {
  long long readings = 0;
  Steady::duration taking{};  // inside the tracker only
};

// The program's minute after each sweep of 15 s; the process value near the design, a little
// behind it on the ramps, with a lost reading now and then. `now` ends after the last sweep.
Recording RecordLoad(LoadTracker& tracker, const LoadPlan& plan, int controllers, double hours,
                     SystemClock::time_point& now) {
  const int sweeps = static_cast<int>(hours * 240) + 1;
  Recording recording;
  for (int sweep = 0; sweep < sweeps; ++sweep, now += std::chrono::seconds(15)) {
    const double minute = sweep / 4.0;
    int step = 1, left = static_cast<int>(minute);
    while (step < 5 && left >= plan.program[static_cast<std::size_t>(step - 1)].duration)
      left -= plan.program[static_cast<std::size_t>(step++ - 1)].duration;
    for (int ch = 1; ch <= controllers; ++ch) {
      LoadReading r;
      r.channel = ch;
      r.at = now;
      r.ok = (sweep * 7 + ch * 13) % 4999 != 0;
      r.runMode = 2;
      r.step = step;
      r.stepTime = step == 5 ? 0 : left;
      r.lowStep = 1;
      r.highStep = 5;
      const double design = DesignAt(minute / 60, hours);
      r.setPoint = static_cast<int>(design);
      r.processValue = static_cast<int>(design + 4 * std::sin(sweep / 17.0 + ch) - (ch % 3));
      const auto before = Steady::now();
      tracker.Take(r);
      recording.taking += Steady::now() - before;
      ++recording.readings;
    }
  }
  return recording;
}

// The report as `tarvel-cli load report` makes it, each stage timed: true when the record is
// whole and its PDF and CSV are written.
bool Report(const AppFolder& folder, store::ConfigStore& store, const std::string& id, SystemClock::time_point now) {
  int qargc = 3;
  char name[] = "load_bench", option[] = "-platform", platform[] = "offscreen";
  char* qargv[] = {name, option, platform, nullptr};
  QGuiApplication app(qargc, qargv);
  const auto t0 = Steady::now();
  const RecordVerdict verdict = VerifyLoad(folder, store, id);
  const auto t1 = Steady::now();
  auto record = ReadLoadRecord(LoadFile(folder, id));
  const auto t2 = Steady::now();
  const LoadResult result = ResultOf(*record, now);
  const auto t3 = Steady::now();
  const auto pdf = LoadsFolder(folder) / (id + ".pdf");
  const Status written = report::WriteLoadPdf(*record, result, pdf);
  const auto t4 = Steady::now();
  const Status csv = report::WriteLoadCsv(*record, LoadsFolder(folder) / (id + ".csv"));
  const auto t5 = Steady::now();
  std::printf("verify               %8.3f s   %s\n", Seconds(t1 - t0), verdict.Whole() ? "whole" : "BROKEN");
  std::printf("read                 %8.3f s   %zu samples\n", Seconds(t2 - t1), record->samples.size());
  std::printf("checks               %8.3f s   %zu checks, result %s\n", Seconds(t3 - t2), result.checks.size(),
              result.pass ? "PASS" : "FAIL");
  std::printf("PDF                  %8.3f s   %s (%.0f kB)\n", Seconds(t4 - t3),
              written.ok() ? "written" : written.message().c_str(),
              written.ok() ? static_cast<double>(std::filesystem::file_size(pdf)) / 1e3 : 0.0);
  std::printf("CSV                  %8.3f s\n", Seconds(t5 - t4));
  const double report = Seconds(t4 - t0);
  std::printf("load report (verify, read, checks, PDF)  %.3f s   goal 2.000 s   %s\n", report,
              report <= 2 ? "met" : "MISSED");
  return written.ok() && csv.ok() && verdict.Whole();
}

}  // namespace

int main(int argc, char** argv) {
  auto [home, hours, controllers] = ParseOptions(argc, argv);
  const bool keep = !home.empty();
  if (!keep) home = std::filesystem::temp_directory_path() / ("tarvel-load-bench-" + std::to_string(::getpid()));
  const AppFolder folder(home);
  if (!store::PrepareHome(folder).fatal.ok()) return 1;
  store::ConfigStore store(folder.ConfigDatabase());
  const auto table = Design(hours);
  profile::ProfileSettings settings;
  settings.timeScale = profile::TimeScale::Hours;
  if (!profile::SaveProfileText(folder.Profiles() / "anneal.txt", profile::BuildProfileText(table, settings)).ok())
    return 1;
  const LoadPlan plan = Plan(folder, hours, controllers);

  auto now = *ParseUtcTime("2026-12-07T06:00:00Z");
  LoadTracker tracker(folder, store, [&] { return now; });
  auto id = tracker.Start(plan);
  if (!id.ok()) {
    std::fprintf(stderr, "%s\n", id.status().message().c_str());
    return 1;
  }
  const Recording recorded = RecordLoad(tracker, plan, controllers, hours, now);
  const bool closed = tracker.OpenLoads().empty();
  std::printf("recorded %lld readings of %d controllers over %.0f h into %s (%s, %.1f MB)\n", recorded.readings,
              controllers, hours, id->c_str(), closed ? "closed" : "NOT closed",
              static_cast<double>(std::filesystem::file_size(LoadFile(folder, *id))) / 1e6);
  std::printf("tracker per reading  %8.1f us   (a reading on the line: 9 exchanges, at least 225 ms)\n",
              Seconds(recorded.taking) / static_cast<double>(recorded.readings) * 1e6);

  const bool reported = Report(folder, store, *id, now);
  if (!keep) std::filesystem::remove_all(home);
  return reported && closed ? 0 : 1;
}
