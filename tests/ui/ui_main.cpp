// Window tests need one QApplication for the whole run. They run offscreen on two screens the
// size of common laptops', 1366x768 (the first) and 1280x720, each with a 32 px panel along its
// top: the offscreen platform knows no panels, so each screen starts below its panel.
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
    std::ofstream(screen) << R"({"windowFrameMargins": true, "screens": [)"
                             R"({"name": "1366x768", "x": 0, "y": 32, "width": 1366, "height": 736, )"
                             R"("logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1.0}, )"
                             R"({"name": "1280x720", "x": 1366, "y": 32, "width": 1280, "height": 688, )"
                             R"("logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1.0}]})";
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
