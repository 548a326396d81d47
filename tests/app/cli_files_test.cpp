// tarvel-cli when its folder, its database or a profile cannot be used: one clear message with
// the path and the reason, exit 1, never an abort, and the controller untouched.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "profile/profile_text.h"
#include "store/home.h"
#include "support/cli_line.h"
#include "support/profiles.h"
#include "support/unprivileged.h"

namespace tarvel {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(CliFiles, AFolderThatCannotBeUsedStopsEveryVerbWithItsPathAndReason) {
  testing::TempDir dir;
  testing::WriteAll(dir / "file", "");
  const std::string underFile = (dir / "file" / "home").string();
  auto blocked = testing::RunCli(underFile, {"channels"});
  EXPECT_EQ(blocked.exitCode, 1);
  EXPECT_EQ(blocked.err, "Cannot use the folder " + underFile + ": a file stands where a folder should be\n");

  // A home the user may not enter, and one whose database they may only read.
  const AppFolder shut(dir / "shut"), readOnly(dir / "readonly");
  std::filesystem::create_directories(shut.Root());
  ASSERT_TRUE(store::PrepareHome(readOnly).fatal.ok());
  testing::OpenTo(readOnly.Setup());
  testing::GiveTo(readOnly.Root());
  ::chmod(shut.Root().c_str(), 0);
  ::chmod(readOnly.ConfigDatabase().c_str(), 0444);
  const std::pair<AppFolder, std::string> cases[] = {
      {shut, "Cannot use the folder " + shut.Root().string() + ": permission denied\n"},
      {readOnly, "Cannot write the database " + readOnly.ConfigDatabase().string() + ": permission denied\n"}};
  for (const auto& [folder, message] : cases) {
    for (const char* verb : {"home", "channels"}) {
      auto [program, args] = testing::AsUser(TARVEL_CLI, {"--home", folder.Root().string(), verb});
      auto run = testing::RunProcess(program, args);
      EXPECT_EQ(run.exitCode, 1) << verb << ": no abort";
      EXPECT_EQ(run.err, message) << verb;
    }
  }
}

#ifdef TARVEL_GUI
// The window's start-up says the same and ends cleanly; --screenshot keeps the box from waiting
// for a click, so the message is read on stderr.
TEST(CliFiles, TheWindowEndsItsStartUpCleanlyWithTheSameMessage) {
  testing::TempDir dir;
  testing::WriteAll(dir / "file", "");
  const AppFolder shut(dir / "shut");
  std::filesystem::create_directories(shut.Root());
  testing::OpenTo(shut.Root());
  ::chmod(shut.Root().c_str(), 0);
  const std::pair<std::string, std::string> cases[] = {
      {(dir / "file" / "home").string(), ": a file stands where a folder should be\n"},
      {shut.Root().string(), ": permission denied\n"}};
  for (const auto& [home, reason] : cases) {
    auto [program, args] = testing::AsUser(
        "env", {"QT_QPA_PLATFORM=offscreen", TARVEL_GUI, "--home", home, "--screenshot", (dir / "s.png").string()});
    auto run = testing::RunProcess(program, args);
    EXPECT_EQ(run.exitCode, 1) << home << ": no abort";
    EXPECT_THAT(run.err, HasSubstr("Cannot use the folder " + home + reason));
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "s.png")) << "no window was shown";

  // A first start warns of the empty channel map: on stderr, and the picture is still taken.
  auto fresh = testing::RunProcess("timeout", {"60", "env", "QT_QPA_PLATFORM=offscreen", TARVEL_GUI, "--home",
                                               (dir / "new").string(), "--screenshot", (dir / "s.png").string()});
  EXPECT_EQ(fresh.exitCode, 0) << fresh.err;
  EXPECT_THAT(fresh.err, HasSubstr("WARNING: No controller addresses configured: You need to configure controller"));
  EXPECT_TRUE(std::filesystem::exists(dir / "s.png"));
}
#endif

class CliLineFiles : public testing::CliLine {
 protected:
  void SetUp() override {
    Start({4});
    ASSERT_EQ(Cli({"channel", "add", "14", "4", "Kiln"}).exitCode, 0);
  }
};

