#pragma once
// What a window test checks of any window on the laptop test screens.
#include <QCoreApplication>
#include <QMainWindow>
#include <QMargins>
#include <QMenuBar>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace tarvel::ui {

// The frame a desktop's window manager draws around a window: the offscreen platform draws 2 px.
inline constexpr QMargins kDesktopFrame(6, 38, 6, 6);

// A control by its name; a missing one fails the test.
template <class T>
T* Find(QWidget& window, const char* name) {
  T* widget = window.findChild<T*>(name);
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

// Control names written as one list, separated by spaces.
inline std::vector<QString> Names(const char* spaced) {
  const QStringList names = QString(spaced).split(' ', Qt::SkipEmptyParts);
  return {names.begin(), names.end()};
}

// A window as a user on a laptop screen sees it: the whole window, a desktop's frame and the
// menu bar, on the screen's free area; each named control shown whole inside the window, not cut
// by the frame it sits in and not squeezed below the size its content needs; no two of them
// overlapping unless one holds the other.
inline void ExpectLaidOut(QWidget& window, const std::vector<QString>& names) {
  QCoreApplication::processEvents();
  const QRect free = window.screen()->availableGeometry();
  const QRect framed = window.frameGeometry().united(window.geometry().marginsAdded(kDesktopFrame));
  EXPECT_TRUE(free.contains(framed)) << window.objectName().toStdString() << " frame " << framed.x() << ","
                                     << framed.y() << " " << framed.width() << "x" << framed.height() << " on "
                                     << free.x() << "," << free.y() << " " << free.width() << "x" << free.height();
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
    // What the layout must give it: a minimum it was given, else its content's need, within its maximum.
    const QSize hint = widget->minimumSizeHint(), given = widget->minimumSize();
    const QSize needed =
        QSize(given.width() > 0 ? given.width() : hint.width(), given.height() > 0 ? given.height() : hint.height())
            .boundedTo(widget->maximumSize());
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
      EXPECT_FALSE(ra.intersects(rb)) << a->objectName().toStdString() << " overlaps " << b->objectName().toStdString();
    }
}

// Moving the mouse over a chart changes what its read-out says and nothing else: no widget of
// the window moves or changes size.
inline void ExpectHoverKeepsLayout(QWidget& window, QWidget& chart) {
  QCoreApplication::processEvents();
  std::vector<std::pair<QWidget*, QRect>> before;
  for (QWidget* w : window.findChildren<QWidget*>())
    if (w->isVisible()) before.push_back({w, w->geometry()});
  const QSize size = window.size();
  QWidget* area = chart.findChild<QWidget*>("qt_scrollarea_viewport")
                      ? chart.findChild<QWidget*>("qt_scrollarea_viewport")
                      : &chart;
  for (double x : {0.95, 0.2, 0.8, 0.5})  // the last one inside the plot
    for (double y : {0.7, 0.4}) {
      QTest::mouseMove(area, QPoint(static_cast<int>(area->width() * x), static_cast<int>(area->height() * y)));
      QCoreApplication::processEvents();
    }
  EXPECT_EQ(window.size(), size) << "the window grew";
  for (auto [widget, geometry] : before)
    EXPECT_EQ(widget->geometry(), geometry)
        << widget->objectName().toStdString() << " " << widget->metaObject()->className() << " moved";
}

}  // namespace tarvel::ui
