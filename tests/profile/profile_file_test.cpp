#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "profile_fixtures.h"
#include "support/temp_dir.h"

namespace tarvel::profile {
namespace {

namespace fs = std::filesystem;
using tarvel::testing::KilnProfileFile;
using tarvel::testing::KilnTable;
using tarvel::testing::ReadAll;
using tarvel::testing::TempDir;
using tarvel::testing::WriteAll;
using ::testing::HasSubstr;

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ProfileFile, SaveWritesTheWholeFileAndLoadGivesTheTextBack) {
  TempDir dir;
  std::string text = BuildProfileText(KilnTable(), {"K", TemperatureScale::Fahrenheit, TimeScale::Minutes});
  ASSERT_TRUE(SaveProfileText(dir / "kiln.txt", text).ok());
  EXPECT_EQ(ReadAll(dir / "kiln.txt"), ReadAll(KilnProfileFile()));
  EXPECT_EQ(LoadProfileText(dir / "kiln.txt"), text);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"kiln.txt"}) << "no temporary file is left";
}

TEST(ProfileFile, LoadRefusesWhatIsNotAProfileFileAndNeverBlocks) {
  TempDir dir;
  const std::string valid = ReadAll(KilnProfileFile());
  std::string big;
  for (int i = 0; i < 100; ++i) big += valid;  // 5 MB that starts with a valid profile
  WriteAll(dir / "big.txt", big);
  fs::create_directory(dir / "folder.txt");
  ASSERT_EQ(::mkfifo((dir / "fifo.txt").c_str(), 0600), 0);
  // A file of the wrong shape is refused by the check the text tests go through.
  WriteAll(dir / "short.txt", valid.substr(0, 20000));

  struct Case {
    const char* file;
    const char* reason;
  } cases[] = {
      {"missing-folder/x.txt", "no such file"}, {"big.txt", "larger than a profile file"},
      {"folder.txt", "not a regular file"},     {"fifo.txt", "not a regular file"},
      {"short.txt", "the file is 20000 bytes"},
  };
  for (const auto& c : cases) {
    auto loaded = LoadProfileFile(dir / c.file);
    EXPECT_FALSE(loaded.ok()) << c.file;
    EXPECT_THAT(loaded.status().message(), HasSubstr(c.reason)) << c.file;
    EXPECT_EQ(LoadProfileText(dir / c.file), "") << c.file;
  }
}

TEST(ProfileFile, AFailedSaveLeavesTheOldFileAndNoPartialFile) {
  TempDir dir;
  const std::string old = ReadAll(KilnProfileFile());
  WriteAll(dir / "kiln.txt", old);
  std::string text = BuildProfileText(KilnTable(), {"J", TemperatureScale::Celsius, TimeScale::Hours});

  Status damaged = SaveProfileText(dir / "kiln.txt", text.substr(0, 1000));
  EXPECT_FALSE(damaged.ok());
  EXPECT_THAT(damaged.message(), HasSubstr("nothing was written"));
  std::string badCell = text;
  badCell[3] = '\n';
  EXPECT_FALSE(SaveProfileText(dir / "kiln.txt", badCell).ok()) << "a text that would not load back";
  EXPECT_EQ(ReadAll(dir / "kiln.txt"), old);

  // The rename fails when the target is a folder that holds something.
  fs::create_directories(dir / "taken.txt" / "inside");
  Status renamed = SaveProfileText(dir / "taken.txt", text);
  EXPECT_FALSE(renamed.ok());
  EXPECT_THAT(renamed.message(), HasSubstr("cannot save"));

  Status noFolder = SaveProfileText(dir / "no-such-folder" / "a.txt", text);
  EXPECT_FALSE(noFolder.ok());
  EXPECT_THAT(noFolder.message(), HasSubstr("no-such-folder"));
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"kiln.txt", "taken.txt"}));

  ASSERT_TRUE(SaveProfileText(dir / "kiln.txt", text).ok());
  EXPECT_EQ(LoadProfileText(dir / "kiln.txt"), text) << "a good save replaces the old file";
}

}  // namespace
}  // namespace tarvel::profile
