// The profile editor as a user meets it: keys typed into the grid, menus, boxes answered, the
// files it writes and what the message area says.
#include <QAction>
#include <QApplication>
#include <QChart>
#include <QCheckBox>
#include <QClipboard>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <gmock/gmock.h>

#include "box_answerer.h"
#include "layout_check.h"
#include "profile/profile_text.h"
#include "store/home.h"
#include "support/run_process.h"
#include "support/temp_dir.h"
#include "ui/chart_view.h"
#include "ui/edit_chart.h"
#include "ui/profile_editor_settings.h"
#include "ui/profile_editor_window.h"

namespace tarvel::ui {
namespace {

using tarvel::testing::ReadAll;
using tarvel::testing::WriteAll;
using ::testing::HasSubstr;

// A five-segment profile typed as durations and end temperatures, then "e".
const std::string kFiveSegmentCsv =
    "Seg,Start Time,Duration,Action,Start Temp,End Temp,Ramp Rate,Error Limits,Command,\"Notify t,T\"\n"
    "1,0,60,r,70,250,3.00,,,\n"
    "2,60.00,120,h,250,250,0.00,,,\n"
    "3,180.00,50,r,250,400,3.00,,,\n"
    "4,230.00,30,h,400,400,0.00,,,\n"
    "5,260.00,60,r,400,100,-5.00,,,\n"
    "6,320.00,,e,100,,,,,\n";

class ProfileEditorTest : public ::testing::Test {
 protected:
  ProfileEditorTest() { Open(); }
  ~ProfileEditorTest() override { Close(); }

  void Open(QScreen* screen = nullptr) {
    window_ = std::make_unique<ProfileEditorWindow>(folder_);
    if (screen) window_->setScreen(screen);
    window_->SetFileChooser([this](FileDialogKind kind, const QString&) {
      asked_.push_back(kind);
      QString file = files_.empty() ? QString() : files_.front();
      if (!files_.empty()) files_.pop_front();
      return file;
    });
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    grid_ = window_->findChild<QTableView*>("Profile_FlexGrid");
    ASSERT_NE(grid_, nullptr);
    grid_->setFocus();
  }
  void Close() {
    if (!window_) return;
    boxes_.Answer(QMessageBox::Discard);
    window_->close();
    window_.reset();
  }

  QString Cell(int row, int column) { return grid_->model()->index(row - 1, column).data().toString(); }
  QString Prompt() { return window_->findChild<QPlainTextEdit*>("User_Prompt")->toPlainText(); }
  void Go(int row, int column) { grid_->setCurrentIndex(grid_->model()->index(row - 1, column)); }
  QWidget* Focus() { return QApplication::focusWidget() ? QApplication::focusWidget() : grid_; }
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(Focus(), key, modifiers); }
  void Type(const QString& text) {
    for (QChar c : text) QTest::keyClick(Focus(), c.toLatin1());
  }
  void Trigger(const char* action) { window_->findChild<QAction*>(action)->trigger(); }
  std::filesystem::path Profile(const char* name) { return folder_.Profiles() / name; }
  void ImportFiveSegments() {
    WriteAll(dir_ / "in.csv", kFiveSegmentCsv);
    files_ = {QString::fromStdString((dir_ / "in.csv").string())};
    Trigger("mnuImportCsv");
  }

