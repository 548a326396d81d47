#include "ui/window_placement.h"

#include <QDockWidget>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QWidget>

#include <algorithm>

namespace tarvel::ui {
namespace {

QString Key(const QWidget* widget, const char* what) { return widget->objectName() + "/" + what; }

// The frame around a window: what the window system says once it knows, never less than the guess.
QMargins FrameOf(const QWidget* window) {
  const QRect frame = window->frameGeometry(), inner = window->geometry();
  const QMargins known(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                       frame.bottom() - inner.bottom());
  return QMargins(std::max(known.left(), kFrameGuess.left()), std::max(known.top(), kFrameGuess.top()),
                  std::max(known.right(), kFrameGuess.right()), std::max(known.bottom(), kFrameGuess.bottom()));
}

// Shrinks the window to the room its frame leaves on the free area and moves it inside.
void FitInto(QWidget* window, const QRect& free, const QMargins& frame) {
  const QRect room = free.marginsRemoved(frame);
  const QSize size = window->size().boundedTo(room.size()).expandedTo(window->minimumSize());
  if (size != window->size()) window->resize(size);
  const QPoint at = window->geometry().topLeft();
  const int x = std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - size.width() + 1));
  const int y = std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() - size.height() + 1));
  if (QPoint(x, y) != at) window->move(x, y);
}

}  // namespace

QString PlacementFile(const QString& setupFolder) {
  return setupFolder.isEmpty() ? QString() : setupFolder + "/WindowPlaces.ini";
}

QRect FreeArea(const QWidget* window) {
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1366, 768);
}

bool RestorePlacement(QWidget* window, const QString& file, QSize preferred) {
  const QRect free = FreeArea(window);
  if (!file.isEmpty()) {
    QSettings settings(file, QSettings::IniFormat);
    const QByteArray geometry = settings.value(Key(window, "geometry")).toByteArray();
    if (!geometry.isEmpty() && window->restoreGeometry(geometry)) {
      // Kept on a larger screen, or before a panel was added: it must fit this one.
      FitInto(window, free, kFrameGuess);
      if (auto* main = qobject_cast<QMainWindow*>(window)) {
        main->restoreState(settings.value(Key(window, "state")).toByteArray());
        SettleDocks(main);
      }
      return true;
    }
  }
  const QRect room = free.marginsRemoved(kFrameGuess);
  const QSize size = preferred.boundedTo(room.size()).expandedTo(window->minimumSizeHint().boundedTo(room.size()));
  window->resize(size);
  window->move(room.x() + (room.width() - size.width()) / 2, room.y() + (room.height() - size.height()) / 2);
  return false;
}

void SavePlacement(QWidget* window, const QString& file) {
  if (file.isEmpty()) return;
  QSettings settings(file, QSettings::IniFormat);
  settings.setValue(Key(window, "geometry"), window->saveGeometry());
  if (auto* main = qobject_cast<QMainWindow*>(window)) settings.setValue(Key(window, "state"), main->saveState());
}

void KeepOnScreen(QWidget* window) {
  FitInto(window, FreeArea(window), FrameOf(window));
  if (auto* main = qobject_cast<QMainWindow*>(window)) SettleDocks(main);
}

void SettleDocks(QMainWindow* window) {
  const QRect free = FreeArea(window);
  // The menu bar's strip across the window, on the screen.
  const QRect menuStrip(window->geometry().topLeft(),
                        QSize(window->width(), std::max(window->menuBar()->sizeHint().height(), 1)));
  for (QDockWidget* dock : window->findChildren<QDockWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!dock->isFloating()) continue;
    const QRect decorated = dock->geometry().marginsAdded(FrameOf(dock));
    if (!free.contains(decorated) || decorated.intersects(menuStrip)) dock->setFloating(false);
  }
}

void RestoreSplitter(QSplitter* splitter, const QString& file) {
  if (file.isEmpty()) return;
  QSettings settings(file, QSettings::IniFormat);
  const QByteArray state = settings.value(Key(splitter->window(), "") + splitter->objectName()).toByteArray();
  if (!state.isEmpty()) splitter->restoreState(state);
}

void SaveSplitter(QSplitter* splitter, const QString& file) {
  if (file.isEmpty()) return;
  QSettings settings(file, QSettings::IniFormat);
  settings.setValue(Key(splitter->window(), "") + splitter->objectName(), splitter->saveState());
}

}  // namespace tarvel::ui
