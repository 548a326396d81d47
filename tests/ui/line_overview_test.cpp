// The line watch in the console: a user command cutting into a sweep, the overview's rows, a
// double click choosing the channel, an alarm row, its notification and its acknowledgement.
#include <sys/stat.h>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

#include <gmock/gmock.h>

#include <atomic>
#include <fstream>
#include <iterator>

#include "support/hooked_line.h"
#include "support/line_home.h"
#include "support/profiles.h"
#include "support/reading_frames.h"
#include "ui/console_window.h"
#include "ui/line_overview.h"
#include "ui/line_watch_binding.h"
#include "ui/trend_view.h"
#include "window_fixture.h"

namespace tarvel::ui {
namespace {

using namespace std::chrono_literals;

using testing::Reading;
using testing::Reads;

class LineWatchInConsole : public WindowFixture {
 protected:
  LineWatchInConsole() {
    EXPECT_TRUE(store_.AddChannel({1, 1, "Kiln", "set64rs"}));
    EXPECT_TRUE(store_.AddChannel({2, 2, "Oven", "set64rs"}));
  }
  // Runs the event loop until the watch has ended `count` more sweeps.
  void Sweeps(watch::LineWatch& watch, int count) {
    const long long until = watch.CurrentSweep().Completed() + count;
    ASSERT_TRUE(QTest::qWaitFor([&] { return swept_.load() >= until; }, 30000));
    QCoreApplication::processEvents();
  }
  void Count(watch::LineWatch& watch) {
    watch.OnSweep([this](const watch::SweepSummary& s) { swept_ = s.number; });
  }
  std::atomic<long long> swept_{0};
};

TEST_F(LineWatchInConsole, AUserCommandWaitsForTheExchangeInProgressAndTheReadingStartsAgain) {
  console::HookedLine hooked(line_);
  watch::LineWatch watch(folder_, store_, hooked);
  watch.Apply({1h, 2});  // one sweep in this test
  Count(watch);
  link::CommandSet user(line_);
  std::atomic<bool> userDone{false};
  StopRunner stop{runner_};
  hooked.before = [&](int exchange) {
    // The user presses a button while the sweep's fourth exchange is on the line.
    if (exchange == 4)
      runner_.Run([&] {
        (void)user.ReadSetValue(2);
        userDone = true;
      });
  };
  sim_.ClearRequests();
  runner_.SetBackground([&watch](bool between) {
    if (between) watch.CommandCameBetween();
    const auto step = watch.Step();
    return step.again ? 0ms : std::chrono::ceil<std::chrono::milliseconds>(step.wait);
  });
  Sweeps(watch, 1);
  EXPECT_TRUE(userDone);
  std::vector<std::pair<int, int>> expected = Reading(1, true);
  expected.resize(4);
  expected.emplace_back(2, 0x0000);  // the user's read, right after the exchange in progress
  // Unit 1's reading starts again without the probe: its answer is kept.
  for (auto reads : {Reading(1), Reading(2, true)}) expected.insert(expected.end(), reads.begin(), reads.end());
  const auto [reads, again] = tarvel::testing::ReadsOnce(sim_.Requests());
  EXPECT_EQ(reads, expected) << "unit 1's reading starts again after the command";
  EXPECT_EQ(again, line_.Counts().resends) << "every request twice in a row was one the line sent again";
}

// Block reads are on until the setting says otherwise; the setting is kept in the options file,
// which may hold the broker's password: no other user may read it, not even while it is written.
TEST_F(LineWatchInConsole, TheBlockReadSettingIsKeptAndReadBack) {
  EXPECT_TRUE(LoadLineWatchOptions(folder_).watch.blockReads);
  LineWatchOptions options = LoadLineWatchOptions(folder_);
  options.watch.blockReads = false;
  options.mqtt.password = "secret";
  const auto file = folder_.Setup() / "LineWatch.ini";
  const auto own = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
  tarvel::testing::WriteAll(file, "[Mqtt]\nPassword=old\n");  // left by a version that did not keep it private
  std::filesystem::permissions(file, std::filesystem::perms(0644));
  EXPECT_EQ(LoadLineWatchOptions(folder_).mqtt.password, "old");
  EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all, own) << "made private when read";
  std::filesystem::permissions(file, std::filesystem::perms(0644));
  const mode_t mask = ::umask(0);  // what the file would get from a careless creator
  SaveLineWatchOptions(folder_, options);
  ::umask(mask);
  EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all, own);
  EXPECT_FALSE(LoadLineWatchOptions(folder_).watch.blockReads);
  const std::string text = tarvel::testing::ReadAll(file);
  EXPECT_NE(text.find("BlockReads=false"), std::string::npos) << text;
}

