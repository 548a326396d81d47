#pragma once
// ui: a view called from the command thread applies its changes on the window's thread.

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <utility>

namespace tarvel::ui {

template <class F>
void PostTo(QObject* window, F&& apply) {
  QMetaObject::invokeMethod(window, std::forward<F>(apply), Qt::QueuedConnection);
}

// Runs ask on the window's thread and waits for its answer (a message box).
template <class F>
auto AskOn(QObject* window, F&& ask) -> decltype(ask()) {
  if (QThread::currentThread() == window->thread()) return ask();
  decltype(ask()) answer{};
  QMetaObject::invokeMethod(
      window, [&] { answer = ask(); }, Qt::BlockingQueuedConnection);
  return answer;
}

}  // namespace tarvel::ui
