// tarvel: the main console. Composition root: folders, store, line, window; ordered shutdown.
#include <QApplication>
#include <QCommandLineParser>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <iostream>
#include <optional>
#include <string_view>

#include "console/channel_map.h"
#include "console/console.h"
#include "console/port_setup.h"
#include "demo_line.h"
#include "gui_line.h"
#include "link/modbus_rtu_line.h"
#include "store/home.h"
#include "ui/channel_map_window.h"
#include "ui/chart_view.h"
#include "ui/command_runner.h"
#include "ui/console_window.h"
#include "ui/edit_chart.h"
#include "ui/line_overview.h"
#include "ui/line_watch_binding.h"
#include "ui/loads_binding.h"
#include "ui/port_setup_window.h"
#include "ui/profile_editor_window.h"
#include "ui/trend_view.h"
#include "ui/window_placement.h"
#include "watch/line_watch.h"

using namespace tarvel;

namespace tarvel::app {

// tarvel --editor [FILE] [--log LOG]: the profile editor on its own, without the console or a
// line; its chart shows the log over the profile when one is given.
int RunEditorOnly(const AppFolder& folder, const std::vector<std::string>& problems, const QStringList& files,
                  const QString& logFile, const QString& screenshot) {
  ui::ProfileEditorWindow editor(folder);
  for (const auto& problem : problems) std::cerr << problem << "\n";
  if (!files.isEmpty()) editor.OpenProfileFile(files.front());
  if (!logFile.isEmpty()) editor.Chart().LoadLogFile(logFile);
  editor.show();
  if (!screenshot.isEmpty()) {
    QTimer::singleShot(300, &editor, [&editor, screenshot] {
      const bool saved = editor.grab().save(screenshot, "PNG");
      std::cerr << (saved ? "saved " : "could not save ") << screenshot.toStdString() << "\n";
      QApplication::exit(saved ? 0 : 1);
    });
  }
  return QApplication::exec();
}

// An application folder or database that cannot be used: said in a box (and on stderr) with
// its path and reason, and the program ends before any window opens.
int StartupFailure(const std::string& why, bool quiet) {
  std::cerr << why << "\n";
  if (!quiet) QMessageBox::critical(nullptr, "Tarvel", QString::fromStdString(why));
  return 1;
}

}  // namespace tarvel::app

namespace {

// The command line: kept apart from the application object, so that --help and --version are
// answered without a display.
struct Options {
  QCommandLineParser parser;
  QCommandLineOption home{"home", "Application folder (default $XDG_DATA_HOME/tarvel).", "DIR"};
  QCommandLineOption simulate{"simulate", "Use the built-in simulated line of four controllers."};
  QCommandLineOption port{"port", "Serial device of the controller line.", "DEVICE"};
  QCommandLineOption screenshot{"screenshot", "Save a PNG of the console (or the editor) after start-up and quit.",
                                "FILE"};
  QCommandLineOption editor{"editor", "Open only the profile editor, on FILE when given."};
  // What the picture scripts need of the editor and the console.
  QCommandLineOption log{"log", "With --editor: a temperature log file to show over the profile.", "LOG"};
  QCommandLineOption speed{"speed", "With --simulate: simulated time runs N times faster (default 60).", "N"};
  QCommandLineOption monitor{"monitor", "Turn monitoring on at start, reading every MS milliseconds.", "MS"};
  QCommandLineOption readings{"readings", "With --screenshot and --monitor: wait for N trend points.", "N"};
  QCommandLineOption push{"push-out-of-band",
                          "With --simulate: after MS milliseconds the kiln runs 60 degrees above its design.", "MS"};

  Options() {
    parser.setApplicationDescription("Runs ramp-and-soak temperature profiles on process temperature controllers.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({home, simulate, port, screenshot, editor});
    parser.addPositionalArgument("FILE", "With --editor: the profile file to open.", "[FILE]");
    parser.addOptions({log, speed, monitor, readings, push});
  }
};

bool AsksHelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "-?" || arg == "--help-all" || arg == "--version" || arg == "-v")
      return true;
  }
  return false;
}

void Name() {
  QCoreApplication::setApplicationName("Tarvel");
  QCoreApplication::setApplicationVersion(TARVEL_VERSION);
}

// A wrong command line is said before any window system is asked for, so it never aborts in a
// terminal without a display. The reason, when it is wrong.
std::optional<std::string> CommandLineProblem(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  Options options;
  if (options.parser.parse(arguments)) return std::nullopt;
  return options.parser.errorText().toStdString();
}

