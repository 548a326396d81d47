#pragma once
// ui: runs console work on one worker thread, in order, one piece at a time, so the window
// stays responsive while a controller exchange is under way.

#include <QObject>
#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>

class QTimer;

namespace tarvel::ui {

class CommandRunner : public QObject {
  Q_OBJECT

 public:
  explicit CommandRunner(QObject* parent = nullptr);
  ~CommandRunner() override;

  // Queues work for the worker thread. busyChanged(true) is emitted when the runner leaves
  // idle, busyChanged(false) when the last queued work has finished.
  void Run(std::function<void()> work);
  bool Busy() const { return pending_.load() > 0; }
  // Lets the running work finish, drops whatever is still queued and stops the thread.
  void Shutdown();

  // Background work between commands, one short step at a time (the line watch: one exchange
  // per step). A command queued while a step runs goes before the next step, so it waits at
  // most for that one step. A step is told whether a command ran since the step before it, and
  // gives the time to wait before the next (zero: at once). Background work does not make the
  // runner Busy. Empty work stops it.
  using BackgroundStep = std::function<std::chrono::milliseconds(bool commandCameBetween)>;
  void SetBackground(BackgroundStep step);

 signals:
  void busyChanged(bool busy);

 private:
  QThread thread_;
  void ScheduleBackground(std::chrono::milliseconds wait);  // on the worker thread

  QObject* worker_;  // lives on thread_: work is posted to it
  std::atomic<int> pending_{0};
  std::atomic<bool> stopping_{false};
  // Worker thread only, apart from SetBackground's hand-over.
  BackgroundStep background_;
  bool commandCameBetween_ = false;
  bool backgroundScheduled_ = false;
  QTimer* backgroundTimer_ = nullptr;  // lives on thread_
};

}  // namespace tarvel::ui
