#pragma once
// A line watch on a real line (support/line_home.h) with the cure profile in its home.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "support/line_home.h"
#include "support/profiles.h"
#include "watch/line_watch.h"

namespace tarvel::watch {

inline constexpr const char* kCure = "Cure.txt";

class WatchFixture : public testing::LineHome {
 protected:
  explicit WatchFixture(std::vector<std::uint8_t> units)
      : LineHome(testing::QuickLine(std::move(units)),
                 {std::chrono::milliseconds(250), std::chrono::milliseconds(250), std::chrono::milliseconds(500)}) {
    EXPECT_TRUE(testing::WriteCureProfile(folder_.Profiles() / kCure));
  }

  // The cure profile uploaded at step 1, selected and started (band +-10 throughout).
  void RunCure(int address) { testing::RunCure(store_, sim_, address, kCure); }

  void SetPv(int address, double value) {
    sim_.EditUnit(static_cast<std::uint8_t>(address), [value](sim::UnitState& u) { u.processTemperature = value; });
  }

  LineWatch& Watch() {
    if (!watch_) {
      watch_ = std::make_unique<LineWatch>(folder_, store_, line_);
      watch_->Apply({std::chrono::milliseconds(0), kDefaultConsecutive});
    }
    return *watch_;
  }

  std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
  }

  std::unique_ptr<LineWatch> watch_;
};

}  // namespace tarvel::watch