// Qt ends the process when its window system cannot be reached: said plainly instead.
bool NoDisplay() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  for (const char* headless : {"offscreen", "minimal", "vnc", "eglfs", "linuxfb", "vkkhrdisplay"})
    if (platform.startsWith(headless)) return false;
  if (platform.startsWith("wayland")) return qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
  if (platform.startsWith("xcb")) return qEnvironmentVariableIsEmpty("DISPLAY");
  return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// --help, --version, a wrong command line and a missing display are answered before any window
// system is asked for: the exit code, when one of them ends the program.
std::optional<int> AnswerWithoutWindows(int argc, char** argv) {
  if (AsksHelpOrVersion(argc, argv)) {
    QCoreApplication core(argc, argv);  // no window system: this works without a display
    Name();
    Options options;
    options.parser.process(core);  // prints the text and exits
    return 0;
  }
  if (auto problem = CommandLineProblem(argc, argv)) {
    std::cerr << "tarvel: " << *problem << "\nTry 'tarvel --help' for the options.\n";
    return 1;
  }
  if (NoDisplay()) {
    std::cerr << "tarvel: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                 "Start it from a desktop session, or use tarvel-cli, which needs none.\n";
    return 1;
  }
  return std::nullopt;
}

// The line the console works on: the built-in simulated one, the --port device, or the port
// chosen in the set-up. What went wrong is added to problems.
struct LineChoice {
  std::unique_ptr<sim::SimulatedLine> simulator;
  std::string device;
  bool storedDeviceGone = false;  // the adapter of the stored port has gone (unplugged, renamed)
};

LineChoice OpenLine(const Options& options, const AppFolder& folder, store::ConfigStore& store,
                    link::ModbusRtuLine& line, std::vector<std::string>& problems) {
  const QCommandLineParser& parser = options.parser;
  LineChoice choice;
  const bool simulated = parser.isSet(options.simulate);
  if (simulated) {
    std::string why;
    choice.simulator =
        app::StartDemoLine(why, parser.isSet(options.speed) ? parser.value(options.speed).toDouble() : 60);
    if (choice.simulator) {
      choice.device = choice.simulator->DevicePath();
      if (Status seeded = app::SeedDemoChannels(store, *choice.simulator, folder); !seeded)
        problems.push_back("The simulated controllers could not be stored in " + folder.ConfigDatabase().string() +
                           ": " + seeded.message());
      app::SeedDemoProfiles(folder);
    } else {
      problems.push_back("The simulated line could not start: " + why);
    }
  } else if (parser.isSet(options.port)) {
    choice.device = parser.value(options.port).toStdString();
  }
  if (!choice.device.empty()) {
    if (auto opened = line.Open(choice.device); !opened.ok()) problems.push_back(opened.message);
  } else if (!simulated) {
    // Without --port the device chosen in the port set-up is used.
    if (auto opened = console::OpenStoredPort(store, line); opened && !opened->ok()) {
      problems.push_back(opened->message);
      choice.storedDeviceGone = true;
    }
    choice.device = line.DevicePath();
  }
  return choice;
}

// The tool windows beside the console, each bound to its room on the shared command runner.
struct PortSetupTool {
  ui::PortSetupWindow window;
  console::PortSetup setup;
  PortSetupTool(ui::CommandRunner& runner, ui::ConsoleWindow& console, const QString& places, const AppFolder& folder,
                store::ConfigStore& store, link::ModbusRtuLine& line, const LineChoice& chosen)
      : window(runner, &console, places), setup(store, line, window) {
    window.setWindowFlag(Qt::Window);
    if (chosen.simulator) setup.SetSimulatedDevice(chosen.device);
    window.Bind(setup);
    window.SetServedPorts([folder] { return app::ServedPorts(folder); });
  }
};

struct ChannelMapTool {
  ui::ChannelMapWindow window;
  console::ChannelMap map;
  ChannelMapTool(ui::CommandRunner& runner, ui::ConsoleWindow& console, const QString& places, const AppFolder& folder,
                 store::ConfigStore& store, link::ModbusRtuLine& line, app::ConsoleLine& consoleLine)
      : window(runner, &console, places), map(folder, store, line, window) {
    window.setWindowFlag(Qt::Window);
    window.Bind(map);
    if (auto* remote = consoleLine.Remote())  // the service's port: scans and address changes go through it
      map.Through(*remote, [remote](std::uint8_t address) { return remote->ProbeUnit(address); });
  }
};