  BoxAnswerer boxes_;
  tarvel::testing::TempDir dir_;
  AppFolder folder_{dir_.path()};
  store::HomeReport home_ = store::PrepareHome(folder_);
  std::unique_ptr<ProfileEditorWindow> window_;
  QTableView* grid_ = nullptr;
  std::deque<QString> files_;
  std::vector<FileDialogKind> asked_;
};

// Each editing key reaches its worksheet workflow; the rules themselves (which keys a column
// takes, what a paste takes, what an undo restores) are the worksheet's own tests.
TEST_F(ProfileEditorTest, EachEditingKeyReachesItsWorkflow) {
  QSignalSpy beeps(window_.get(), &ProfileEditorWindow::beeped);
  Go(1, profile::kAction);
  Type("rxh");  // x is refused with a beep; the box takes the last good key
  EXPECT_EQ(beeps.count(), 1);
  auto* box = qobject_cast<QLineEdit*>(Focus());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "h");
  Key(Qt::Key_Tab);
  QApplication::clipboard()->setText("60\tr\t\t250\n");
  Go(1, profile::kDuration);
  Key(Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Cell(1, profile::kRampRate), "3.00") << "paste";
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Cell(1, profile::kDuration), "") << "undo";
  Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Cell(1, profile::kDuration), "60") << "redo";
  grid_->selectionModel()->select(QItemSelection(grid_->model()->index(0, 2), grid_->model()->index(0, 6)),
                                  QItemSelectionModel::ClearAndSelect);
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "60\tr\t70\t250\t3.00\n") << "copy";
  // Typing over a cell replaces its text, as in a spreadsheet; Delete empties it.
  Go(1, profile::kStartTemp);
  Type("80");
  Key(Qt::Key_Down);
  EXPECT_EQ(Cell(1, profile::kStartTemp), "80");
  Go(1, profile::kStartTemp);
  Key(Qt::Key_Delete);
  EXPECT_EQ(Cell(1, profile::kStartTemp), "");
}

TEST_F(ProfileEditorTest, OnEachLaptopScreenEveryControlShowsTheLegendIsWholeAndThePlaceIsKept) {
  const std::vector<QString> controls = Names(
      "Edit_Profile_Name Profile_FlexGrid LogFileNameDisplay LoadLogFileButton RemoveLogButton "
      "DesignProfilePlotSelect DesignProfileLimitsPlotSelect RecordedProfilePlotSelect RecordedTempDataPlotSelect "
      "EditChart ResetZoomButton SaveChartImageButton PrintChartButton ChartReadout User_Prompt");
  // With a log over the profile the read-out names five traces: hovering must not push anything.
  std::string log;
  for (int p = 0; p < 320; ++p) log += " " + std::to_string(100000 + p).substr(1) + ".00  250  248\r\n";
  WriteAll(dir_ / "run.log", log);
  for (QScreen* screen : QGuiApplication::screens()) {
    SCOPED_TRACE(screen->name().toStdString());
    Close();
    std::filesystem::remove(folder_.Setup() / "WindowPlaces.ini");
    Open(screen);
    ImportFiveSegments();
    window_->Chart().LoadLogFile(QString::fromStdString((dir_ / "run.log").string()));
    ExpectLaidOut(*window_, controls);
    ExpectHoverKeepsLayout(*window_, *window_->Chart().View());
    EXPECT_THAT(window_->findChild<QLabel*>("ChartReadout")->text().toStdString(), HasSubstr("Temp Record= 248"));
  }
  window_->Chart().RemoveLog();
  // Every legend text is drawn whole, none cut to "Design Prof...".
  int texts = 0;
  for (QGraphicsItem* item : window_->Chart().View()->scene()->items()) {
    if (auto* text = dynamic_cast<QGraphicsTextItem*>(item); text && text->isVisible()) {
      ++texts;
      EXPECT_FALSE(text->toPlainText().endsWith("...")) << text->toPlainText().toStdString();
    }
  }
  EXPECT_GE(texts, 4);
  EXPECT_GE(grid_->viewport()->width(), grid_->horizontalHeader()->length()) << "the whole worksheet shows";

  // Moved and resized, the editor comes back where the user left it.
  window_->resize(1000, 560);
  window_->move(60, 110);
  QCoreApplication::processEvents();
  const QRect left = window_->geometry();
  Close();
  Open();
  EXPECT_EQ(window_->geometry(), left);
  ExpectLaidOut(*window_, controls);
}

