// Times the editor chart's work on large inputs: loading and thinning a 100 000-record log
// file, and redrawing the chart of a 255-row profile (the data, then the widget painted
// offscreen). Not a test: the figures go into the notes.
//
//   chart_bench [ROUNDS]      default 5; prints the best and the median of each
#include <QApplication>
#include <QPixmap>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "profile/chart_data.h"
#include "ui/edit_chart.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace tarvel;

struct NullSink : profile::MessageSink {
  void Clear() override {}
  void Display(std::string_view) override {}
};

// 254 segments alternating ramps and holds of 10 minutes, then the end row.
profile::ProfileTable LongProfile() {
  profile::ProfileTable table;
  double start = 0;
  int temp = 70;
  for (int r = 1; r <= 254; ++r) {
    const int end = r % 2 ? temp + 5 : temp;
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", start);
    table.at(r, profile::kSeg) = std::to_string(r);
    table.at(r, profile::kStartTime) = text;
    table.at(r, profile::kDuration) = "10";
    table.at(r, profile::kAction) = r % 2 ? "r" : "h";
    table.at(r, profile::kStartTemp) = std::to_string(temp);
    table.at(r, profile::kEndTemp) = std::to_string(end);
    table.at(r, profile::kErrorLimits) = std::to_string(5 + r % 7);
    start += 10;
    temp = end;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", start);
  table.at(255, profile::kSeg) = "255";
  table.at(255, profile::kStartTime) = text;
  table.at(255, profile::kAction) = "e";
  table.at(255, profile::kStartTemp) = std::to_string(temp);
  return table;
}

void Report(const char* what, const std::function<void()>& work, int rounds) {
  std::vector<double> ms;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    work();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%-52s best %7.2f ms   median %7.2f ms\n", what, ms.front(), ms[ms.size() / 2]);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
  QApplication application(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tarvel-chart-bench";
  std::filesystem::create_directories(dir);
  const std::filesystem::path log = dir / "long.log";
  {
    std::ofstream out(log, std::ios::binary);
    char record[32];
    for (int p = 1; p <= 100000; ++p) {
      std::snprintf(record, sizeof record, "%9.2f%5d%5d\r\n", p * 0.025, 70 + p % 2000, 60 + p % 1900);
      out << record;
    }
  }
  const profile::ProfileTable table = LongProfile();
  NullSink sink;

  Report(
      "load and thin a 100 000-record log (ChartModel)",
      [&] {
        profile::ChartModel model;
        model.LoadLogFile(log, sink);
      },
      rounds);
  profile::ChartModel model;
  Report(
      "255-row profile, low resolution (PlotLoResProfile)", [&] { model.PlotDesignProfile(table, sink); }, rounds);
  model.LoadLogFile(log, sink);
  Report(
      "255-row profile, 1000 samples (PlotHiResProfile)", [&] { model.PlotDesignProfile(table, sink); }, rounds);

  ui::EditChart chart{AppFolder(dir)};
  chart.resize(1000, 650);
  chart.LoadLogFile(QString::fromStdString(log.string()));
  Report(
      "EditChart: SetProfile and paint, with the log",
      [&] {
        chart.SetProfile(table, {});
        QPixmap picture = chart.grab();
      },
      rounds);
  std::filesystem::remove_all(dir);
  return 0;
}
