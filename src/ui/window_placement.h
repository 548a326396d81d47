#pragma once
// ui: where a window opens. Each window comes back where the user left it (its geometry and,
// for a main window, its docks and toolbars, kept in an INI file under the window's objectName);
// the first time it opens at a size that suits the screen. Either way the whole window, frame
// and menu bar included, lies on the screen's free area (the screen less its panels), and no
// floating dock comes back off that area or over its window's menu bar.

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>

class QByteArray;
class QMainWindow;
class QSplitter;
class QWidget;

namespace tarvel::ui {

// A window manager's frame is known only once the window is mapped, and some report it later
// still: until then, room for a title bar and borders as wide as common desktops draw them.
inline constexpr QMargins kFrameGuess(8, 40, 8, 8);

// The INI file of window places in an application folder's Setup/.
QString PlacementFile(const QString& setupFolder);

// The screen's free area where the window is (or will be) shown.
QRect FreeArea(const QWidget* window);

// Restores the window's place from file, else (file empty or holding none) sizes it to preferred,
// shrunk to the screen, and centres it; either way within the free area, frame included. Call
// on the first show, before the window is mapped. True when restored.
bool RestorePlacement(QWidget* window, const QString& file, QSize preferred);
// Keeps the window's place (and a main window's state) in file; nothing when file is empty.
void SavePlacement(QWidget* window, const QString& file);
// Moves and shrinks a shown window so that its frame lies within the screen's free area.
void KeepOnScreen(QWidget* window);
// Docks every floating dock that lies off the free area or over the window's menu bar.
void SettleDocks(QMainWindow* window);

// A splitter's sizes, kept beside its window's place under the splitter's objectName.
void RestoreSplitter(QSplitter* splitter, const QString& file);
void SaveSplitter(QSplitter* splitter, const QString& file);

}  // namespace tarvel::ui
