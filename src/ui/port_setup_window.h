#pragma once
// ui: the serial port set-up window "Communications Port Setup" (CommSetUp). Binds its
// widgets to console::PortSetup; the scan and "Use This Setting" run on the shared command
// runner, the "<" and ">" selection on the window's thread.

#include <QMainWindow>

#include "console/port_setup.h"
#include "ui/command_runner.h"

class QGroupBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace tarvel::ui {

class PortSetupWindow : public QMainWindow, public console::PortSetupView {
  Q_OBJECT

 public:
  // placementFile keeps where the user leaves the window (empty: not kept).
  explicit PortSetupWindow(CommandRunner& runner, QWidget* parent = nullptr, QString placementFile = {});
  // The workflow is built on this window's view; bind it before the window is shown.
  void Bind(console::PortSetup& setup) { setup_ = &setup; }
  // The ports the home's line service serves, asked each time the window opens (on the command
  // runner: the answer may take a moment). Without it, no service is looked for.
  void SetServedPorts(std::function<std::vector<std::string>()> served) { served_ = std::move(served); }

  // --- PortSetupView: any thread
  void ShowMessages(const std::string& text) override;
  void ShowPort(int number, const std::string& device) override;
  void SetProgress(int done, int total) override;
  void ShowPorts(const std::vector<console::PortEntry>& ports) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QGroupBox* ScanFrame();     // Scan Ports, Cancel and the scan's progress
  QGroupBox* SelectFrame();   // the port list, the served ports, the number with < and >, Use This Setting
  QGroupBox* MessageFrame();  // the port messages and Clear
  void Command(std::function<void(console::PortSetup&)> work);
  void SetBusy(bool busy);
  void ShowServed(const std::vector<std::string>& ports);

  CommandRunner& runner_;
  console::PortSetup* setup_ = nullptr;
  std::function<std::vector<std::string>()> served_;
  std::vector<std::string> servedPorts_;
  QLabel* servedLabel_ = nullptr;  // which ports the line service holds
  QString placementFile_;
  bool placed_ = false;
  QListWidget* list_ = nullptr;  // the ports, clicked to choose one
  QLabel* number_ = nullptr;
  QLabel* device_ = nullptr;
  QPlainTextEdit* prompt_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* scan_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* use_ = nullptr;
};

}  // namespace tarvel::ui
