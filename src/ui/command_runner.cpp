#include "ui/command_runner.h"

#include <QTimer>

namespace tarvel::ui {

CommandRunner::CommandRunner(QObject* parent) : QObject(parent), worker_(new QObject) {
  thread_.setObjectName("tarvel-commands");
  backgroundTimer_ = new QTimer(worker_);  // moves with the worker
  backgroundTimer_->setSingleShot(true);
  worker_->moveToThread(&thread_);
  connect(backgroundTimer_, &QTimer::timeout, worker_, [this] { ScheduleBackground(std::chrono::milliseconds(0)); });
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
        commandCameBetween_ = true;
        if (pending_.fetch_sub(1) == 1)
          QMetaObject::invokeMethod(
              this,
              [this] {
                if (!Busy()) emit busyChanged(false);
              },
              Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void CommandRunner::SetBackground(BackgroundStep step) {
  if (!thread_.isRunning()) return;
  QMetaObject::invokeMethod(
      worker_,
      [this, step = std::move(step)]() mutable {
        background_ = std::move(step);
        commandCameBetween_ = false;
        backgroundTimer_->stop();
        if (background_) ScheduleBackground(std::chrono::milliseconds(0));
      },
      Qt::QueuedConnection);
}

void CommandRunner::ScheduleBackground(std::chrono::milliseconds wait) {
  if (!background_ || stopping_) return;
  if (wait > std::chrono::milliseconds(0)) {
    backgroundTimer_->start(wait);
    return;
  }
  if (backgroundScheduled_) return;
  backgroundScheduled_ = true;
  // Posted behind whatever commands are queued now: they run first.
  QMetaObject::invokeMethod(
      worker_,
      [this] {
        backgroundScheduled_ = false;
        if (!background_ || stopping_) return;
        const bool between = commandCameBetween_;
        commandCameBetween_ = false;
        ScheduleBackground(background_(between));
      },
      Qt::QueuedConnection);
}

void CommandRunner::Shutdown() {
  if (!thread_.isRunning()) return;
  stopping_ = true;  // the background step in hand finishes; no other starts
  thread_.quit();    // the work in hand finishes; queued work is dropped with the event loop
  thread_.wait();
  pending_ = 0;
}

}  // namespace tarvel::ui
