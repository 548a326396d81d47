#pragma once
// What the console benches share: a view that shows nothing, an application folder with one
// mapped controller, and a profile file of a chosen number of steps.

#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "console/console.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "store/home.h"

namespace tarvel::bench {

// Discards what a window would show; boxes are answered OK.
struct NullView : console::TextView {
  void ShowMessages(const std::string&) override {}
  void ShowWarning(const std::string&, const std::string&) override {}
  bool Confirm(const std::string&, const std::string&) override { return true; }
};

// A fresh application folder under the temporary folder with controller 1 on channel 1. The
// process id is in its name: two benches of one name running at once never share a database.
inline AppFolder BenchHome(const std::string& name) {
  const auto home = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(home);
  AppFolder folder(home);
  store::PrepareHome(folder);
  store::ConfigStore store(folder.ConfigDatabase());
  (void)store.AddChannel({1, 1, "Bench", "set64rs"});
  (void)store.ResetControllerMemory(1);
  return folder;
}

// A profile of segments - 1 timed rows and the end row (it compiles to `segments` steps, at
// least 3), with temperatures drawn from random so that each file differs, and every cell the
// checks want: each row starts where the one before ended.
inline std::filesystem::path WriteProfile(const AppFolder& folder, const std::string& name, int segments,
                                          std::mt19937& random) {
  std::uniform_int_distribution<int> temp(50, 900), time(1, 500);
  profile::ProfileTable table;
  int start = 0, startTemp = temp(random);
  for (int row = 1; row <= segments; ++row) {
    table.at(row, profile::kSeg) = std::to_string(row);
    table.at(row, profile::kStartTime) = std::to_string(start);
    table.at(row, profile::kStartTemp) = std::to_string(startTemp);
    table.at(row, profile::kAction) = "e";
    if (row == segments) break;
    const int duration = time(random), endTemp = temp(random);
    table.at(row, profile::kDuration) = std::to_string(duration);
    table.at(row, profile::kEndTemp) = std::to_string(endTemp);
    table.at(row, profile::kRampRate) = std::to_string((endTemp - startTemp) / double(duration));
    table.at(row, profile::kAction) = endTemp == startTemp ? "h" : "r";
    start += duration;
    startTemp = endTemp;
  }
  const auto file = folder.Profiles() / name;
  (void)profile::SaveProfileText(file, profile::BuildProfileText(table, {}));
  return file;
}

}  // namespace tarvel::bench
