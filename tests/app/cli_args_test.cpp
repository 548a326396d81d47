// tarvel-cli's numbers: whole and in range, or the verb stops with its usage line and exit 2
// before it opens the line -- the simulated units hear nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "support/cli_line.h"

namespace tarvel {
namespace {

using ::testing::HasSubstr;
using CliNumbers = testing::CliLine;

TEST_F(CliNumbers, NumbersThatAreNotWholeOrOutOfRangeAreRefusedWithTheReasonAndNothingIsSent) {
  Start({1, 2});
  ASSERT_EQ(Cli({"channel", "add", "1", "2", "Kiln"}, false).exitCode, 0);

  const std::pair<std::vector<std::string>, const char*> refused[] = {
      {{"state", "1.5"}, "ADDRESS must be a whole number from 1 to 64, not \"1.5\""},  // once unit 2
      {{"state", "247"}, "ADDRESS must be a whole number from 1 to 64"},
      {{"step", "1", "1e1"}, "STEP must be a whole number from 1 to 64, not \"1e1\""},
      {{"step", "1", "1", "1", "2", "0x10"}, "a program word must be a whole number from -32768 to 32767"},
      {{"download", "0", "1", "3"}, "CHANNEL must be a whole number from 1 to 32767, not \"0\""},
      {{"download", "-32768", "1", "3"}, "CHANNEL must be a whole number from 1 to 32767"},
      {{"clear", "1", "1", "65"}, "STEP must be a whole number from 1 to 64, not \"65\""},
      {{"upload", "1", "kiln.txt", "2.0"}, "STEP must be a whole number from 1 to 64"},
      {{"record", "1", "--every", "1e12", "--count", "2"}, "--every SECONDS must be a whole number from 0 to 86400"},
      {{"record", "1", "--every", "86401", "--count", "2"}, "--every SECONDS must be a whole number from 0 to 86400"},
      {{"record", "1", "--every", "1", "--count", "0"}, "--count N must be a whole number from 1 to 1000000"},
      {{"record", "1", "--every", "1"}, "usage:"},
      {{"jump", "1", "2", "3.5"}, "TIME must be a whole number from 0 to 32767"},
      {{"jump", "1", "64", "1"}, "SEGMENT must be a whole number from 1 to 63"},  // 64 is the jump step
      {{"mode", "1", "1.0"}, "CODE must be a whole number from 0 to 4"},
      {{"limits", "1", "0", "3"}, "LOW must be a whole number from 1 to 64"},
      {{"limits", "1", "10", "5"}, "LOW must not be above HIGH"},
      {{"watch", "--every", "0.5"}, "--every SECONDS must be a whole number from 1 to 86400"},
      {{"watch", "--every", "0"}, "--every SECONDS must be a whole number from 1 to 86400"},
      {{"address", "1", "247"}, "NEW must be a whole number from 1 to 64"},
      {{"channel", "add", "0", "3", "Oven"}, "CHANNEL must be a whole number from 1 to 32767"},
      {{"channel", "add", "3", "247", "Oven"}, "ADDRESS must be a whole number from 1 to 64"},
      {{"log", "32768"}, "CHANNEL must be a whole number from 1 to 32767"},
      {{"compile", "kiln.txt", "1.5"}, "STEP must be a whole number from 1 to 64"},
  };
  for (const auto& [args, reason] : refused) {
    auto result = Cli(args);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(args) << result.out;
    EXPECT_THAT(result.err, HasSubstr(reason)) << ::testing::PrintToString(args);
    EXPECT_THAT(result.err, HasSubstr("usage: tarvel-cli")) << ::testing::PrintToString(args);
  }
  EXPECT_TRUE(sim_->Requests().empty()) << "no refused verb talks to a unit";
  EXPECT_THAT(Cli({"channels"}, false).out, HasSubstr("1 channel\n")) << "nothing was added";
  // A channel is a number the user chooses; only the addresses stop at 64.
  EXPECT_EQ(Cli({"channel", "add", "100", "3", "Far"}, false).exitCode, 0);
}

TEST_F(CliNumbers, TheFolderAndThePortMustBeNamed) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--home", "", "channels"}, {"--port", "", "state", "1"}, {"--home"}, {"--home", "x", "--port"}}) {
    auto result = testing::RunProcess(TARVEL_CLI, args);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(args);
    EXPECT_THAT(result.err, HasSubstr("needs a value")) << ::testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace tarvel
