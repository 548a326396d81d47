#pragma once
// A home with a profile of 70 -> 250 over 30 minutes and a hold at 250 for 45, limits 10 (steps
// (1, 30, 70), (2, 45, 250), (1, 0, 250)) and a load tracker on it, fed with readings of
// controllers running that program in minutes (run mode 2), one sweep every 15 seconds. The
// record's file can be made to fail its writes, as a full disk does.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <set>

#include "store/config_store.h"
#include "store/home.h"
#include "support/profiles.h"
#include "support/temp_dir.h"
#include "watch/load_tracker.h"

namespace tarvel::watch {

class LoadRun : public ::testing::Test {
 protected:
  static constexpr auto kPeriod = std::chrono::seconds(15);

  LoadRun() {
    using testing::ProfileRow;
    const auto table = testing::TableOf({ProfileRow{"1", "0.00", "30", "r", "70", "250", "6.00", "10", "", ""},
                                         ProfileRow{"2", "30.00", "45", "h", "250", "250", "0.00", "10", "C=2", ""},
                                         ProfileRow{"3", "75.00", "", "e", "250", "", "", "", "", ""}});
    EXPECT_TRUE(profile::SaveProfileText(folder_.Profiles() / "cure.txt", profile::BuildProfileText(table, {})).ok());
    now_ = *ParseUtcTime("2026-12-07T10:00:00Z");
  }

  LoadPlan Plan(const std::vector<int>& channels) {
    LoadPlan plan;
    plan.operatorName = "Ann Smith";
    plan.fields = {{"Order", "4711"}, {"Customer", "=HYPERLINK(\"x\")"}, {"Notes", "rack 3, top shelf"}};
    plan.furnace = channels.size() > 1 ? "Kiln" : "";
    for (int ch : channels) plan.controllers.push_back({ch, "Zone " + std::to_string(ch), ch, "/dev/ttyUSB0"});
    plan.profileName = "cure.txt";
    plan.profileFile = folder_.Profiles() / "cure.txt";
    plan.lowStep = 1;
    plan.highStep = 3;
    plan.program = {{1, 1, 30, 70}, {2, 2, 45, 250}, {3, 1, 0, 250}};
    return plan;
  }

  std::unique_ptr<LoadTracker> Tracker(store::ConfigStore* store = nullptr) {
    auto tracker = std::make_unique<LoadTracker>(
        folder_, store ? *store : store_, [this] { return now_; },
        [this](const std::filesystem::path& file, bool create) -> Result<std::unique_ptr<RecordFile>> {
          auto real = OpenRecordFile(file, create);
          if (!real.ok()) return real.status();
          return std::unique_ptr<RecordFile>(std::make_unique<DiskFull>(std::move(real).value(), diskFull_, syncs_));
        });
    tracker->OnMessage([this](const std::string& text) { messages_.push_back(text); });
    return tracker;
  }

  static int Design(double minute) { return minute < 30 ? static_cast<int>(std::lround(70 + 6 * minute)) : 250; }

  // One sweep at the program's minute: a reading of each channel, then 15 seconds pass.
  // offset: the process value's distance from the design; failing: channels that do not answer.
  void Sweep(LoadTracker& tracker, const std::vector<int>& channels, double minute, int mode = 2,
             std::map<int, int> offset = {}, std::set<int> failing = {}) {
    for (int ch : channels) {
      LoadReading r;
      r.channel = ch;
      r.at = now_;
      r.ok = !failing.contains(ch);
      r.runMode = mode;
      r.step = minute < 30 ? 1 : minute < 75 ? 2 : 3;
      r.stepTime = r.step == 1 ? static_cast<int>(minute) : r.step == 2 ? static_cast<int>(minute - 30) : 0;
      r.setPoint = Design(minute);
      r.processValue = Design(minute) + offset[ch];
      r.lowStep = 1;
      r.highStep = 3;
      if (r.ok) ++readings_;
      tracker.Take(r);
    }
    now_ += kPeriod;
  }

  // The file under a record, failing every write while full is set: half of what it is given
  // gets there, the rest does not.
  class DiskFull final : public RecordFile {
   public:
    DiskFull(std::unique_ptr<RecordFile> real, const bool& full, int& syncs)
        : real_(std::move(real)), full_(full), syncs_(syncs) {}
    Status Append(std::string_view bytes) override {
      if (!full_) return real_->Append(bytes);
      (void)real_->Append(bytes.substr(0, bytes.size() / 2));
      return Status::Error(Status::Code::Full, "Cannot write the record: the disk is full");
    }
    Status Sync() override { return ++syncs_, real_->Sync(); }
    Status Truncate(std::uint64_t size) override { return real_->Truncate(size); }

   private:
    std::unique_ptr<RecordFile> real_;
    const bool& full_;
    int& syncs_;
  };

  std::vector<std::filesystem::path> Records() const {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(LoadsFolder(folder_), ec))
      files.push_back(entry.path());
    return files;
  }

  testing::TempDir dir_;
  AppFolder folder_{dir_.path()};
  store::HomeReport home_ = store::PrepareHome(folder_);
  store::ConfigStore store_{folder_.ConfigDatabase()};
  SystemClock::time_point now_;
  bool diskFull_ = false;
  int syncs_ = 0;     // of every record's file
  int readings_ = 0;  // good readings given
  std::vector<std::string> messages_;
};

}  // namespace tarvel::watch
