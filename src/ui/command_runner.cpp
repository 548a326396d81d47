#include "ui/command_runner.h"

namespace tarvel::ui {

CommandRunner::CommandRunner(QObject* parent) : QObject(parent), worker_(new QObject) {
  thread_.setObjectName("tarvel-commands");
  worker_->moveToThread(&thread_);
  connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
  thread_.start();
}

CommandRunner::~CommandRunner() { Shutdown(); }

void CommandRunner::Run(std::function<void()> work) {
  if (!thread_.isRunning()) return;
  if (pending_.fetch_add(1) == 0) emit busyChanged(true);
  QMetaObject::invokeMethod(
      worker_,
      [this, work = std::move(work)] {
        work();
        if (pending_.fetch_sub(1) == 1)
          QMetaObject::invokeMethod(this, [this] { if (!Busy()) emit busyChanged(false); }, Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void CommandRunner::Shutdown() {
  if (!thread_.isRunning()) return;
  thread_.quit();  // the work in hand finishes; queued work is dropped with the event loop
  thread_.wait();
  pending_ = 0;
}

}  // namespace tarvel::ui
