#include "ui/window_placement.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QWidget>

namespace tarvel::ui {
namespace {

// Before a window is shown its frame is not known: room for a title bar and borders.
const QMargins kFrameGuess(4, 32, 4, 4);

QRect FreeArea(const QWidget* window) {
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1366, 768);
}

QString Key(const QWidget* widget, const char* what) { return widget->objectName() + "/" + what; }

}  // namespace

QString PlacementFile(const QString& setupFolder) {
  return setupFolder.isEmpty() ? QString() : setupFolder + "/WindowPlaces.ini";
}

bool RestorePlacement(QWidget* window, const QString& file, QSize preferred) {
  if (!file.isEmpty()) {
    QSettings settings(file, QSettings::IniFormat);
    const QByteArray geometry = settings.value(Key(window, "geometry")).toByteArray();
    if (!geometry.isEmpty() && window->restoreGeometry(geometry)) {
      if (auto* main = qobject_cast<QMainWindow*>(window))
        main->restoreState(settings.value(Key(window, "state")).toByteArray());
      return true;
    }
  }
  const QRect free = FreeArea(window).marginsRemoved(kFrameGuess);
  const QSize size = preferred.boundedTo(free.size()).expandedTo(window->minimumSizeHint().boundedTo(free.size()));
  window->resize(size);
  window->move(free.x() + (free.width() - size.width()) / 2, free.y() + (free.height() - size.height()) / 2);
  return false;
}

void SavePlacement(QWidget* window, const QString& file) {
  if (file.isEmpty()) return;
  QSettings settings(file, QSettings::IniFormat);
  settings.setValue(Key(window, "geometry"), window->saveGeometry());
  if (auto* main = qobject_cast<QMainWindow*>(window)) settings.setValue(Key(window, "state"), main->saveState());
}

void KeepOnScreen(QWidget* window) {
  const QRect free = FreeArea(window);
  const QRect frame = window->frameGeometry();
  const QRect inner = window->geometry();
  const QMargins margins(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                         frame.bottom() - inner.bottom());
  const QSize room = free.marginsRemoved(margins).size();
  if (inner.width() > room.width() || inner.height() > room.height())
    window->resize(window->size().boundedTo(room));
  QRect now = window->frameGeometry();
  int x = std::clamp(now.left(), free.left(), std::max(free.left(), free.right() - now.width() + 1));
  int y = std::clamp(now.top(), free.top(), std::max(free.top(), free.bottom() - now.height() + 1));
  if (x != now.left() || y != now.top()) window->move(x, y);
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
