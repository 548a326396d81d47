// tarvel-cli profile verbs as a user runs them: what they read, the files they get, and the
// exit codes. The verification messages themselves are checked in profile/verify_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/run_process.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::ReadAll;
using testing::WriteAll;

// As a spreadsheet saves it: a title row, CR LF, a quoted Command cell with a comma.
const std::string kWorksheet =
    "Seg,Start Time,Duration,Action,Start Temp,End Temp,Ramp Rate,Error Limits,Command,\"Notify t,T\"\r\n"
    "1,0.00,60,r,70,250,3.00,10,\"C=2 J1=on, fan\",t=30\r\n"
    "2,60.00,120,h,250,250,0,10,,\r\n"
    "3,180.00,30,r,250,100,-5.00,20,J1=off,T=450\r\n"
    "4,210.00,,e,100,,,,,\r\n";

class CliProfile : public ::testing::Test {
 protected:
  testing::ProcessResult Cli(std::vector<std::string> args) { return testing::RunCli(dir_ / "home", args); }
  testing::ProcessResult Build(const std::string& csv, const std::string& sensor, const std::string& out,
                               const std::string& temp = "F", const std::string& time = "M") {
    WriteAll(dir_ / "in.csv", csv);
    return Cli({"profile", "build", "--sensor", sensor, "--temp", temp, "--time", time, (dir_ / "in.csv").string(),
                (dir_ / out).string()});
  }
  testing::TempDir dir_;
};

TEST_F(CliProfile, BuildCheckExportRoundTrip) {
  auto build = Build(kWorksheet, "K", "kiln.txt");
  ASSERT_EQ(build.exitCode, 0) << build.out << build.err;
  EXPECT_THAT(build.out, HasSubstr("PROFILE SAVED"));
  EXPECT_EQ(fs::file_size(dir_ / "kiln.txt"), 51537u);

  auto check = Cli({"profile", "check", (dir_ / "kiln.txt").string()});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  EXPECT_EQ(check.out,
            "Profile is valid\n"
            "Sensor type: K\n"
            "Temperature scale: F (Fahrenheit)\n"
            "Time scale: M (minutes)\n"
            "Seg  Start Time  Duration  Action  Start Temp  End Temp  Ramp Rate  Error Limits         Command  "
            "Notify t,T\n"
            "  1        0.00        60       r          70       250       3.00            10  C=2 J1=on, fan        "
            "t=30\n"
            "  2       60.00       120       h         250       250          0            10\n"
            "  3      180.00        30       r         250       100      -5.00            20          J1=off       "
            "T=450\n"
            "  4      210.00                 e         100\n"
            "Sensor temperature range is:-454 - 2501\n"
            "WARNING: You must check and observe ramp limitations, no ramp rate checking by this software\n"
            "\n"
            "No Errors found in profile. You may now save and run it.\n");

  auto exported = Cli({"profile", "export", (dir_ / "kiln.txt").string()});
  EXPECT_EQ(exported.exitCode, 0);
  std::string expected = kWorksheet;
  std::erase(expected, '\r');
  EXPECT_EQ(exported.out, expected);
}

