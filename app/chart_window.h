#pragma once
// `tarvel --chart PROFILE [--log FILE]`: the editor's chart on its own, with a message area.

#include <QString>

#include "util/app_folder.h"

namespace tarvel::app {

// Shows the chart of a profile file (and a log file over it) until the window closes; with a
// screenshot file, saves a PNG of the window and returns. Returns the exit code.
int RunChartWindow(const AppFolder& folder, const QString& profileFile, const QString& logFile,
                   const QString& screenshot);

}  // namespace tarvel::app
