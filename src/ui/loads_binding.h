#pragma once
// ui: load records in the console. View > Loads... opens the Loads window; Start asks for the
// load's operator and fields first and leaves them for the line watch, which records the load
// when it sees the program run; a pause, restart, jump, run mode or set value leaves an action
// for the load's record (watch::LoadActionLog, on the command thread with a store of its own).
// A store of its own for the rest: it runs on the UI thread.

#include <QObject>
#include <QString>

#include <memory>

#include "store/config_store.h"
#include "util/app_folder.h"
#include "watch/load_start.h"

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
  int CurrentChannel() const;

  ConsoleWindow& window_;
  AppFolder folder_;
  store::ConfigStore store_;
  QString operator_;  // who started last, offered again
  // The run control's actions, written on the command thread: the console, which runs them,
  // goes before this binding.
  store::ConfigStore actionStore_;
  std::unique_ptr<watch::LoadActionLog> actions_;
  LoadsWindow* loads_ = nullptr;
};

}  // namespace tarvel::ui
