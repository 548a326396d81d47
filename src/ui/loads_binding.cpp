#include "ui/loads_binding.h"

#include <pwd.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include "ui/console_window.h"
#include "ui/load_fields_dialog.h"
#include "ui/loads_window.h"
#include "watch/load_start.h"

namespace tarvel::ui {

LoadsBinding::LoadsBinding(ConsoleWindow& window, AppFolder folder)
    : QObject(&window), window_(window), folder_(folder), store_(folder.ConfigDatabase()) {
  if (const passwd* user = getpwuid(getuid())) operator_ = user->pw_name;
  QAction* show = window.ViewMenu()->addAction("Loads...");
  show->setObjectName("mnuLoads");
  connect(show, &QAction::triggered, this, [this] {
    Window()->show();
    loads_->raise();
  });
  window.SetStartGate([this] { return AskStart(CurrentChannel()); });

  auto clicked = [&](const char* button, auto slot) {
    if (auto* b = window.findChild<QPushButton*>(button)) connect(b, &QPushButton::clicked, this, slot);
  };
  auto text = [this](const char* name) {
    auto* edit = window_.findChild<QLineEdit*>(name);
    return edit ? edit->text() : QString();
  };
  clicked("PauseProfileButton", [this] { Act("pause", "Pause Profile", "mode 0"); });
  clicked("RestartProfileButton", [this] { Act("restart", "Restart Profile", ""); });
  clicked("JumpToSegmentPointButton",
          [this, text] { Act("jump", "Jump", "segment " + text("JumpToSegment") + ", time " + text("JumpToTime")); });
  clicked("SetRunModeButton", [this] { Act("mode", "Set Run Mode", ""); });
  clicked("UpLoadSetValueButton", [this, text] { Act("set value", "Set Value", text("SingleSetPointDisplay")); });
}

LoadsBinding::~LoadsBinding() = default;

LoadsWindow* LoadsBinding::Window() {
  if (!loads_) {
    loads_ = new LoadsWindow(folder_, &window_);
    loads_->setWindowFlag(Qt::Window);
  }
  return loads_;
}

int LoadsBinding::CurrentChannel() const {
  auto* channel = window_.findChild<QComboBox*>("ProfileChannelNumberDisplay");
  return channel ? channel->currentText().toInt() : 0;
}

bool LoadsBinding::AskStart(int channel) {
  LoadFieldsDialog dialog(watch::ReadFieldRules(folder_), operator_, &window_);
  if (dialog.exec() != QDialog::Accepted) return false;
  operator_ = QString::fromStdString(dialog.OperatorName());
  const Status kept = watch::RequestLoadStart(folder_, store_, {channel}, dialog.OperatorName(), dialog.Fields(),
                                              "console", watch::SystemClock::now());
  if (!kept.ok()) QMessageBox::warning(&window_, "Tarvel", QString::fromStdString(kept.message()));
  return kept.ok();
}

void LoadsBinding::Act(const char* kind, const QString& what, const QString& newValue) {
  const int channel = CurrentChannel();
  if (channel <= 0) return;
  const Status added = store_.AddLoadAction(watch::ActionRow(channel, kind, operator_.toStdString(), what.toStdString(),
                                                             "", newValue.toStdString(), watch::SystemClock::now()));
  if (!added.ok()) QMessageBox::warning(&window_, "Tarvel", QString::fromStdString("The load record will miss this action: " + added.message()));
}

}  // namespace tarvel::ui
