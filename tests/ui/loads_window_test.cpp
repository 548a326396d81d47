// The load windows as a user meets them: the field dialog at Start refuses what the record could
// not take, naming the field; the Loads window lists the home's records by its filters and
// writes the chosen load's report.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <gmock/gmock.h>

#include <fstream>

#include "layout_check.h"
#include "support/temp_dir.h"
#include "ui/load_fields_dialog.h"
#include "ui/loads_window.h"
#include "watch/load_book.h"
#include "watch/record_writer.h"

namespace tarvel::ui {
namespace {

using namespace watch;

TEST(LoadFieldsDialog, OkIsRefusedWithTheReasonWhileTheRecordCouldNotTakeTheStart) {
  const std::vector<FieldRule> rules{{"Order", true}, {"Customer", false}};
  struct Case {
    const char *op, *order, *customer;
    bool accepted;
    const char* problem;
  };
  for (const Case& c : {Case{"Ann", "", "ACME", false, "Load not started: the field Order is required"},
                        Case{"Ann", " 4711 ", "", true, ""}}) {
    LoadFieldsDialog dialog(rules, "");
    Find<QLineEdit>(dialog, "LoadOperator")->setText(c.op);
    Find<QLineEdit>(dialog, "LoadField Order")->setText(c.order);
    Find<QLineEdit>(dialog, "LoadField Customer")->setText(c.customer);
    dialog.accept();
    EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted) << c.op << "/" << c.order;
    EXPECT_EQ(Find<QLabel>(dialog, "LoadFieldsProblem")->text().toStdString(), c.problem);
    if (c.accepted) {
      EXPECT_EQ(dialog.Fields(), (std::vector<ShopField>{{"Order", "4711"}}));
    }
  }
}

class LoadsList : public ::testing::Test {
 protected:
  // A record of a load of channel on day (2026-12-DD), closed a day later with result pass (or
  // cancelled), or open.
  void Record(const std::string& id, int channel, int day, const std::string& order, std::optional<bool> pass,
              bool cancelled = false) {
    LoadHeader h;
    h.loadId = id;
    h.opened = *ParseUtcTime("2026-12-0" + std::to_string(day) + "T08:00:00Z");
    h.operatorName = "Ann";
    h.fields = {{"Order", order}};
    h.controllers = {{channel, "Kiln", channel, "/dev/ttyUSB0"}};
    h.profileName = "cure.txt";
    auto writer = RecordWriter::Create(LoadFile(folder_, id), OpenRecordFile);
    ASSERT_TRUE(writer.ok()) << writer.status().message();
    (*writer)->Add(HeaderLine(h), h.opened, true);
    if (!pass) return;
    const auto closed = h.opened + std::chrono::hours(24);
    (*writer)->Add(ResultLine({closed, *pass, "end step reached", "", cancelled}), closed, false);
    (*writer)->Add(CloseLine(closed), closed, true, true);
  }

  testing::TempDir dir_;
  AppFolder folder_{dir_.path()};
};

TEST_F(LoadsList, FiltersByDateChannelResultAndOrderAndWritesTheChosenLoadsReport) {
  std::filesystem::create_directories(LoadsFolder(folder_));
  Record("L-20261201-0001-A", 1, 1, "4711", true);
  Record("L-20261203-0001-B", 2, 3, "4800", false);
  Record("L-20261205-0001-C", 1, 5, "4711-2", std::nullopt);
  LoadsWindow window(folder_);
  auto* grid = Find<QTableWidget>(window, "LoadsGrid");
  auto shown = [grid] {
    std::vector<std::string> ids;
    for (int r = 0; r < grid->rowCount(); ++r) ids.push_back(grid->item(r, LoadsWindow::kLoad)->text().toStdString());
    return ids;
  };
  struct Case {
    const char *from, *to, *channel;
    int result;  // 0 any, 1 PASS, 2 FAIL
    const char* order;
    std::vector<std::string> ids;
  };
  for (const Case& c :
       std::vector<Case>{{"", "", "", 0, "", {"L-20261201-0001-A", "L-20261203-0001-B", "L-20261205-0001-C"}},
                         {"2026-12-02", "", "", 0, "", {"L-20261201-0001-A", "L-20261203-0001-B", "L-20261205-0001-C"}},
                         {"2026-12-03", "2026-12-03", "", 0, "", {"L-20261203-0001-B"}},  // A closed on the 2nd
                         {"", "", "1", 0, "", {"L-20261201-0001-A", "L-20261205-0001-C"}},
                         {"", "", "", 1, "", {"L-20261201-0001-A"}},
                         {"", "", "", 2, "", {"L-20261203-0001-B"}},
                         {"", "", "", 0, "4711", {"L-20261201-0001-A", "L-20261205-0001-C"}},
                         {"", "", "x", 0, "", {}}}) {
    Find<QLineEdit>(window, "LoadsFrom")->setText(c.from);
    Find<QLineEdit>(window, "LoadsTo")->setText(c.to);
    Find<QLineEdit>(window, "LoadsChannel")->setText(c.channel);
    Find<QLineEdit>(window, "LoadsOrder")->setText(c.order);
    Find<QComboBox>(window, "LoadsResult")->setCurrentIndex(c.result);
    Find<QPushButton>(window, "LoadsShowButton")->click();
    EXPECT_EQ(shown(), c.ids) << c.from << " " << c.to << " " << c.channel << " " << c.result << " " << c.order;
  }
  EXPECT_EQ(Find<QLabel>(window, "LoadsStatus")->text().toStdString(), "Channel is no channel number");

  Find<QLineEdit>(window, "LoadsChannel")->setText("2");
  Find<QPushButton>(window, "LoadsShowButton")->click();
  QString opened;
  window.SetOpener([&opened](const QString& file) { opened = file; });
  grid->setCurrentCell(0, 0);
  Find<QPushButton>(window, "LoadsReportButton")->click();
  ASSERT_FALSE(opened.isEmpty()) << Find<QLabel>(window, "LoadsStatus")->text().toStdString();
  std::ifstream pdf(opened.toStdString(), std::ios::binary);
  std::string magic(5, '\0');
  pdf.read(magic.data(), 5);
  EXPECT_EQ(magic, "%PDF-");
  EXPECT_THAT(opened.toStdString(), ::testing::EndsWith("L-20261203-0001-B.pdf"));
  std::filesystem::remove(opened.toStdString());

  // A cancelled load did not fail: it is found under its own result, as tarvel-cli's --result finds it.
  Record("L-20261206-0001-D", 2, 6, "", false, /*cancelled=*/true);
  Find<QComboBox>(window, "LoadsResult")->setCurrentText("FAIL");
  EXPECT_EQ(shown(), std::vector<std::string>{"L-20261203-0001-B"});
  Find<QComboBox>(window, "LoadsResult")->setCurrentText("CANCELLED");
  EXPECT_EQ(shown(), std::vector<std::string>{"L-20261206-0001-D"});
}

}  // namespace
}  // namespace tarvel::ui