// The demo's fault, kept out of the line's I/O path: the simulator is told directly.
void AddSimulatedLineMenu(ui::ConsoleWindow& window, sim::SimulatedLine& simulator, const Options& options) {
  auto* simMenu = new QMenu("Simulated Line", &window);
  simMenu->setObjectName("mnuSimulatedLine");
  window.menuBar()->insertMenu(window.findChild<QAction*>("mnuExit"), simMenu);
  QAction* push = simMenu->addAction("Push Kiln Out of Band");
  push->setObjectName("mnuPushOutOfBand");
  push->setCheckable(true);
  QObject::connect(push, &QAction::toggled, &window,
                   [sim = &simulator](bool on) { app::ShiftKilnProgram(*sim, on ? 60 : 0); });
  if (options.parser.isSet(options.push))
    QTimer::singleShot(options.parser.value(options.push).toInt(), push, [push] { push->setChecked(true); });
}

// --monitor: monitoring on once start-up is done, the line watch sweeping at the interval.
void StartMonitoring(ui::ConsoleWindow& window, ui::LineWatchBinding& binding, int intervalMs) {
  window.findChild<QTimer*>("ProfileRunTimer")->setInterval(std::max(100, intervalMs));
  // The monitor shows the line watch's readings: the sweep takes the interval (not kept).
  ui::LineWatchOptions quick = binding.Options();
  quick.watch.period = std::chrono::milliseconds(std::max(100, intervalMs));
  binding.Apply(quick);
  // Once start-up is done; the button then keeps the interval set here.
  auto* once = new QObject(&window);
  QObject::connect(&window, &ui::ConsoleWindow::commandsIdle, once, [&window, once] {
    delete once;
    window.findChild<QPushButton*>("MonitorRunStateButton")->click();
  });
}

// What went wrong on the way up, in boxes once the console shows; a stored port that has gone
// offers the port set-up.
void SayStartupProblems(ui::ConsoleWindow& window, const std::vector<std::string>& problems, bool quiet,
                        bool storedDeviceGone, ui::PortSetupWindow& portWindow) {
  for (const auto& problem : problems) {
    std::cerr << problem << "\n";
    if (!quiet) QMessageBox::warning(&window, "Tarvel", QString::fromStdString(problem));
  }
  if (storedDeviceGone && !quiet &&
      QMessageBox::question(&window, "Tarvel", "Open the Communications Port Setup to choose another port?") ==
          QMessageBox::Yes)
    portWindow.show();
}

void OpenEditorOnRequest(ui::ConsoleWindow& window, std::unique_ptr<ui::ProfileEditorWindow>& editor,
                         const AppFolder& folder) {
  QObject::connect(&window, &ui::ConsoleWindow::editProfileRequested, &window, [&editor, &folder] {
    // A closed editor starts afresh, as it loads again: discarded edits do not come back.
    if (!editor || !editor->isVisible()) editor = std::make_unique<ui::ProfileEditorWindow>(folder);
    editor->show();
    editor->raise();
    editor->activateWindow();
  });
}

// --screenshot runs unattended: a box the console shows (a first start's empty channel map) is
// written to stderr and answered -- Cancel where it asks, so nothing is done on no one's word.
void AnswerBoxesOnStderr(QWidget& window) {
  auto* timer = new QTimer(&window);
  QObject::connect(timer, &QTimer::timeout, &window, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    std::cerr << box->windowTitle().toStdString() << ": "
              << box->text().replace("\r\n", " ").replace('\n', ' ').toStdString() << "\n";
    if (auto* answer =
            box->button(QMessageBox::Cancel) ? box->button(QMessageBox::Cancel) : box->button(QMessageBox::Ok))
      answer->click();
    else
      box->reject();
  });
  timer->start(50);
}

// --screenshot: the window saved once start-up is done (or once the trend has --readings points), then the end.
void SaveScreenshotWhenReady(ui::ConsoleWindow& window, const Options& options,
                             std::chrono::steady_clock::time_point started) {
  const QCommandLineParser& parser = options.parser;
  const QString file = parser.value(options.screenshot);
  if (parser.isSet(options.readings)) {
    const std::size_t wanted = std::max(1, parser.value(options.readings).toInt());
    QObject::connect(window.Trend(), &ui::TrendView::pointAdded, &window, [&window, file, wanted] {
      if (window.Trend()->PointCount() != wanted) return;
      const bool saved = window.grab().save(file, "PNG");
      std::cerr << (saved ? "saved " : "could not save ") << file.toStdString() << "\n";
      QApplication::exit(saved ? 0 : 1);
    });
    return;
  }
  auto since = [started] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  };
  // The first pass of the event loop paints the window: that is when a user sees it.
  QTimer::singleShot(0, &window, [since] { std::cerr << "window shown after " << since() << " ms\n"; });
  QObject::connect(&window, &ui::ConsoleWindow::commandsIdle, &window, [&window, file, since] {
    std::cerr << "start-up reading done after " << since() << " ms\n";
    // Let the posted read-outs paint before the grab.
    QTimer::singleShot(200, &window, [&window, file] {
      const bool saved = window.grab().save(file, "PNG");
      std::cerr << (saved ? "saved " : "could not save ") << file.toStdString() << "\n";
      QApplication::exit(saved ? 0 : 1);
    });
  });
}

}  // namespace

