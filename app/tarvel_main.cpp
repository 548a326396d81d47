// tarvel: the main console. Composition root: folders, store, line, window; ordered shutdown.
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <iostream>

#include "console/console.h"
#include "demo_line.h"
#include "link/modbus_rtu_line.h"
#include "store/home.h"
#include "ui/console_window.h"
#include "ui/profile_editor_window.h"

using namespace tarvel;

namespace tarvel::app {

// tarvel --editor [FILE]: the profile editor on its own, without the console or a line.
int RunEditorOnly(const AppFolder& folder, const std::vector<std::string>& problems, const QStringList& files,
                  const QString& screenshot) {
  ui::ProfileEditorWindow editor(folder);
  for (const auto& problem : problems) std::cerr << problem << "\n";
  if (!files.isEmpty()) editor.OpenProfileFile(files.front());
  editor.show();
  if (!screenshot.isEmpty()) {
    QTimer::singleShot(200, &editor, [&editor, screenshot] {
      const bool saved = editor.grab().save(screenshot, "PNG");
      std::cerr << (saved ? "saved " : "could not save ") << screenshot.toStdString() << "\n";
      QApplication::exit(saved ? 0 : 1);
    });
  }
  return QApplication::exec();
}

}  // namespace tarvel::app

int main(int argc, char** argv) {
  const auto started = std::chrono::steady_clock::now();
  QApplication application(argc, argv);
  QApplication::setApplicationName("Tarvel");
  QApplication::setApplicationVersion(TARVEL_VERSION);

  QCommandLineParser parser;
  parser.setApplicationDescription("Runs ramp-and-soak temperature profiles on process temperature controllers.");
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption homeOption("home", "Application folder (default $XDG_DATA_HOME/tarvel).", "DIR");
  QCommandLineOption simulateOption("simulate", "Use the built-in simulated line of two controllers.");
  QCommandLineOption portOption("port", "Serial device of the controller line.", "DEVICE");
  QCommandLineOption screenshotOption("screenshot", "Save a PNG of the console after start-up and quit.", "FILE");
  QCommandLineOption editorOption("editor", "Open only the profile editor, on FILE when given.");
  parser.addOptions({homeOption, simulateOption, portOption, screenshotOption, editorOption});
  parser.addPositionalArgument("FILE", "With --editor: the profile file to open.", "[FILE]");
  parser.process(application);

  AppFolder folder(parser.isSet(homeOption) ? std::filesystem::path(parser.value(homeOption).toStdString())
                                            : AppFolder::DefaultRoot());
  std::vector<std::string> problems = store::PrepareHome(folder).problems;
  if (parser.isSet(editorOption)) return app::RunEditorOnly(folder, problems, parser.positionalArguments(),
                                                            parser.value(screenshotOption));
  store::ConfigStore store(folder.ConfigDatabase());

  const bool simulated = parser.isSet(simulateOption);
  std::unique_ptr<sim::SimulatedLine> simulator;
  std::string device;
  if (simulated) {
    std::string why;
    simulator = app::StartDemoLine(why);
    if (simulator) {
      device = simulator->DevicePath();
      app::SeedDemoChannels(store, *simulator, folder);
      app::SeedDemoProfiles(folder);
    } else {
      problems.push_back("The simulated line could not start: " + why);
    }
  } else if (parser.isSet(portOption)) {
    device = parser.value(portOption).toStdString();
  } else if (auto port = store.Port(); port.ok() && port->has_value()) {
    device = (*port)->devicePath;
  }

  link::ModbusRtuLine line;
  if (!device.empty()) {
    if (auto opened = line.Open(device); !opened.ok()) problems.push_back(opened.message);
  }

  ui::ConsoleWindow window({simulated, QString::fromStdString(device), QString::fromStdString(folder.Profiles().string())});
  console::Console console(folder, store, line, window.View(),
                           {simulated || parser.isSet(portOption), simulated});
  // On the simulated line, answering the start-code box stands for the operator's keys.
  if (simulator)
    console.Run().SetFrontPanelStart([sim = simulator.get()](std::uint8_t address) { sim->FrontPanelStart(address); });
  window.show();
  for (const auto& problem : problems) {
    std::cerr << problem << "\n";
    if (!parser.isSet(screenshotOption)) QMessageBox::warning(&window, "Tarvel", QString::fromStdString(problem));
  }
  window.Start(console);
  std::unique_ptr<ui::ProfileEditorWindow> editor;  // opened modeless from "Edit Profile"
  QObject::connect(&window, &ui::ConsoleWindow::editProfileRequested, &window, [&editor, &folder] {
    // A closed editor starts afresh, as it loads again: discarded edits do not come back.
    if (!editor || !editor->isVisible()) editor = std::make_unique<ui::ProfileEditorWindow>(folder);
    editor->show();
    editor->raise();
    editor->activateWindow();
  });

  if (parser.isSet(screenshotOption)) {
    auto since = [started] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    };
    // The first pass of the event loop paints the window: that is when a user sees it.
    QTimer::singleShot(0, &window, [since] { std::cerr << "window shown after " << since() << " ms\n"; });
    const QString file = parser.value(screenshotOption);
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

  const int exitCode = QApplication::exec();
  window.Runner().Shutdown();  // the exchange in progress ends before the line goes
  line.Close();
  simulator.reset();
  return exitCode;
}