TEST_F(CliLineFiles, ADamagedOrEmptyDatabaseIsSaidToBeSoNotAnUnmappedChannelOrANewMap) {
  for (const auto& [bytes, why] :
       {std::pair{std::string(8192, 'Z'), "Damaged database: "}, std::pair{std::string(), "Empty database: "}}) {
    testing::WriteAll(home_.ConfigDatabase(), bytes);
    std::filesystem::remove(home_.ConfigDatabase().string() + "-wal");
    for (const auto& args : std::vector<std::vector<std::string>>{{"download", "14", "1", "3"}, {"channels"}}) {
      auto run = Cli(args);
      EXPECT_EQ(run.exitCode, 1) << args[0];
      EXPECT_THAT(run.err, HasSubstr(why + home_.ConfigDatabase().string())) << args[0];
      EXPECT_THAT(run.out + run.err, Not(HasSubstr("not in the channel map"))) << args[0];
      EXPECT_THAT(run.out, Not(HasSubstr("0 channels"))) << args[0];
    }
    EXPECT_EQ(testing::ReadAll(home_.ConfigDatabase()), bytes) << "left as it is";
  }
  EXPECT_TRUE(sim_->Requests().empty());
}

// A profile whose checksum matches but that holds a number no step can hold does not load; one
// that loads but that profile check refuses: compile and upload run the same checks, refuse them
// as well and send nothing.
TEST_F(CliLineFiles, CompileAndUploadRefuseWhatProfileCheckRefuses) {
  using Row = testing::ProfileRow;
  const struct {
    const char* name;
    std::vector<Row> rows;
    const char* why;
  } forged[] = {
      {"negative",
       {{"1", "0", "30", "r", "70", "250", "6", "10", "", ""},
        {"2", "30", "-5", "h", "250", "250", "0", "10", "", ""},
        {"3", "75", "", "e", "100", "", "", "", "", ""}},
       "Error: Unable to load profile"},
      {"jump",
       {{"1", "0.00", "30", "r", "70", "150", "2.67", "", "", ""},
        {"2", "30.00", "45", "r", "400", "250", "-3.33", "", "", ""},
        {"3", "75.00", "", "e", "250", "", "", "", "", ""}},
       "Row 2, Start Temp: 400 is not where row 1 ended (End Temp 150)"},
  };
  for (const auto& [name, rows, why] : forged) {
    const std::string file = (dir_ / (std::string(name) + ".txt")).string();
    testing::WriteAll(file, profile::BuildProfileText(testing::TableOf(rows), {}) + "\r\n");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"profile", "check", file}, {"compile", file, "1"}, {"upload", "14", file, "1", "--yes"}}) {
      auto run = Cli(args);
      EXPECT_EQ(run.exitCode, 1) << name << " " << args[0] << "\n" << run.out << run.err;
      EXPECT_THAT(run.out + run.err, HasSubstr(why)) << name << " " << args[0];
    }
  }
  // A bare name is looked for in Profiles/ too, with or without its .txt; one found nowhere is
  // named with where it was looked for.
  std::filesystem::copy_file(dir_ / "jump.txt", home_.Profiles() / "jump.txt");
  EXPECT_THAT(Cli({"upload", "14", "jump", "1", "--yes"}).out, HasSubstr(forged[1].why)) << "found and checked";
  for (auto [name, tried] : {std::pair{"nothere.txt", "nothere.txt"}, {"nothere", "nothere.txt"}, {"a.b", "a.b.txt"}}) {
    auto missing = Cli({"upload", "14", name, "1"});
    EXPECT_EQ(missing.exitCode, 1) << name;
    EXPECT_THAT(missing.out + missing.err, HasSubstr((home_.Profiles() / tried).string() + ":")) << name;
  }
  EXPECT_TRUE(sim_->Requests().empty());
  EXPECT_EQ(sim_->Unit(4).steps[0].duration, 0);
}

}  // namespace
}  // namespace tarvel