int main(int argc, char** argv) {
  const auto started = std::chrono::steady_clock::now();
  if (auto answered = AnswerWithoutWindows(argc, argv)) return *answered;
  QApplication application(argc, argv);
  Name();
  Options options;
  options.parser.process(application);
  const QCommandLineParser& parser = options.parser;
  const bool quiet = parser.isSet(options.screenshot);

  AppFolder folder(parser.isSet(options.home) ? std::filesystem::path(parser.value(options.home).toStdString())
                                              : AppFolder::DefaultRoot());
  const store::HomeReport home = store::PrepareHome(folder);
  if (!home.fatal.ok()) return app::StartupFailure(home.fatal.message(), quiet);
  std::vector<std::string> problems = home.problems;
  ui::ChartView::SetStartFolder(QString::fromStdString(folder.Root().string()));  // then where the user saves
  if (parser.isSet(options.editor))
    return app::RunEditorOnly(folder, problems, parser.positionalArguments(), parser.value(options.log),
                              parser.value(options.screenshot));
  store::ConfigStore store(folder.ConfigDatabase());
  if (!store.OpenStatus().ok()) return app::StartupFailure(store.OpenStatus().message(), quiet);

  link::ModbusRtuLine line;
  LineChoice chosen = OpenLine(options, folder, store, line, problems);
  const bool simulated = parser.isSet(options.simulate);
  app::ConsoleLine consoleLine(folder, chosen.device, line, problems, chosen.storedDeviceGone);

  // One command thread for every window: their exchanges never interleave on the line.
  ui::CommandRunner runner;
  const QString places = ui::PlacementFile(QString::fromStdString(folder.Setup().string()));
  ui::ConsoleWindow window(
      {simulated, QString::fromStdString(chosen.device), QString::fromStdString(folder.Profiles().string()), places},
      runner);
  console::Console console(folder, store, consoleLine.Line(), window.View(),
                           {simulated || parser.isSet(options.port), simulated});
  PortSetupTool portSetup(runner, window, places, folder, store, line, chosen);
  ChannelMapTool channelMap(runner, window, places, folder, store, line, consoleLine);
  channelMap.window.SetPortSetupWindow(&portSetup.window);
  window.AddToolWindow("mnuSetupCommPort", &portSetup.window);
  window.AddToolWindow("mnuChannelMap", &channelMap.window);

  // The line watch: every mapped controller read in turn between commands, on the one line;
  // the overview docks on the console. The binding belongs to the window.
  watch::LineWatch lineWatch(folder, store, consoleLine.Line());
  consoleLine.Watch(lineWatch);  // served: the service's readings, and its records
  auto* lineWatchBinding = new ui::LineWatchBinding(window, console, lineWatch, folder);
  new ui::LoadsBinding(window, console, folder);  // the line watch records the loads; the window asks and lists
  if (chosen.simulator) {
    // On the simulated line, answering the start-code box stands for the operator's keys.
    console.RunControls().SetFrontPanelStart(
        [sim = chosen.simulator.get()](std::uint8_t address) { sim->FrontPanelStart(address); });
    AddSimulatedLineMenu(window, *chosen.simulator, options);
  }
  window.show();
  if (quiet) AnswerBoxesOnStderr(window);
  SayStartupProblems(window, problems, quiet, chosen.storedDeviceGone, portSetup.window);
  window.Start(console);
  lineWatchBinding->Start();
  std::unique_ptr<ui::ProfileEditorWindow> editor;  // opened modeless from "Edit Profile"
  OpenEditorOnRequest(window, editor, folder);
  if (parser.isSet(options.monitor)) StartMonitoring(window, *lineWatchBinding, parser.value(options.monitor).toInt());
  if (quiet) SaveScreenshotWhenReady(window, options, started);

  const int exitCode = QApplication::exec();
  runner.Shutdown();  // the exchange in progress ends before the line goes
  line.Close();
  chosen.simulator.reset();
  return exitCode;
}