TEST_F(ProfileEditorTest, KeysTypedRightAfterAClickAreNeverLost) {
  const int interval = QApplication::doubleClickInterval();
  QApplication::setDoubleClickInterval(50);
  auto click = [this](int row, int column) {
    const QRect cell = grid_->visualRect(grid_->model()->index(row - 1, column));
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, {}, cell.center());
  };
  for (int row = 1; row <= 6; ++row) {
    click(row, profile::kCommand);
    if (row <= 3) click(row, profile::kCommand);  // clicked again: the cell's box opens
    Type("abc");                                  // at once, as a fast typist does
    QTest::qWait(100);                            // the user's pause before Enter: a box Qt opens late would open now
    Key(Qt::Key_Return);
    EXPECT_EQ(Cell(row, profile::kCommand), "abc") << "row " << row;
  }
  QApplication::setDoubleClickInterval(interval);
}

// Save refuses a bad profile; a cancelled dialog writes nothing; Save asks for a name once, warns
// before cutting text, and asks nothing again; closing with changes asks first.
TEST_F(ProfileEditorTest, FiveSegmentsTypedAreSavedOnceNamedWarnedBeforeCuttingTextAndAskedBeforeClosing) {
  Trigger("mnuSaveFileAs");
  EXPECT_EQ(Prompt(), "Error: Must have more than 2 segments in profile\nProfile Error - FILE NOT SAVED\n");
  EXPECT_TRUE(asked_.empty()) << "no dialog opens";

  // Rows alternate direction: Duration, Tab to End Temp, Enter down; End Temp, Backtab to Duration.
  Go(1, profile::kDuration);
  const char* rows[5][2] = {{"60", "250"}, {"120", "250"}, {"50", "400"}, {"30", "400"}, {"60", "100"}};
  for (int i = 0; i < 5; ++i) {
    const bool down = i % 2 == 0;
    Type(rows[i][down ? 0 : 1]);
    for (int tab = 0; tab < 3; ++tab) Key(down ? Qt::Key_Tab : Qt::Key_Backtab);
    Type(rows[i][down ? 1 : 0]);
    Key(Qt::Key_Return);
  }
  Key(Qt::Key_Backtab);
  Key(Qt::Key_Backtab);
  Type("e");
  EXPECT_EQ(window_->windowTitle(), "New profile* - Profile Editor");
  EXPECT_TRUE(window_->IsModified());
  Trigger("mnuSaveFileAs");  // the open edit box is committed first; the dialog is cancelled
  EXPECT_EQ(asked_, std::vector{FileDialogKind::SaveProfile});
  EXPECT_TRUE(std::filesystem::is_empty(folder_.Profiles()));
  EXPECT_EQ(window_->findChild<QLineEdit*>("Edit_Profile_Name")->text(), "");
  files_ = {QString::fromStdString((dir_ / "out.csv").string())};
  Trigger("mnuExportCsv");
  EXPECT_EQ(ReadAll(dir_ / "out.csv"), kFiveSegmentCsv);

  files_ = {QString::fromStdString(Profile("five.txt").string())};
  Key(Qt::Key_S, Qt::ControlModifier);  // no file yet: Save asks for a name
  EXPECT_EQ(asked_.back(), FileDialogKind::SaveProfile);
  const std::string saved = ReadAll(Profile("five.txt"));
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ(Prompt(), "PROFILE SAVED\n");
  EXPECT_EQ(window_->findChild<QLineEdit*>("Edit_Profile_Name")->text(), "five.txt");
  EXPECT_EQ(window_->windowTitle(), "five.txt - Profile Editor");

  Go(1, profile::kCommand);
  Type("C=2 J2=off PID tuned J1=on");
  Key(Qt::Key_Return);
  const std::size_t asks = asked_.size();
  boxes_.Answer(QMessageBox::Cancel);
  Key(Qt::Key_S, Qt::ControlModifier);
  ASSERT_FALSE(boxes_.Seen().empty());
  EXPECT_THAT(boxes_.Seen().back().second.toStdString(),
              HasSubstr("Row 1 Command \"C=2 J2=off PID tuned J1=on\" to \"C=2 J2=off PID tuned\""));
  EXPECT_EQ(ReadAll(Profile("five.txt")), saved) << "cancelled: nothing written";
  EXPECT_THAT(Prompt().toStdString(), HasSubstr("Not saved: Row 1 Command is longer than a profile file keeps"));
  QCoreApplication::processEvents();
  EXPECT_EQ(grid_->currentIndex(), grid_->model()->index(0, profile::kCommand));

  // Closing with changes asks first: Cancel keeps the window.
  boxes_.Answer(QMessageBox::Cancel);
  EXPECT_FALSE(window_->close());
  const QString closing = boxes_.Seen().back().second;
  EXPECT_THAT(closing.toStdString(), HasSubstr("changes that are not saved"));

  boxes_.Answer(QMessageBox::Save);
  Trigger("mnuSaveFile");
  EXPECT_EQ(asked_.size(), asks) << "the profile's own file, without asking a name";
  EXPECT_THAT(ReadAll(Profile("five.txt")), HasSubstr("C=2 J2=off PID tuned"));
  EXPECT_EQ(window_->windowTitle(), "five.txt - Profile Editor");

  // Exit Editor asks one question, not one before closing and another while closing.
  Go(2, profile::kCommand);
  Type("x");
  Key(Qt::Key_Return);
  const std::size_t seen = boxes_.Seen().size();
  boxes_.Answer(QMessageBox::Discard);
  Trigger("mnuExitEditor");
  ASSERT_TRUE(QTest::qWaitFor([this] { return !window_->isVisible(); }, 5000));
  ASSERT_EQ(boxes_.Seen().size(), seen + 1);
  EXPECT_EQ(boxes_.Seen().back().second, "Verify profile saved?\n" + closing);
}

