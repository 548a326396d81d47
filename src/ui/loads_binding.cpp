#include "ui/loads_binding.h"

#include <pwd.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>

#include "console/console.h"
#include "ui/console_window.h"
#include "ui/load_fields_dialog.h"
#include "ui/loads_window.h"
#include "watch/load_start.h"

namespace tarvel::ui {

LoadsBinding::LoadsBinding(ConsoleWindow& window, console::Console& console, AppFolder folder)
    : QObject(&window),
      window_(window),
      folder_(folder),
      store_(folder.ConfigDatabase()),
      actionStore_(folder.ConfigDatabase()) {
  if (const passwd* user = getpwuid(getuid())) operator_ = user->pw_name;
  QAction* show = window.ViewMenu()->addAction("Loads...");
  show->setObjectName("mnuLoads");
  connect(show, &QAction::triggered, this, [this] {
    Window()->show();
    loads_->raise();
  });
  window.SetStartGate([this] { return AskStart(CurrentChannel()); });

  actions_ = std::make_unique<watch::LoadActionLog>(
      actionStore_, operator_.toStdString(), [self = QPointer<LoadsBinding>(this)](const std::string& problem) {
        QMetaObject::invokeMethod(
            self,
            [self, problem] {
              if (self) QMessageBox::warning(&self->window_, "Tarvel", QString::fromStdString(problem));
            },
            Qt::QueuedConnection);
      });
  console.RunControls().Observe(actions_.get());
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
  actions_->SetWho(dialog.OperatorName());
  const Status kept = watch::RequestLoadStart(folder_, store_, {channel}, dialog.OperatorName(), dialog.Fields(),
                                              "console", watch::SystemClock::now());
  if (!kept.ok()) QMessageBox::warning(&window_, "Tarvel", QString::fromStdString(kept.message()));
  return kept.ok();
}

}  // namespace tarvel::ui