TEST_F(LineWatchInConsole, OverviewRowsDoubleClickChoosesTheChannelAndAnAlarmTurnsItsRowRed) {
  ASSERT_TRUE(tarvel::testing::WriteCureProfile(folder_.Profiles() / "Cure.txt"));
  tarvel::testing::RunCure(store_, sim_, 1, "Cure.txt");
  sim_.AdvanceTime(15min);
  sim_.EditUnit(1, [](sim::UnitState& u) { u.processTemperature = 400; });

  ConsoleWindow window({true, "/dev/pts/x", QString::fromStdString(folder_.Profiles().string()), {}}, runner_);
  console::Console console(folder_, store_, line_, window.View(), {true, true});
  watch::LineWatch watch(folder_, store_, line_);
  auto* binding = new LineWatchBinding(window, console, watch, folder_);
  std::vector<QString> notified;
  QObject::connect(binding, &LineWatchBinding::alarmNotified,
                   [&](const QString& title, const QString&) { notified.push_back(title); });
  Count(watch);
  StopRunner stop{runner_};
  window.show();
  window.Start(console);
  LineWatchOptions options;
  options.watch = {0ms, 2};
  options.notify = false;
  binding->Start();
  binding->Apply(options);
  Sweeps(watch, 3);

  QTableWidget* grid = Find<QTableWidget>(window, "LineOverviewGrid");
  ASSERT_EQ(grid->rowCount(), 2);
  auto cell = [&](int row, int column) { return grid->item(row, column)->text(); };
  EXPECT_EQ(cell(0, LineOverview::kNickName), "Kiln");
  EXPECT_EQ(cell(0, LineOverview::kState), "ALARM") << "words first";
  EXPECT_EQ(grid->item(0, LineOverview::kState)->toolTip(), "PV 400 above band 150..170 for 2 readings");
  EXPECT_EQ(cell(0, LineOverview::kProfile), "Cure.txt");
  EXPECT_EQ(cell(0, LineOverview::kProcessValue), "400");
  EXPECT_EQ(cell(0, LineOverview::kDeviation), "+240");
  EXPECT_EQ(cell(0, LineOverview::kBand), "above band (150..170)");
  EXPECT_EQ(cell(1, LineOverview::kState), "idle");
  EXPECT_EQ(grid->item(0, LineOverview::kState)->background().color(), QColor(255, 150, 150));
  EXPECT_EQ(grid->item(1, LineOverview::kState)->background().style(), Qt::NoBrush);
  ASSERT_FALSE(notified.empty());
  EXPECT_EQ(notified[0], "Temperature alarm channel 1 Kiln: raised");
  EXPECT_THAT(Find<QPlainTextEdit>(window, "User_Prompt")->toPlainText().toStdString(),
              ::testing::HasSubstr("ALARM channel 1 Kiln: PV 400 above band 150..170 for 2 readings"));
  // Selected, the alarm's state cell stays red.
  grid->selectRow(0);
  QCoreApplication::processEvents();
  const QRect state = grid->visualItemRect(grid->item(0, LineOverview::kState));
  EXPECT_EQ(grid->viewport()->grab().toImage().pixelColor(state.topLeft() + QPoint(2, 2)), QColor(200, 0, 0));
  // Acknowledged through the store: the watch's next reading of it shows who.
  Find<QPushButton>(window, "AcknowledgeAlarmButton")->click();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return grid->item(0, LineOverview::kState)
            ->toolTip()
            .startsWith("PV 400 above band 150..170 for 2 readings; acknowledged by ");
      },
      15000));
  // Without "Monitor Run State" the console's Run State and trend follow the sweep's readings.
  EXPECT_GE(window.Trend()->PointCount(), 3u);

  // Exit names the run being recorded and the alarm, Cancel first; cancelled, the window stays.
  boxes_.Answer(QMessageBox::Cancel);
  window.close();
  ASSERT_FALSE(boxes_.Seen().empty());
  EXPECT_EQ(boxes_.Seen().back().first, "Exit");
  EXPECT_THAT(boxes_.Seen().back().second.toStdString(),
              ::testing::MatchesRegex("Exit Tarvel\\?\nA run is being recorded \\(channel 1 Kiln\\).*\n"
                                      "An alarm is open: channel 1 Kiln: PV 400 above band.*"));
  EXPECT_TRUE(boxes_.LastDefaultWasCancel());
  EXPECT_TRUE(window.isVisible());

  // Double click on the oven: the console's channel becomes 2.
  const QRect rect = grid->visualItemRect(grid->item(1, LineOverview::kNickName));
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rect.center());
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, rect.center());
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Find<QComboBox>(window, "ProfileChannelNumberDisplay")->currentText() == "2"; }, 15000));
}

}  // namespace
}  // namespace tarvel::ui
