// tarvel-cli run control verbs against a simulated line served from this test process.
#include <gmock/gmock.h>

#include "sim/simulated_line.h"
#include "store/config_store.h"
#include "store/home.h"
#include "support/run_process.h"
#include "support/sim_line.h"

namespace tarvel {
namespace {

using ::testing::HasSubstr;

class CliRun : public ::testing::Test {
 protected:
  CliRun() {
    EXPECT_TRUE(sim_.Start().ok());
    store::PrepareHome(folder_);
    testing::WriteAll(folder_.Setup() / "LoadFields.txt", "Order *\nCustomer\n");  // the shop requires an order
    store::ConfigStore store(folder_.ConfigDatabase());
    EXPECT_TRUE(store.AddChannel({3, 1, "Kiln", "set64rs"}));
    EXPECT_TRUE(store.ResetControllerMemory(1));
    EXPECT_TRUE(store.WriteMemorySteps(1, {{1, 1, 10, 50, 1, 0}, {1, 2, 60, 100, 1, 0}, {1, 3, 0, 220, 1, 0}}));
    EXPECT_TRUE(store.WriteLogEntry({1, "kiln.txt", 1, 3, "K", "F", "M", "SV"}));
    sim_.EditUnit(1, [](sim::UnitState& u) {
      u.steps[0] = {1, 10, 50}, u.steps[1] = {1, 60, 100}, u.steps[2] = {1, 0, 220};
      u.programHighStep = 20;
    });
  }
  testing::ProcessResult Cli(std::vector<std::string> args) {
    return testing::RunCli(dir_.path(), std::move(args), sim_.DevicePath());
  }

  testing::TempDir dir_;
  AppFolder folder_{dir_.path()};
  sim::SimulatedLine sim_{testing::QuickLine({1})};
};

TEST_F(CliRun, TheVerbsRunTheConsolesWorkflowsAndExitAsAScriptExpects) {
  // Numbers out of range are the argument tests'; a usage error of each verb shape exits 2.
  for (auto args : {std::vector<std::string>{"jump", "3", "2"}, {"start", "3", "--yes"}, {"limits", "3", "9", "8"}})
    EXPECT_EQ(Cli(args).exitCode, 2) << args[0];

  auto selected = Cli({"select", "3", "kiln"});  // the .txt left off
  ASSERT_EQ(selected.exitCode, 0) << selected.out << selected.err;
  EXPECT_THAT(selected.out, HasSubstr("Profile selected for run. Program limits uploaded to controller"));
  EXPECT_EQ(sim_.Unit(1).programHighStep, 3);

  EXPECT_EQ(Cli({"start", "3", "--field", "Order=7"}).exitCode, 1) << "no operator's code";
  // A start the load record could not take is refused before anything reaches the controller.
  auto unnamed = Cli({"start", "3", "--front-panel", "--operator", "Ann"});
  EXPECT_EQ(unnamed.exitCode, 1);
  EXPECT_EQ(unnamed.err, "Load not started: the field Order is required\n");
  EXPECT_EQ(sim_.Unit(1).runMode, 0);
  auto started = Cli({"start", "3", "--front-panel", "--field", "Order=4711"});
  ASSERT_EQ(started.exitCode, 0) << started.out << started.err;
  EXPECT_THAT(started.out, HasSubstr("enter 5172"));
  EXPECT_EQ(sim_.Unit(1).runMode, 2);
  sim_.FrontPanelStart(1);  // the operator
  sim_.AdvanceTime(std::chrono::minutes(5));

  auto jumped = Cli({"jump", "3", "2", "30"});
  ASSERT_EQ(jumped.exitCode, 0) << jumped.out << jumped.err;
  EXPECT_EQ(sim_.Unit(1).profileSetPoint, 160);
  EXPECT_EQ(Cli({"jump", "3", "3", "30"}).exitCode, 1);

  ASSERT_EQ(Cli({"pause", "3"}).exitCode, 0);
  EXPECT_EQ(sim_.Unit(1).setValue, 160);
  ASSERT_EQ(Cli({"setpoint", "3", "150"}).exitCode, 0);  // the pause's hold, lowered
  EXPECT_EQ(sim_.Unit(1).setValue, 150);
  ASSERT_EQ(Cli({"restart", "3", "--operator", "Bob"}).exitCode, 0);
  EXPECT_EQ(sim_.Unit(1).runMode, 2);
  // Each action done waits for the process that records the load, with who did it; the refused jump none.
  std::vector<std::string> actions;
  const auto rows = store::ConfigStore(folder_.ConfigDatabase()).LoadActions().value();
  for (const auto& row : rows)
    actions.push_back(row.kind + " " + row.what + " by " +
                      (row.who == "Bob"  ? "Bob"
                       : row.who.empty() ? "nobody"
                                         : "login"));
  EXPECT_THAT(actions, ::testing::ElementsAre("jump Jump by login", "pause Pause Profile by login",
                                              "set value Set Value by login", "restart Restart Profile by Bob"));
  EXPECT_EQ(std::tuple(rows[1].oldValue, rows[1].newValue, rows[2].oldValue, rows[2].newValue),
            std::tuple("mode 2", "mode 0", "160", "150"));

  // A zone's pause leaves its rows before the first write; a member that did not pause keeps
  // none (or a failure), so the load is not recorded as held where the program ran on.
  ASSERT_TRUE(store::ConfigStore(folder_.ConfigDatabase()).AddChannel({4, 2, "Dryer", "set64rs"}));  // no reply
  ASSERT_EQ(Cli({"zone", "set", "Furnace", "3", "4"}).exitCode, 0);
  EXPECT_EQ(Cli({"zone", "pause", "Furnace"}).exitCode, 1);
  EXPECT_EQ(sim_.Unit(1).runMode, 0);
  std::vector<std::string> zoneActions;
  const auto all = store::ConfigStore(folder_.ConfigDatabase()).LoadActions().value();
  for (const auto& row : all)
    if (row.what.find("zone") != std::string::npos)
      zoneActions.push_back(std::to_string(row.softwareChannel) + " " + row.what);
  EXPECT_THAT(zoneActions, ::testing::ElementsAre("3 Pause Profile (zone Furnace)"));
}

}  // namespace
}  // namespace tarvel
