#pragma once
// ui: the main console window "Tarvel". It binds widgets to console::Console and holds no
// business rule: every command runs as console work on the CommandRunner's thread, and the
// console speaks back through WindowView, which posts each call to this window's thread.

#include <QMainWindow>
#include <QTimer>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "console/console.h"
#include "ui/command_runner.h"

class QAction;
class QButtonGroup;
class QComboBox;
class QDockWidget;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTableWidget;
class QWidget;

namespace tarvel::ui {

class ConsoleWindow;
class TrendView;

inline constexpr int kTwipsPerPixel = 15;  // grid widths are given in twips

// The object name of the entry that shows a field.
const char* FieldControlName(console::Field field);

// The console's view: callable from any thread, applied on the window's thread.
class WindowView final : public console::ConsoleView {
 public:
  explicit WindowView(ConsoleWindow& window) : window_(window) {}

  void ShowMessages(const std::string& text) override;
  void SetLed(console::Led led) override;
  void SetField(console::Field field, const std::string& text) override;
  void SetSelectors(const console::Selectors& selectors) override;
  void SetProgressionChoices(const std::vector<std::string>& choices, int selected) override;
  void SetProgramMode(int code) override;
  void SetMonitoring(bool on) override;
  void SetGridLayout(console::Grid grid, const console::GridLayout& layout) override;
  void SetGridRows(console::Grid grid, const std::vector<std::vector<std::string>>& rows) override;
  void SetRowMarks(console::Grid grid, const std::vector<console::RowMark>& marks) override;
  void SetCurrentRow(console::Grid grid, int row) override;
  void ScrollTo(console::Grid grid, int topRow) override;
  void SetSizeButton(console::Grid grid, bool wide) override;
  void SetProgress(int done, int total) override;
  void ShowWarning(const std::string& title, const std::string& text) override;
  bool Confirm(const std::string& title, const std::string& text) override;
  bool ConfirmRisky(const std::string& title, const std::string& text) override;

  // Once the window closes, boxes are answered with Cancel instead of being shown.
  void SetClosing() { closing_ = true; }

 private:
  template <class F>
  void Post(F&& apply);
  template <class F>
  auto Ask(F&& ask) -> decltype(ask());

  ConsoleWindow& window_;
  std::atomic<bool> closing_{false};
};

struct WindowOptions {
  bool simulated = false;
  QString devicePath;      // shown with the serial link indicator
  QString profilesFolder;  // where "Open Profile" starts
  QString placementFile;   // where the window's place and layout are kept; empty: not kept
};

class ConsoleWindow : public QMainWindow {
  Q_OBJECT

 public:
  // runner is the application's one command thread, shared with every other window.
  ConsoleWindow(WindowOptions options, CommandRunner& runner, QWidget* parent = nullptr);
  ~ConsoleWindow() override;

  // Binds the window to its console (built by the caller on this window's view) and runs
  // start-up and the first activation on the command thread.
  void Start(console::Console& console);
  WindowView& View() { return view_; }
  CommandRunner& Runner() { return runner_; }
  // Lets the menu entry open window modeless; when the user comes back from it, the
  // console's activation runs again (channel lists, port, current channel).
  void AddToolWindow(const char* menuName, QWidget* window);
  TrendView* Trend() const { return trend_; }
  // A window of its own docked in the console (below the message area by default), listed in
  // the View menu so the user can show it again after closing it.
  void AddDock(QDockWidget* dock, Qt::DockWidgetArea area = Qt::BottomDockWidgetArea);
  QMenu* ViewMenu() const { return viewMenu_; }
  // The line watch shows its readings in the Run State frame: the monitor's timer reads nothing.
  void SetMonitorFedByLineWatch(bool fed) { monitorFedByLineWatch_ = fed; }
  // Asked before Start reaches the controller (the load's fields); false: no start.
  void SetStartGate(std::function<bool()> gate) { startGate_ = std::move(gate); }
  // What Exit (and closing the window) must ask about first -- runs being recorded, alarms
  // open --, one line each; empty when nothing is at stake.
  void SetExitQuestion(std::function<QString()> reasons) { exitReasons_ = std::move(reasons); }

  // --- applied on the window's thread by WindowView
  void ApplyMessages(const QString& text);
  void ApplyLed(console::Led led);
  void ApplyField(console::Field field, const QString& text);
  void ApplySelectors(const console::Selectors& selectors);
  void ApplyProgressionChoices(const QStringList& choices, int selected);
  void ApplyProgramMode(int code);
  void ApplyMonitoring(bool on);
  void ApplyGridLayout(console::Grid grid, const console::GridLayout& layout);
  void ApplyGridRows(console::Grid grid, const std::vector<std::vector<std::string>>& rows);
  void ApplyRowMarks(console::Grid grid, const std::vector<console::RowMark>& marks);
  void ApplyCurrentRow(console::Grid grid, int row);
  void ApplyScroll(console::Grid grid, int topRow);
  void ApplySizeButton(console::Grid grid, bool wide);
  void ApplyProgress(int done, int total);
  void ShowWarningBox(const QString& title, const QString& text);
  bool AskConfirm(const QString& title, const QString& text, bool cancelFirst = false);

