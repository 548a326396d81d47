#pragma once
// What a window test checks of any window on the 1366x768 test screen.
#include <QCoreApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace tarvel::ui {

// A window as a user on a 1366x768 screen sees it: the whole window, frame and menu bar, on the
// screen's free area; each named control shown whole inside the window, not cut by the frame it
// sits in and not squeezed below the size its content needs; no two of them overlapping unless
// one holds the other.
inline void ExpectLaidOut(QWidget& window, const std::vector<QString>& names) {
  QCoreApplication::processEvents();
  const QRect free = window.screen()->availableGeometry();
  EXPECT_TRUE(free.contains(window.frameGeometry()))
      << window.objectName().toStdString() << " frame " << window.frameGeometry().x() << ","
      << window.frameGeometry().y() << " " << window.frameGeometry().width() << "x"
      << window.frameGeometry().height() << " on " << free.width() << "x" << free.height();
  if (auto* main = qobject_cast<QMainWindow*>(&window)) {
    QMenuBar* bar = main->menuBar();
    for (QAction* menu : bar->actions()) {
      const QRect at = bar->actionGeometry(menu);
      EXPECT_TRUE(!at.isEmpty() && bar->rect().contains(at)) << "menu " << menu->text().toStdString();
    }
  }
  std::vector<std::pair<QWidget*, QRect>> placed;
  for (const QString& name : names) {
    QWidget* widget = window.findChild<QWidget*>(name);
    if (!widget) {
      ADD_FAILURE() << "no control " << name.toStdString();
      continue;
    }
    const std::string n = name.toStdString();
    EXPECT_TRUE(widget->isVisible()) << n;
    const QRect at(widget->mapTo(&window, QPoint(0, 0)), widget->size());
    EXPECT_TRUE(window.rect().contains(at)) << n << " outside the window";
    for (QWidget* holder = widget->parentWidget(); holder && holder != &window; holder = holder->parentWidget())
      EXPECT_TRUE(QRect(holder->mapTo(&window, QPoint(0, 0)), holder->size()).contains(at))
          << n << " cut by " << holder->objectName().toStdString();
    // What the layout must give it: its content's need, within the limits it was given.
    const QSize needed = widget->minimumSizeHint().boundedTo(widget->maximumSize()).expandedTo(widget->minimumSize());
    if (needed.isValid() && widget->sizePolicy().horizontalPolicy() != QSizePolicy::Ignored) {
      EXPECT_GE(at.width(), needed.width()) << n << " squeezed";
    }
    if (needed.isValid() && widget->sizePolicy().verticalPolicy() != QSizePolicy::Ignored) {
      EXPECT_GE(at.height(), needed.height()) << n << " squeezed";
    }
    placed.push_back({widget, at});
  }
  for (std::size_t i = 0; i < placed.size(); ++i)
    for (std::size_t j = i + 1; j < placed.size(); ++j) {
      auto [a, ra] = placed[i];
      auto [b, rb] = placed[j];
      if (a->isAncestorOf(b) || b->isAncestorOf(a)) continue;
      EXPECT_FALSE(ra.intersects(rb)) << a->objectName().toStdString() << " overlaps "
                                      << b->objectName().toStdString();
    }
}

}  // namespace tarvel::ui
