// A zone started as one command: each member in turn gets the console's own start, and each
// member's outcome is reported.
#include <SQLiteCpp/SQLiteCpp.h>
#include <gmock/gmock.h>

#include "console/console.h"
#include "console/zone_run.h"
#include "support/recording_view.h"
#include "watch_fixture.h"

namespace tarvel::watch {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class ZoneStart : public WatchFixture {
 protected:
  ZoneStart() : WatchFixture({1, 2, 3}) {
    for (int unit = 1; unit <= 3; ++unit) {
      Map(unit, unit, "Zone " + std::to_string(unit));
      EXPECT_TRUE(store_.SetZone(unit, "Furnace"));
    }
    // Units 1 and 2 hold the cure, selected and not started; unit 3's limits match no logged profile.
    for (int unit : {1, 2}) {
      RunCure(unit);
      sim_.EditUnit(static_cast<std::uint8_t>(unit), [](sim::UnitState& u) {
        u.running = false;
        u.runMode = 0;
        u.currentStep = 1;
        u.stepElapsed = 0;
      });
    }
    sim_.EditUnit(3, [](sim::UnitState& u) {
      u.programLowStep = 5;
      u.programHighStep = 7;
    });
  }
};

TEST_F(ZoneStart, EachMemberInTurnGetsTheConsolesStartAndEachIsReported) {
  console::RecordingView view;  // every box answered OK: the operator entered the code on each unit
  console::Console console(folder_, store_, line_, view, {true, true});
  console.RunControls().SetFrontPanelStart([this](std::uint8_t address) { sim_.FrontPanelStart(address); });
  console.Selection().SetStartupComplete(true);
  const auto members = ZoneMembers(store_.Zones().value(), "Furnace");
  ASSERT_EQ(members, (std::vector<int>{1, 2, 3}));
  sim_.ClearRequests();
  std::vector<std::string> told;
  const auto reports = RunZone(console, "Furnace", members, {console::ZoneVerb::Start, "", "", "SV"},
                               [&](const console::MemberReport& r) { told.push_back(r.text); });

  EXPECT_THAT(told, ElementsAre("Zone Furnace, channel 1: started", "Zone Furnace, channel 2: started",
                                "Zone Furnace, channel 3: not started"));
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_TRUE(reports[0].done && reports[1].done && !reports[2].done);
  for (std::uint8_t unit : {1, 2}) {
    EXPECT_EQ(sim_.Unit(unit).runMode, 2) << int(unit);
    EXPECT_TRUE(sim_.Unit(unit).running) << int(unit);
  }
  EXPECT_FALSE(sim_.Unit(3).running);
  // In turn: every request to unit 1 before the first to unit 2, and unit 2's before unit 3's.
  std::vector<int> order;
  for (const auto& frame : sim_.Requests())
    if (order.empty() || order.back() != frame[0]) order.push_back(frame[0]);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  // The console ends by listing each member's outcome.
  EXPECT_THAT(view.messages, HasSubstr("Zone Furnace, channel 1: started\r\nZone Furnace, channel 2: started\r\n"
                                       "Zone Furnace, channel 3: not started\r\n"));
}

TEST_F(ZoneStart, ZonesAreKeptInTheirTableAndAChannelIsInOneAtMost) {
  ASSERT_TRUE(store_.SetZone(2, "Line B"));
  EXPECT_EQ(ZoneMembers(store_.Zones().value(), "Furnace"), (std::vector<int>{1, 3}));
  EXPECT_EQ(ZoneMembers(store_.Zones().value(), "Line B"), (std::vector<int>{2}));
  EXPECT_EQ(store_.SetZone(1, "").code(), Status::Code::Invalid);
  ASSERT_TRUE(store_.RemoveFromZone(3));
  EXPECT_EQ(store_.RemoveFromZone(3).code(), Status::Code::NotFound);
  ASSERT_TRUE(store_.DeleteZone("Furnace"));
  EXPECT_EQ(store_.Zones().value(), (std::vector<store::ZoneRow>{{"Line B", 2}}));
}

TEST(ZoneTable, ADatabaseMadeBeforeZonesGetsTheTableAtTheNextStart) {
  tarvel::testing::TempDir dir;
  AppFolder folder(dir.path());
  store::PrepareHome(folder);
  {
    SQLite::Database db(folder.ConfigDatabase().string(), SQLite::OPEN_READWRITE);
    db.exec(R"(DROP TABLE "Zones")");
  }
  store::ConfigStore store(folder.ConfigDatabase());
  ASSERT_TRUE(store.SetZone(4, "Kilns"));
  EXPECT_EQ(store.Zones().value(), (std::vector<store::ZoneRow>{{"Kilns", 4}}));
}

}  // namespace
}  // namespace tarvel::watch