 signals:
  void commandsIdle();          // the command thread finished everything queued (tests wait on it)
  void editProfileRequested();  // "Edit Profile": the application opens the profile editor

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  QGroupBox* BuildChannelFrame();
  QGroupBox* BuildCompiledFrame();
  QGroupBox* BuildProfileLogFrame();
  QGroupBox* BuildProgramMemoryFrame();
  QGroupBox* BuildRunStateFrame();
  QGroupBox* BuildProgramControlFrame();
  QGroupBox* BuildPromptFrame();
  void BuildPanels(QWidget* host);
  void ShowPanel(QGroupBox* panel);
  // The panels lie exactly over the "Channel Select" frame, which is tall enough for each.
  void FitPanels();
  // The first sizes of the splitters and the dock: the controls their room, the grids the rest.
  void ShareOut();
  void ResetLayout();
  // ">" widens a grid's pane by taking room from the others, "<" gives it back.
  void WidenPane(QWidget* pane, int wanted, bool wide);
  // The controls bound to their workflows, in the order of the window's frames.
  void Connect();
  void ConnectMenus();
  void ConnectProgramming();
  void ConnectSettings();
  void ConnectRunControl();
  // An entry the console fills (console::Field), named for it.
  QLineEdit* FieldEntry(console::Field field, const char* tip = nullptr, bool readOnly = false);
  // Runs console work on the command thread.
  void Command(std::function<void(console::Console&)> work);
  void SetBusy(bool busy);
  // Asks before ending when something is at stake; true to end.
  bool ConfirmExit();
  QTableWidget* GridOf(console::Grid grid) const;

  WindowOptions options_;
  WindowView view_;
  CommandRunner& runner_;
  console::Console* console_ = nullptr;
  bool activateOnReturn_ = false;  // a tool window was active since the console last was
  std::vector<QWidget*> toolWindows_;
  QTimer profileRunTimer_;
  bool placed_ = false;
  bool restored_ = false;  // the window came back as the user left it
  bool monitorFedByLineWatch_ = false;
  std::function<bool()> startGate_;
  bool closing_ = false;
  bool exitConfirmed_ = false;
  std::function<QString()> exitReasons_;

  QGroupBox* channelFrame_ = nullptr;
  QGroupBox* profileLogFrame_ = nullptr;
  QComboBox* channelSelect_ = nullptr;
  QComboBox* addressSelect_ = nullptr;
  QComboBox* nickNameSelect_ = nullptr;
  QComboBox* progressionSelect_ = nullptr;
  QTableWidget* compiledGrid_ = nullptr;
  QTableWidget* logGrid_ = nullptr;
  QTableWidget* memoryGrid_ = nullptr;
  QPushButton* logSizeButton_ = nullptr;
  QPushButton* memorySizeButton_ = nullptr;
  QPushButton* monitorButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QFrame* monitorLed_ = nullptr;
  QFrame* commLed_ = nullptr;
  QPlainTextEdit* prompt_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QButtonGroup* programMode_ = nullptr;
  std::vector<QGroupBox*> panels_;
  QSplitter* columns_ = nullptr;      // Channel Select | Compiled Profile, Profile Log | Program Memory
  QSplitter* promptSplit_ = nullptr;  // the columns over the message area
  QWidget* leftPane_ = nullptr;
  QWidget* middlePane_ = nullptr;
  QWidget* rightPane_ = nullptr;
  QList<int> narrowSizes_;  // the columns before a ">" widened one
  QMenu* viewMenu_ = nullptr;
  QDockWidget* trendDock_ = nullptr;
  std::vector<QDockWidget*> docks_;  // in the order added: Reset Window Layout puts them back so
  // Controls that start a controller command: disabled while one runs.
  std::vector<QWidget*> commandWidgets_;
  std::vector<QAction*> commandActions_;
  TrendView* trend_ = nullptr;

  // The controls Connect binds, kept as they are built.
  struct Controls {
    QAction *openProfile, *readRunState, *readControllerState, *clearController, *hardwareSettings, *singleSetPoint,
        *autoTuneOn, *autoTuneOff, *info, *reportBug, *exit;
    QAction *runModeMenu, *limitsMenu, *downloadMenu;  // the panels' menu entries
    QPushButton *compile, *upload, *select, *deleteEntry, *start, *pause, *restart, *jump, *setMode, *uploadLimits,
        *download, *readSettings, *writeSettings, *writeSetPoint, *clearDisplay;
    QLineEdit *jumpSegment, *jumpTime;
  } controls_{};
  std::map<console::Field, QLineEdit*> fields_;
};

}  // namespace tarvel::ui