TEST_F(ProfileEditorTest, AChartThatCannotDrawNamesTheCellAndSelectsIt) {
  ImportFiveSegments();
  WriteAll(dir_ / "run.log", "       10  100  101\r\n      200  250  248\r\n");
  window_->Chart().LoadLogFile(QString::fromStdString((dir_ / "run.log").string()));
  EXPECT_EQ(window_->Chart().Series(1)->count(), 1000);

  // Clearing a Duration: the Start Times below cannot be known, and the chart says why.
  Go(2, profile::kDuration);
  Key(Qt::Key_Delete);
  EXPECT_THAT(Prompt().toStdString(),
              HasSubstr("Design profile not drawn: Row 2 Duration is empty: every segment before the end needs one"));
  EXPECT_EQ(window_->Chart().Series(1)->count(), 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(grid_->currentIndex(), grid_->model()->index(1, profile::kDuration));
}

TEST_F(ProfileEditorTest, SettingsFileRoundTripAndAProfileReopensInItsOwnScalesAndPlotChoices) {
  EXPECT_EQ(ReadEditorSettings(folder_.EditorSettings()), profile::EditorSettings{});
  WriteAll(folder_.EditorSettings(), "[General\nTemperatureScale=maybe\nDesignProfilePlotSelect=70000\n\x01\xff");
  EXPECT_EQ(ReadEditorSettings(folder_.EditorSettings()), profile::EditorSettings{});
  profile::EditorSettings written{false, false, "T", 0, 1, 0, 1, "/x/y.txt"};
  EXPECT_EQ(WriteEditorSettings(folder_.EditorSettings(), written), "");
  EXPECT_EQ(ReadEditorSettings(folder_.EditorSettings()), written);
  EXPECT_EQ(WriteEditorSettings(dir_ / "gone" / "EditorSettings.bag", written),
            "Setup Error: Editor file path does not exist");

  // A Celsius profile in hours, saved by the command line, opened from the menu.
  WriteAll(dir_ / "c.csv", kFiveSegmentCsv);
  auto cli =
      testing::RunProcess(TARVEL_CLI, {"--home", dir_.path().string(), "profile", "build", "--sensor", "J", "--temp",
                                       "C", "--time", "H", (dir_ / "c.csv").string(), Profile("c.txt").string()});
  ASSERT_EQ(cli.exitCode, 0) << cli.out << cli.err;
  files_ = {QString::fromStdString(Profile("c.txt").string())};
  Trigger("mnuFileOpen");
  EXPECT_TRUE(window_->findChild<QAction*>("mnuCelcius")->isChecked());
  EXPECT_TRUE(window_->findChild<QAction*>("mnuHours")->isChecked());
  EXPECT_TRUE(window_->findChild<QAction*>("mnuSensorType_1")->isChecked());
  Trigger("mnuFahrenheit");  // what the scale menus say is the worksheet's test
  EXPECT_THAT(Prompt().toStdString(), HasSubstr("Temperature scale set to F"));

  // Closing writes the settings, the plot check boxes' too; the next window comes back with them
  // and the profile.
  window_->findChild<QCheckBox*>("DesignProfileLimitsPlotSelect")->click();
  window_->findChild<QCheckBox*>("RecordedTempDataPlotSelect")->click();
  EXPECT_FALSE(window_->Chart().Series(2)->isVisible() || window_->Chart().Series(3)->isVisible()) << "both limits";
  boxes_.Answer(QMessageBox::Discard);
  window_->close();
  const profile::EditorSettings saved = ReadEditorSettings(folder_.EditorSettings());
  EXPECT_EQ(saved.profilePathFileName, Profile("c.txt").string());
  EXPECT_EQ(std::tuple(saved.designProfilePlotSelect, saved.designProfileLimitsPlotSelect,
                       saved.recordedProfilePlotSelect, saved.recordedTempDataPlotSelect),
            std::tuple(1, 0, 1, 0));
  window_.reset();
  Open();
  EXPECT_EQ(window_->Chart().PlotSelection(), (std::array<bool, 4>{true, false, true, false}));
  EXPECT_FALSE(window_->Chart().Series(5)->isVisible());
  EXPECT_EQ(window_->findChild<QLineEdit*>("Edit_Profile_Name")->text(), "c.txt");
  EXPECT_TRUE(window_->findChild<QAction*>("mnuCelcius")->isChecked()) << "the file's scale wins";
  EXPECT_EQ(Cell(3, profile::kEndTemp), "400");
  EXPECT_FALSE(window_->IsModified());
}

TEST_F(ProfileEditorTest, TheChartFollowsTheWorksheetAndMarksRows) {
  EditChart& chart = window_->Chart();
  ImportFiveSegments();
  ASSERT_EQ(chart.Series(1)->count(), 6);
  EXPECT_EQ(chart.Series(1)->at(5), QPointF(320, 100));
  Go(1, profile::kEndTemp);
  Type("260");
  Key(Qt::Key_Return);
  EXPECT_EQ(chart.Series(1)->at(1), QPointF(60, 260));
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(chart.Series(1)->at(1), QPointF(60, 250)) << "undo redraws the chart too";

  // A click on the point at 180 minutes marks segment 2, the one ending there; a click in the
  // grid repaints it.
  auto background = [this](int row) {
    const QRect cell = grid_->visualRect(grid_->model()->index(row - 1, profile::kNotify));
    return grid_->viewport()->grab().toImage().pixelColor(cell.topLeft() + QPoint(3, 3));
  };
  Go(4, profile::kDuration);
  const QColor plain = background(2);
  const QPoint point = chart.View()->mapFromScene(chart.Chart()->mapToPosition(QPointF(180, 250), chart.Series(1)));
  QTest::mouseClick(chart.View()->viewport(), Qt::LeftButton, {}, point + QPoint(1, 1));
  EXPECT_EQ(grid_->currentIndex().row() + 1, 2);
  EXPECT_EQ(background(2), QColor(192, 192, 192));
  const QRect other = grid_->visualRect(grid_->model()->index(4, profile::kDuration));
  QTest::mouseClick(grid_->viewport(), Qt::LeftButton, {}, other.center());
  EXPECT_EQ(background(2), plain);
}

}  // namespace
}  // namespace tarvel::ui