TEST_F(CliProfile, ARefusedOrAlteredProfileSaysWhyAndExitsOne) {
  struct Case {
    std::string csv;
    const char* sensor;
    const char* out;  // on stdout; nothing at all when empty
    const char* err;
  } cases[] = {
      // Type T in Fahrenheit reaches 752.
      {"1,0,60,r,70,800,12.17\n2,60,10,h,800,800,0\n3,70,,e,800\n", "T",
       "Sensor temperature range is:-454 - 752\nOut of range temp entry at\nsegment=1\ncol=6\n",
       "Profile Error - FILE NOT SAVED"},
      {"1,0,60,E,70,250,3\n2,60,,e,250\n", "K", "Action syntax error", "cells above are refused"},
      {kWorksheet, "Q99", "Sensor type \"Q99\" is not in the sensor menu", "Profile Error - FILE NOT SAVED"},
      {"1,0,60,r,70,250,3,,\"C=1\n", "K", "", "line 1: a quoted cell is not closed"},
  };
  for (const Case& c : cases) {
    auto refused = Build(c.csv, c.sensor, "refused.txt");
    EXPECT_EQ(refused.exitCode, 1) << c.csv;
    if (*c.out)
      EXPECT_THAT(refused.out, AllOf(HasSubstr(c.out), Not(HasSubstr("No Errors found"))));
    else
      EXPECT_EQ(refused.out, "");
    EXPECT_THAT(refused.err, HasSubstr(c.err));
    EXPECT_FALSE(fs::exists(dir_ / "refused.txt")) << c.csv;
  }

  ASSERT_EQ(Build(kWorksheet, "Pt100", "kiln.txt", "C", "H").exitCode, 0);
  EXPECT_THAT(Cli({"profile", "check", (dir_ / "kiln.txt").string()}).out,
              HasSubstr("Sensor type: Pt100\nTemperature scale: C (Celsius)\nTime scale: H (hours)\n"));
  std::string bytes = ReadAll(dir_ / "kiln.txt");
  bytes[250] = '9';
  WriteAll(dir_ / "altered.txt", bytes);
  for (const char* verb : {"check", "export"}) {
    auto altered = Cli({"profile", verb, (dir_ / "altered.txt").string()});
    EXPECT_EQ(altered.exitCode, 1);
    EXPECT_EQ(altered.out, "");
    EXPECT_EQ(altered.err, "Error: Unable to load profile\n" + (dir_ / "altered.txt").string() +
                               ": the checksum in line 259 does not match the content\n");
  }
}

TEST_F(CliProfile, FillComputesTheCellsAsTypedAndTheResultBuilds) {
  // Only Duration, End Temp or Ramp Rate, Action and Command written by hand.
  WriteAll(dir_ / "sparse.csv",
           "Seg,Start Time,Duration,Action,Start Temp,End Temp,Ramp Rate,Error Limits,Command,Notify t,T\n"
           ",,60,,,250,,,C=2,\n,,120,,,250,,,,\n,,,,,100,-5,,J1=off,\n,,,e,,,,,,\n");
  auto fill = Cli({"profile", "fill", "--sensor", "K", "--temp", "F", "--time", "M", (dir_ / "sparse.csv").string(),
                   (dir_ / "full.csv").string()});
  ASSERT_EQ(fill.exitCode, 0) << fill.out << fill.err;
  EXPECT_THAT(fill.out, HasSubstr("No Errors found in profile."));
  EXPECT_EQ(ReadAll(dir_ / "full.csv"),
            "Seg,Start Time,Duration,Action,Start Temp,End Temp,Ramp Rate,Error Limits,Command,\"Notify t,T\"\n"
            "1,0,60,r,70,250,3.00,,C=2,\n2,60.00,120,h,250,250,0,,,\n3,180.00,30.00,r,250,100,-5,,J1=off,\n"
            "4,210.00,,e,100,,,,,\n");
  EXPECT_EQ(Build(ReadAll(dir_ / "full.csv"), "K", "full.txt").exitCode, 0);
  EXPECT_THAT(Cli({"profile", "check"}).err, HasSubstr("usage: tarvel-cli [--home DIR] profile check FILE"));

  WriteAll(dir_ / "bad.csv", "1,,6x,,,250\n");
  auto refused = Cli({"profile", "fill", "--sensor", "K", "--temp", "F", "--time", "M", (dir_ / "bad.csv").string(),
                      (dir_ / "bad-out.csv").string()});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_THAT(refused.out, HasSubstr("Row 1 Duration: \"6x\" holds a character this column does not take"));
  EXPECT_FALSE(fs::exists(dir_ / "bad-out.csv"));
}

}  // namespace
}  // namespace tarvel
