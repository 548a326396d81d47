// tarvel-cli home and channel verbs as a user runs them. The rows behind them are checked
// in store/store_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_process.h"

namespace tarvel {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

class CliChannels : public ::testing::Test {
 protected:
  testing::ProcessResult Cli(std::vector<std::string> args) { return testing::RunCli(dir_ / "home", args); }
  testing::TempDir dir_;
};

TEST_F(CliChannels, HomeShowsWhatTheFirstStartCreatedAndNothingTheSecondTime) {
  auto first = Cli({"home"});
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_THAT(first.out, AllOf(HasSubstr("ChannelManagement.db"), HasSubstr("SensorMenu.db"), HasSubstr("LogFiles/")));
  auto second = Cli({"home"});
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_THAT(second.out, HasSubstr("Nothing new was created."));
}

TEST_F(CliChannels, AddListRemoveAndRefuseADuplicate) {
  EXPECT_EQ(Cli({"channel", "add", "2", "7", "Dryer", "--port", "/dev/ttyUSB1"}).exitCode, 0);
  auto quoted = Cli({"channel", "add", "1", "3", "Bob's kiln; east", "xmt63"});
  EXPECT_EQ(quoted.exitCode, 0) << quoted.err;
  auto duplicate = Cli({"channel", "add", "3", "7", "Other"});
  EXPECT_EQ(duplicate.exitCode, 1);
  EXPECT_THAT(duplicate.err, HasSubstr("Duplicate entries not allowed in the channel map"));

  auto list = Cli({"channels"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  auto kiln = list.out.find("Bob's kiln; east");
  ASSERT_NE(kiln, std::string::npos);
  EXPECT_LT(kiln, list.out.find("Dryer")) << "ordered by channel:\n" << list.out;
  EXPECT_THAT(list.out, AllOf(HasSubstr("set64rs   /dev/ttyUSB1\n"), HasSubstr("2 channels"), Not(HasSubstr("Other"))));

  // Another PC's database is only looked at: its map shows, its bytes stay as they were.
  const auto copy = dir_ / "other.db";
  std::filesystem::copy_file(dir_ / "home" / "Setup" / "ChannelManagement.db", copy);
  const auto bytes = [](const std::filesystem::path& p) { return testing::ReadAll(p); };
  const std::string before = bytes(copy);

  EXPECT_EQ(Cli({"channel", "remove", "2"}).exitCode, 0);
  EXPECT_THAT(Cli({"channels"}).out, AllOf(Not(HasSubstr("Dryer")), HasSubstr("1 channel\n")));
  auto other = Cli({"channels", "--database", copy.string()});
  EXPECT_EQ(other.exitCode, 0) << other.err;
  EXPECT_THAT(other.out, AllOf(HasSubstr("Dryer"), HasSubstr("2 channels")));
  EXPECT_EQ(bytes(copy), before);
  EXPECT_EQ(Cli({"channels", "--database", (dir_ / "none.db").string()}).exitCode, 1);
  auto missing = Cli({"channel", "remove", "2"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_THAT(missing.err, HasSubstr("No channel 2"));
}

TEST_F(CliChannels, BadArgumentsPrintUsageAndExitTwo) {
  for (const char* line :
       {"", "frobnicate", "channel add 1 2", "channel add x 2 Kiln", "channel add 1 248 Kiln", "channel remove",
        "profile check", "profile build --sensor K --temp K --time M a.csv b.txt"}) {
    const auto args = testing::Args(line);
    auto bad = Cli(args);
    EXPECT_EQ(bad.exitCode, 2) << line;
    EXPECT_THAT(bad.err, HasSubstr("usage:")) << line;
  }
  EXPECT_EQ(testing::RunProcess(TARVEL_CLI, {"--home"}).exitCode, 2);
}

}  // namespace
}  // namespace tarvel
