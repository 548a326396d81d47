#pragma once
// util: where the application folder lies and what it holds.

#include <filesystem>
#include <string>

namespace tarvel {

// Every path of the program is the application folder plus a fixed relative path.
class AppFolder {
 public:
  explicit AppFolder(std::filesystem::path root) : root_(std::move(root)) {}

  // $XDG_DATA_HOME/tarvel, else ~/.local/share/tarvel.
  static std::filesystem::path DefaultRoot();

  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path Setup() const { return root_ / "Setup"; }
  std::filesystem::path MenuFiles() const { return Setup() / "MenuFiles"; }
  std::filesystem::path Profiles() const { return root_ / "Profiles"; }
  std::filesystem::path LogFiles() const { return root_ / "LogFiles"; }
  std::filesystem::path ConfigDatabase() const { return Setup() / "ChannelManagement.db"; }
  std::filesystem::path SensorMenuNameFile() const { return Setup() / "SensorMenuDBName.txt"; }
  std::filesystem::path EditorSettings() const { return Setup() / "EditorSettings.bag"; }
  // The sensor menu database named by the first line of SensorMenuDBName.txt;
  // empty when the name file is missing or empty.
  std::filesystem::path SensorMenuDatabase() const;
  // LogFiles/Channel-NN/ of one software channel.
  std::filesystem::path ChannelLogFolder(int channel) const;

 private:
  std::filesystem::path root_;
};

}  // namespace tarvel
