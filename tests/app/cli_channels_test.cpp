#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/run_process.h"

namespace tarvel {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::RunProcess;

class CliChannels : public ::testing::Test {
 protected:
  testing::ProcessResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), {"--home", (dir_ / "home").string()});
    return RunProcess(TARVEL_CLI, args);
  }
  testing::TempDir dir_;
};

TEST_F(CliChannels, HomeShowsWhatTheFirstStartCreatedAndNothingTheSecondTime) {
  auto first = Cli({"home"});
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_THAT(first.out, HasSubstr("ChannelManagement.db"));
  EXPECT_THAT(first.out, HasSubstr("SensorMenu.db"));
  EXPECT_THAT(first.out, HasSubstr("LogFiles/"));
  auto second = Cli({"home"});
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_THAT(second.out, HasSubstr("Nothing new was created."));
}

TEST_F(CliChannels, AddListRemove) {
  EXPECT_EQ(Cli({"channel", "add", "2", "7", "Dryer"}).exitCode, 0);
  auto quoted = Cli({"channel", "add", "1", "3", "Bob's kiln; east", "xmt63"});
  EXPECT_EQ(quoted.exitCode, 0) << quoted.err;

  auto list = Cli({"channels"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  auto kiln = list.out.find("Bob's kiln; east");
  auto dryer = list.out.find("Dryer");
  ASSERT_NE(kiln, std::string::npos);
  ASSERT_NE(dryer, std::string::npos);
  EXPECT_LT(kiln, dryer) << "ordered by channel:\n" << list.out;
  EXPECT_THAT(list.out, HasSubstr("set64rs"));
  EXPECT_THAT(list.out, HasSubstr("2 channels"));

  EXPECT_EQ(Cli({"channel", "remove", "2"}).exitCode, 0);
  EXPECT_THAT(Cli({"channels"}).out, Not(HasSubstr("Dryer")));
  auto missing = Cli({"channel", "remove", "2"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_THAT(missing.err, HasSubstr("No channel 2"));
}

TEST_F(CliChannels, DuplicatesFailWithAMessage) {
  ASSERT_EQ(Cli({"channel", "add", "1", "1", "Kiln"}).exitCode, 0);
  for (auto args : {std::vector<std::string>{"channel", "add", "1", "2", "Other"},
                    std::vector<std::string>{"channel", "add", "2", "1", "Other"},
                    std::vector<std::string>{"channel", "add", "2", "2", "Kiln"}}) {
    auto dup = Cli(args);
    EXPECT_EQ(dup.exitCode, 1);
    EXPECT_THAT(dup.err, HasSubstr("Duplicate entries not allowed in the channel map"));
  }
  EXPECT_THAT(Cli({"channels"}).out, HasSubstr("1 channel\n"));
}

TEST_F(CliChannels, BadArgumentsPrintUsageAndExitTwo) {
  for (auto args : {std::vector<std::string>{}, std::vector<std::string>{"frobnicate"},
                    std::vector<std::string>{"channel", "add", "1", "2"},
                    std::vector<std::string>{"channel", "add", "x", "2", "Kiln"},
                    std::vector<std::string>{"channel", "add", "1", "0", "Kiln"},
                    std::vector<std::string>{"channel", "add", "1", "248", "Kiln"},
                    std::vector<std::string>{"channel", "remove"}}) {
    auto bad = Cli(args);
    EXPECT_EQ(bad.exitCode, 2) << ::testing::PrintToString(args);
    EXPECT_THAT(bad.err, HasSubstr("usage:"));
  }
  auto noHomeValue = RunProcess(TARVEL_CLI, {"--home"});
  EXPECT_EQ(noHomeValue.exitCode, 2);
}

}  // namespace
}  // namespace tarvel
