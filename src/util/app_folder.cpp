#include "util/app_folder.h"

#include <cstdlib>

#include "util/text.h"

namespace tarvel {

std::filesystem::path AppFolder::DefaultRoot() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return std::filesystem::path(xdg) / "tarvel";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : ".") / ".local" / "share" / "tarvel";
}

std::filesystem::path AppFolder::SensorMenuDatabase() const {
  std::string name = TrimTrailingBlanks(ReadFirstLine(SensorMenuNameFile()));
  // A name is a plain file name inside MenuFiles; anything with a folder in it is refused.
  if (name.empty() || name != FileNameFromPath(name) || name == "." || name == "..") return {};
  return MenuFiles() / name;
}

std::filesystem::path AppFolder::ChannelLogFolder(int channel) const {
  return LogFiles() / ("Channel-" + TwoDigits(channel));
}

}  // namespace tarvel
