#pragma once
// ui: load records in the console. View > Loads... opens the Loads window; Start asks for the
// load's operator and fields first and leaves them for the line watch, which records the load
// when it sees the program run; a pause, restart, jump, run mode or set value that succeeded
// leaves an action for the load's record, made from the action's result. A store of its own:
// it runs on the UI thread.

#include <QObject>
#include <QString>

#include <memory>

#include "controller/run_control.h"
#include "store/config_store.h"
#include "util/app_folder.h"

namespace tarvel::console {
class Console;
}

namespace tarvel::ui {

class ConsoleWindow;
class LoadsWindow;

class LoadsBinding : public QObject {
  Q_OBJECT

 public:
  LoadsBinding(ConsoleWindow& window, console::Console& console, AppFolder folder);
  ~LoadsBinding() override;

  // The field dialog for the channel's start; false when the user cancelled or it could not be kept.
  bool AskStart(int channel);
  LoadsWindow* Window();

 private:
  // The action row of a result (watch::ActionRowOf), with who is at the console.
  void Record(const controller::RunActionResult& result);
  int CurrentChannel() const;

  ConsoleWindow& window_;
  AppFolder folder_;
  store::ConfigStore store_;
  QString operator_;  // who started last, offered again
  LoadsWindow* loads_ = nullptr;
};

}  // namespace tarvel::ui
