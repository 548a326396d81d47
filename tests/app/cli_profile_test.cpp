#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "profile/worksheet_csv.h"
#include "support/run_process.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::ReadAll;
using testing::RunProcess;
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
  testing::ProcessResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), {"--home", (dir_ / "home").string()});
    return RunProcess(TARVEL_CLI, args);
  }
  testing::ProcessResult Build(const std::string& csv, const std::string& sensor, const std::string& out) {
    WriteAll(dir_ / "in.csv", csv);
    return Cli({"profile", "build", "--sensor", sensor, "--temp", "F", "--time", "M", (dir_ / "in.csv").string(),
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
  for (auto pos = expected.find('\r'); pos != std::string::npos; pos = expected.find('\r')) expected.erase(pos, 1);
  EXPECT_EQ(exported.out, expected);
}

TEST_F(CliProfile, ARefusedBuildSaysWhyAndWritesNoFile) {
  // Type T in Fahrenheit reaches 752: the 800 of row 2 is out of range.
  auto hot = Build(
      "1,0,60,r,70,800,12.17\n"
      "2,60,10,h,800,800,0\n"
      "3,70,,e,800\n",
      "T", "hot.txt");
  EXPECT_EQ(hot.exitCode, 1);
  EXPECT_THAT(hot.out, HasSubstr("Sensor temperature range is:-454 - 752\n"
                                 "Out of range temp entry at\nsegment=1\ncol=6\n"
                                 "Out of range temp entry at\nsegment=2\ncol=5\n"));
  EXPECT_THAT(hot.out, Not(HasSubstr("No Errors found")));
  EXPECT_THAT(hot.err, HasSubstr("Profile Error - FILE NOT SAVED"));

  auto badCell = Build("1,0,60,E,70,250,3\n2,60,,e,250\n", "K", "bad.txt");
  EXPECT_EQ(badCell.exitCode, 1);
  EXPECT_THAT(badCell.out, HasSubstr("Action syntax error"));

  auto unknown = Build(kWorksheet, "Q99", "unknown.txt");
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_THAT(unknown.out, HasSubstr("Sensor type \"Q99\" is not in the sensor menu"));

  auto unclosed = Build("1,0,60,r,70,250,3,,\"C=1\n", "K", "unclosed.txt");
  EXPECT_EQ(unclosed.exitCode, 1);
  EXPECT_THAT(unclosed.err, HasSubstr("line 1: a quoted cell is not closed"));

  for (const char* name : {"hot.txt", "bad.txt", "unknown.txt", "unclosed.txt"})
    EXPECT_FALSE(fs::exists(dir_ / name)) << name;
}

TEST_F(CliProfile, CheckRefusesAnAlteredFileAndAnUnknownSensor) {
  ASSERT_EQ(Build(kWorksheet, "Pt100", "kiln.txt").exitCode, 0);
  std::string bytes = ReadAll(dir_ / "kiln.txt");
  bytes[250] = '9';
  WriteAll(dir_ / "altered.txt", bytes);
  auto altered = Cli({"profile", "check", (dir_ / "altered.txt").string()});
  EXPECT_EQ(altered.exitCode, 1);
  EXPECT_EQ(altered.out, "");
  EXPECT_THAT(altered.err,
              HasSubstr("Error: Unable to load profile\n" + (dir_ / "altered.txt").string() +
                        ": the checksum in line 259 does not match the content"));
  EXPECT_EQ(Cli({"profile", "export", (dir_ / "altered.txt").string()}).exitCode, 1);

  // A file made elsewhere for a sensor this menu does not list.
  auto table = profile::TableFromCsv(kWorksheet);
  ASSERT_TRUE(table.ok());
  std::string text = profile::BuildProfileText(*table, {"XK99", profile::TemperatureScale::Celsius,
                                                        profile::TimeScale::Hours});
  ASSERT_TRUE(profile::SaveProfileText(dir_ / "other.txt", text).ok());
  auto other = Cli({"profile", "check", (dir_ / "other.txt").string()});
  EXPECT_EQ(other.exitCode, 1);
  EXPECT_THAT(other.out, HasSubstr("Profile is valid\nSensor type: XK99\nTemperature scale: C (Celsius)\n"
                                   "Time scale: H (hours)\n"));
  EXPECT_THAT(other.out, HasSubstr("Sensor type \"XK99\" is not in the sensor menu"));
  EXPECT_THAT(other.out, Not(HasSubstr("No Errors found")));
}

TEST_F(CliProfile, BadArgumentsGiveTheUsage) {
  for (auto args : {std::vector<std::string>{"profile", "check"},
                    {"profile", "build", "--sensor", "K", "--temp", "K", "--time", "M", "a.csv", "b.txt"}}) {
    auto run = Cli(args);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("usage: tarvel-cli [--home DIR] profile check FILE"));
  }
}

}  // namespace
}  // namespace tarvel
