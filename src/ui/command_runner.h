#pragma once
// ui: runs console work on one worker thread, in order, one piece at a time, so the window
// stays responsive while a controller exchange is under way.

#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>

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

 signals:
  void busyChanged(bool busy);

 private:
  QThread thread_;
  QObject* worker_;  // lives on thread_: work is posted to it
  std::atomic<int> pending_{0};
};

}  // namespace tarvel::ui
