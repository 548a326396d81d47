#include "store/home.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include "store/config_store.h"
#include "store/store_fixture.h"
#include "support/temp_dir.h"

namespace tarvel::store {
namespace {

using tarvel::testing::ReadAll;
using tarvel::testing::TempDir;
using tarvel::testing::WriteAll;

TEST(FirstStart, CreatesFoldersDatabaseAndSensorMenu) {
  TempDir dir;
  AppFolder folder(dir / "home");
  HomeReport report = PrepareHome(folder);
  EXPECT_TRUE(report.problems.empty());
  for (const auto& sub : {"Setup", "Setup/MenuFiles", "Profiles", "LogFiles"})
    EXPECT_TRUE(std::filesystem::is_directory(folder.Root() / sub)) << sub;

  const auto db = folder.ConfigDatabase();
  EXPECT_EQ(Columns(db, "ChannelMap"), "SoftwareChannel ModBusAddress NickName ControllerType Port");
  EXPECT_EQ(Columns(db, "CommunicationsPort"), "CommPortNumber CommPortMode Rate Parity Bits StopBits DevicePath");
  EXPECT_EQ(Columns(db, "ControllerMemory"),
            "ModBusAddress Segment Duration Temperature PIDSet Modified Unknown JumpTime");
  EXPECT_EQ(Columns(db, "TarvelLog"),
            "ModBusAddress ProfileName Start Stop SensorType TemperatureScaleType TimeScaleType ProgressionType");
  EXPECT_EQ(Columns(db, "ControllerConfiguration"),
            "ModBusAddress ProfileNameExecuting ProgramLowAddress ProgramHighAddress RunMode SegmentExecuting "
            "SegmentElapsedTime PendingProfileName PendingLowAddress PendingHighAddress");
  EXPECT_EQ(Columns(db, "TarvelConfiguration"), "CurrentChannel");

  EXPECT_EQ(ReadAll(folder.SensorMenuNameFile()), "SensorMenu.db\r\n");
  SensorMenu menu(folder.SensorMenuDatabase());
  auto all = menu.All();
  ASSERT_TRUE(all.ok()) << all.status().message();
  std::vector<std::string> captions;
  for (const auto& s : *all) captions.push_back(s.caption);
  EXPECT_EQ(captions, (std::vector<std::string>{"K", "J", "T", "E", "N", "R", "S", "B", "Pt100"}));
  auto k = menu.ByCaption("K    ");  // as a profile file stores it: 5 characters
  ASSERT_TRUE(k.ok() && k->has_value());
  EXPECT_EQ((*k)->cmax, 1372);
  EXPECT_EQ((*k)->fmax, 2501);
  auto byIndex = menu.ByIndex((*k)->index);
  ASSERT_TRUE(byIndex.ok() && byIndex->has_value());
  EXPECT_EQ((*byIndex)->caption, "K");
  EXPECT_FALSE(menu.ByCaption("k")->has_value()) << "captions match with case";
}

TEST(FirstStart, ASecondStartKeepsEverything) {
  TempDir dir;
  AppFolder folder(dir.path());
  PrepareHome(folder);
  {
    ConfigStore store(folder.ConfigDatabase());
    ASSERT_TRUE(store.AddChannel({3, 7, "Kiln", "set64rs"}));
    ASSERT_TRUE(store.SaveCurrentChannel(3));
  }
  WriteAll(folder.SensorMenuNameFile(), "Custom.db\r\n");
  WriteAll(folder.MenuFiles() / "Custom.db", "");  // an empty file is a valid, empty database

  HomeReport again = PrepareHome(folder);
  EXPECT_TRUE(again.created.empty());
  EXPECT_TRUE(again.problems.empty());
  ConfigStore store(folder.ConfigDatabase());
  EXPECT_EQ(store.GetCurrentChannel(), 3);
  EXPECT_EQ(store.Channels()->size(), 1u);
  EXPECT_EQ(ReadAll(folder.SensorMenuNameFile()), "Custom.db\r\n");
  EXPECT_FALSE(std::filesystem::exists(folder.MenuFiles() / "Custom.db-wal"));
}

// Only a new home gets a new database: a damaged one, or an empty one (0 bytes, which SQLite
// would take for a new database), is named and left as it is, and the home cannot be used.
TEST(FirstStart, ADamagedOrEmptyDatabaseIsReportedAndNeverTouched) {
  for (const auto& [garbage, why] :
       {std::pair{std::string(4096, '\x5a'), "Damaged database"}, std::pair{std::string(), "Empty database"}}) {
    TempDir dir;
    AppFolder folder(dir.path());
    std::filesystem::create_directories(folder.Setup());
    WriteAll(folder.ConfigDatabase(), garbage);

    HomeReport report = PrepareHome(folder);
    ASSERT_EQ(report.problems.size(), 1u) << why;
    EXPECT_FALSE(report.fatal.ok()) << why;
    EXPECT_NE(report.problems[0].find(why), std::string::npos) << report.problems[0];
    EXPECT_NE(report.problems[0].find("ChannelManagement.db"), std::string::npos);
    EXPECT_EQ(ReadAll(folder.ConfigDatabase()), garbage);

    // Every operation then fails on its own and the documented defaults apply.
    ConfigStore store(folder.ConfigDatabase());
    EXPECT_FALSE(store.OpenStatus().ok());
    EXPECT_EQ(store.GetCommPortNumber(), -1);
    EXPECT_EQ(store.GetCurrentChannel(), -1);
    EXPECT_FALSE(store.Channels().ok());
    EXPECT_FALSE(store.AddChannel({1, 1, "x", ""}).ok());
    EXPECT_EQ(ReadAll(folder.ConfigDatabase()), garbage);
    EXPECT_FALSE(std::filesystem::exists(folder.ConfigDatabase().string() + "-wal"));

    EXPECT_TRUE(std::filesystem::exists(folder.SensorMenuDatabase())) << "the rest of the folder is still prepared";
  }
}

TEST(FirstStart, AMissingDatabaseGivesDefaultsNotCrashes) {
  TempDir dir;
  ConfigStore store(dir / "nothing-here.db");
  EXPECT_EQ(store.OpenStatus().code(), Status::Code::NotFound);
  EXPECT_EQ(store.GetCommPortNumber(), -1);
  EXPECT_EQ(store.ChannelMapIsEmpty().value_or(true), true);
  EXPECT_FALSE(std::filesystem::exists(dir / "nothing-here.db"));
}

TEST(FirstStart, AnOlderPortTableGetsTheDevicePathColumn) {
  TempDir dir;
  AppFolder folder(dir.path());
  std::filesystem::create_directories(folder.Setup());
  {
    SQLite::Database db(folder.ConfigDatabase().string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    db.exec(
        "CREATE TABLE CommunicationsPort (CommPortNumber INTEGER, CommPortMode INTEGER, Rate INTEGER, "
        "Parity TEXT, Bits INTEGER, StopBits INTEGER)");
    db.exec("INSERT INTO CommunicationsPort VALUES (4, 1, 9600, 'N', 8, 1)");
  }
  EXPECT_TRUE(PrepareHome(folder).problems.empty());
  ConfigStore store(folder.ConfigDatabase());
  EXPECT_EQ(store.GetCommPortNumber(), 4);
  auto port = store.Port();
  ASSERT_TRUE(port.ok() && port->has_value());
  EXPECT_EQ((*port)->devicePath, "");
}

}  // namespace
}  // namespace tarvel::store
