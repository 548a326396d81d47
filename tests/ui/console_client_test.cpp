// The console as a client of the home's line service: the service owns the port, the console's
// upload goes through it with the messages and the progress bar it has on a port of its own.
#include <gmock/gmock.h>
#include <QAction>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableWidget>

#include "console/console.h"
#include "gui_line.h"
#include "service/api.h"
#include "service/service.h"
#include "support/profiles.h"
#include "ui/console_window.h"
#include "watch/line_watch.h"
#include "window_fixture.h"

namespace tarvel::ui {
namespace {

TEST_F(WindowFixture, TheConsoleUploadsThroughTheLineServiceThatOwnsItsPort) {
  line_.Close();  // the service's port now
  ASSERT_TRUE(store_.AddChannel({1, 1, "Kiln", "set64rs", sim_.DevicePath()}));
  ASSERT_TRUE(store_.ResetControllerMemory(1));
  ASSERT_TRUE(tarvel::testing::WriteCureProfile(folder_.Profiles() / "cure.txt"));
  service::PortOptions quick;
  quick.watch.period = std::chrono::milliseconds(100);
  auto started = service::Service::Start(folder_, quick);
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<service::Service>>(started));
  auto& lineService = *std::get<std::unique_ptr<service::Service>>(started);
  service::ApiServer api(lineService);
  ASSERT_TRUE(api.Start({service::SocketPath(folder_), std::nullopt, ""}).ok());
  ASSERT_TRUE(QTest::qWaitFor([&] { return lineService.AllSettled(); }, 10000));
  EXPECT_EQ(app::ServedPorts(folder_), std::vector<std::string>{sim_.DevicePath()}) << "what the port set-up shows";

  // Start-up as the program does it: its own open is refused, the service's line taken instead.
  link::ModbusRtuLine own;
  auto opened = own.Open(sim_.DevicePath());
  ASSERT_FALSE(opened.ok());
  std::vector<std::string> problems{opened.message};
  bool gone = true;
  app::ConsoleLine line(folder_, sim_.DevicePath(), own, problems, gone);
  ASSERT_TRUE(line.Served());
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_FALSE(gone);

  // Its line watch shows the service's readings and reads nothing of its own.
  service::PortWorker* port = lineService.Port(sim_.DevicePath());
  const long long clientExchanges = port->ClientExchanges();
  watch::LineWatch lineWatch(folder_, store_, line.Line());
  line.Watch(lineWatch);
  std::vector<int> shown;
  lineWatch.SetMonitorView([&](int channel, std::uint8_t, const controller::RunStateReading& reading) {
    if (reading.complete()) shown.push_back(reading.setPoint().value);
    return channel == 1;
  });
  watch::SweepSummary sweep;
  lineWatch.OnSweep([&](const watch::SweepSummary& s) { sweep = s; });
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        lineWatch.Step();
        return lineWatch.SweepsFinished() >= 2;
      },
      10000));
  EXPECT_EQ(port->ClientExchanges(), clientExchanges) << "not one read frame of the console's";
  // The overview's sweep line tells the service's sweep: its number and period, not zeros.
  EXPECT_GE(sweep.number, 2);
  EXPECT_GT(sweep.took.count(), 0);
  EXPECT_EQ(std::chrono::round<std::chrono::milliseconds>(sweep.period).count(), 100);
  const watch::ChannelStatus& status = lineWatch.Statuses().at(1);
  EXPECT_EQ(status.failure, link::Outcome::Ok);
  EXPECT_EQ(status.setPoint, 70);
  EXPECT_THAT(shown, ::testing::Contains(70)) << "the monitor shows them";

  ConsoleWindow window(
      {false, QString::fromStdString(sim_.DevicePath()), QString::fromStdString(folder_.Profiles().string()), {}},
      runner_);
  console::Console console(folder_, store_, line.Line(), window.View(), console::LineInfo{true, false});
  window.show();
  window.Start(console);
  Idle();
  boxes_.Pick(QString::fromStdString((folder_.Profiles() / "cure.txt").string()));
  Find<QAction>(window, "mnuOpenProfile")->trigger();
  Idle();
  auto* start = Find<QLineEdit>(window, "StartAddressDisplay");
  start->selectAll();
  QTest::keyClicks(start, "10");
  Idle();
  Click(window, "CompileProfileButton");
  auto* progress = Find<QProgressBar>(window, "TransferProgressBar");
  int highest = progress->minimum() - 1;
  QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) { highest = std::max(highest, value); });
  Click(window, "UpLoadProfileToController");
  EXPECT_EQ(Find<QTableWidget>(window, "fgProfileLog")->item(0, 2)->text(), "cure.txt");
  EXPECT_EQ(highest, progress->maximum()) << "the bar went all the way";
  EXPECT_EQ(progress->text(), "") << "and back to idle";
  runner_.Shutdown();
}

}  // namespace
}  // namespace tarvel::ui
