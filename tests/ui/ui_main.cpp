// Window tests need one QApplication for the whole run. They run offscreen on a screen the
// size of a common laptop's, 1366x768, with window frames (a title bar) like a desktop's.
#include <QApplication>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

int main(int argc, char** argv) {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  std::filesystem::path screen;
  if (platform.isEmpty() || platform == "offscreen") {
    screen = std::filesystem::temp_directory_path() / ("tarvel-ui-screen-" + std::to_string(getpid()) + ".json");
    std::ofstream(screen) << R"({"windowFrameMargins": true, "screens": [{"name": "laptop", "x": 0, "y": 0, )"
                             R"("width": 1366, "height": 768, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1.0}]})";
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + QByteArray::fromStdString(screen.string()));
  }
  int result = 0;
  {
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  if (!screen.empty()) std::filesystem::remove(screen);
  return result;
}
