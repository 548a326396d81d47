// What a user is told when the database or the application folder cannot be used: the reason
// (locked, read-only, permission, damaged, a file in the way) and the path, and nothing written
// half. Permission cases run as nobody when the tests run as root.
#include <SQLiteCpp/SQLiteCpp.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>

#include "store/store_fixture.h"
#include "support/unprivileged.h"

namespace tarvel::store {
namespace {

using tarvel::testing::GiveUpRoot;
using tarvel::testing::OpenTo;
using tarvel::testing::TempDir;
using tarvel::testing::WriteAll;
using ::testing::HasSubstr;

// In the child of an EXPECT_EXIT: prints the status for the matcher and exits 0 when its code is one of codes.
[[noreturn]] void ExitWith(const Status& status, std::initializer_list<Status::Code> codes) {
  std::fprintf(stderr, "%s\n", status.message().c_str());
  bool expected = false;
  for (auto code : codes) expected = expected || status.code() == code;
  std::_Exit(expected ? 0 : 1);
}

TEST_F(StoreTest, ALockedDatabaseFailsEachWriteAsLockedAndWritesNoneOfIt) {
  ASSERT_TRUE(store_.ResetControllerMemory(4));
  ASSERT_TRUE(store_.WriteLogEntry({4, "a.txt", 1, 5, "K", "F", "M", "SV"}));
  ConfigStore quick(folder_.ConfigDatabase(), std::chrono::milliseconds(50));
  {
    auto other = Raw();  // another program holds the write lock
    other.exec("BEGIN EXCLUSIVE");
    auto marked = quick.MarkStepsUnknown(4, 1, 3, TouchedLogRows::Drop);
    EXPECT_EQ(marked.status().code(), Status::Code::Busy);
    EXPECT_THAT(marked.status().message(), HasSubstr("locked"));
    EXPECT_THAT(marked.status().message(), HasSubstr(folder_.ConfigDatabase().string()));
    EXPECT_EQ(quick.AddChannel({1, 4, "Kiln", "set64rs"}).code(), Status::Code::Busy);
    EXPECT_EQ(quick.RecordAddressChange(4, 5).code(), Status::Code::Busy);
    EXPECT_EQ(quick.WriteMemorySteps(4, {{4, 1, 9, 9, 9, 0}}).code(), Status::Code::Busy);
    other.exec("ROLLBACK");
  }
  EXPECT_EQ(Count("SELECT count(*) FROM ControllerMemory WHERE Unknown <> 0 OR Duration <> 0"), 0);
  EXPECT_EQ(Count("SELECT count(*) FROM TarvelLog"), 1);
  EXPECT_EQ(Count("SELECT count(*) FROM ChannelMap") + Count("SELECT count(*) FROM AddressChange"), 0);
  EXPECT_TRUE(quick.MarkStepsUnknown(4, 1, 3, TouchedLogRows::Drop).ok()) << "the lock is gone, the write goes in";
}

TEST_F(StoreTest, AWriteToADatabaseTheUserMayOnlyReadSaysReadOnly) {
  const auto file = folder_.ConfigDatabase();
  OpenTo(folder_.Setup());
  for (const auto& entry : std::filesystem::directory_iterator(folder_.Setup()))
    ::chmod(entry.path().c_str(), 0444);  // the WAL files beside it too: readable, not writable
  EXPECT_EXIT(
      {
        GiveUpRoot();
        ConfigStore store(file);
        if (!store.OpenStatus().ok()) ExitWith(store.OpenStatus(), {Status::Code::ReadOnly, Status::Code::Permission});
        ExitWith(store.AddChannel({1, 1, "Kiln", "set64rs"}), {Status::Code::ReadOnly, Status::Code::Permission});
      },
      ::testing::ExitedWithCode(0), file.string());
  EXPECT_EQ(Count("SELECT count(*) FROM ChannelMap"), 0);
}

TEST(DatabaseFile, DamagedOnlyWhenTheFileIsNoDatabaseAndOtherwiseTheRealReason) {
  TempDir dir;  // a damaged one: home_test.cpp
  std::filesystem::create_directories(dir / "folder.db");
  ConfigStore folder(dir / "folder.db");
  EXPECT_THAT(folder.OpenStatus().message(), HasSubstr("it is a folder"));
  WriteAll(dir / "file", "");
  ConfigStore underFile(dir / "file" / "ChannelManagement.db");
  EXPECT_THAT(underFile.OpenStatus().message(), HasSubstr("a file stands where a folder should be"));
  for (const ConfigStore* store : {&folder, &underFile})
    EXPECT_NE(store->OpenStatus().code(), Status::Code::Damaged) << store->OpenStatus().message();

  // A folder where the database's journal should be is named, not left at "disk I/O error".
  const AppFolder home(dir / "home");
  ASSERT_TRUE(PrepareHome(home).fatal.ok());
  std::filesystem::create_directories(home.ConfigDatabase().string() + "-wal");
  ConfigStore blocked(home.ConfigDatabase());
  EXPECT_THAT(blocked.Channels().status().message(),
              HasSubstr("a folder stands where " + home.ConfigDatabase().string() + "-wal should be"));
}

TEST(HomeFolder, AFileWhereTheFolderShouldBeIsFatalNamesThePathAndThrowsNothing) {
  TempDir dir;
  WriteAll(dir / "file", "");
  HomeReport report = PrepareHome(AppFolder(dir / "file" / "home"));
  EXPECT_FALSE(report.fatal.ok());
  EXPECT_EQ(report.fatal.message(),
            "Cannot use the folder " + (dir / "file" / "home").string() + ": a file stands where a folder should be");
  EXPECT_EQ(report.problems, std::vector<std::string>{report.fatal.message()}) << "one cause, said once";

  HomeReport noName = PrepareHome(AppFolder(""));
  EXPECT_EQ(noName.fatal.code(), Status::Code::Invalid);
  EXPECT_FALSE(std::filesystem::exists("Setup")) << "an empty name is not the current folder";
}

}  // namespace
}  // namespace tarvel::store
