#pragma once
// ui: where a window opens. Each window comes back where the user left it (its geometry and,
// for a main window, its docks and toolbars, kept in an INI file under the window's objectName);
// the first time it opens at a size that suits the screen. Either way the whole window, frame
// and menu bar included, lies on the screen's free area.

#include <QSize>
#include <QString>

class QByteArray;
class QSplitter;
class QWidget;

namespace tarvel::ui {

// The INI file of window places in an application folder's Setup/.
QString PlacementFile(const QString& setupFolder);

// Restores the window's place from file, else (file empty or holding none) sizes it to preferred,
// shrunk to the screen, and centres it. Call before the window is first shown. True when restored.
bool RestorePlacement(QWidget* window, const QString& file, QSize preferred);
// Keeps the window's place (and a main window's state) in file; nothing when file is empty.
void SavePlacement(QWidget* window, const QString& file);
// Moves and shrinks a shown window so that its frame lies within the screen's free area.
void KeepOnScreen(QWidget* window);

// A splitter's sizes, kept beside its window's place under the splitter's objectName.
void RestoreSplitter(QSplitter* splitter, const QString& file);
void SaveSplitter(QSplitter* splitter, const QString& file);

}  // namespace tarvel::ui
