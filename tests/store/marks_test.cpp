// Rows that may disagree with the controller: stale marks, the log rows a change of steps
// touches, the upload's record, an address change written before the controller is asked, and
// databases of an earlier version.
#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "store/store_fixture.h"

namespace tarvel::store {
namespace {

std::vector<int> Segments(const Result<std::vector<MemoryRow>>& rows) {
  std::vector<int> segments;
  for (const auto& r : rows.value_or({})) segments.push_back(r.segment);
  return segments;
}

std::vector<std::string> Names(const std::vector<LogRow>& rows) {
  std::vector<std::string> names;
  for (const auto& r : rows) names.push_back(r.profileName);
  return names;
}

class Marks : public StoreTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_.ResetControllerMemory(4));
    for (auto [address, name, start, stop] :
         {std::tuple{4, "a.txt", 1, 5}, {4, "b.txt", 6, 9}, {4, "c.txt", 20, 24}, {5, "other.txt", 1, 64}})
      ASSERT_TRUE(store_.WriteLogEntry({address, name, start, stop, "K", "F", "M", "SV"}));
  }
};

TEST_F(Marks, AChangeOfStepsMarksThemAndTakesTheLogRowsItTouchesOutInOneGo) {
  auto dropped = store_.MarkStepsUnknown(4, 5, 7, TouchedLogRows::Drop);
  ASSERT_TRUE(dropped.ok()) << dropped.status().message();
  EXPECT_EQ(Names(*dropped), (std::vector<std::string>{"a.txt", "b.txt"})) << "5..7 touches 1..5 and 6..9";
  EXPECT_EQ(Names(store_.Log(4).value()), (std::vector<std::string>{"c.txt"}));
  EXPECT_EQ(store_.Log(5)->size(), 1u) << "another controller's log is not touched";
  EXPECT_EQ(Segments(store_.UnknownSteps(4)), (std::vector<int>{5, 6, 7}));
  EXPECT_EQ(Count("SELECT count(*) FROM ControllerMemory WHERE Unknown <> 0"), 3);

  // A jump's rewrite of one step keeps the profile in the log.
  ASSERT_TRUE(store_.MarkStepsUnknown(4, 22, 22, TouchedLogRows::Keep).ok());
  EXPECT_EQ(store_.Log(4)->size(), 1u);
  // A step without a row gets one, zeroed and marked: the map never lacks a written step.
  ASSERT_TRUE(store_.MarkStepsUnknown(8, 64, 64, TouchedLogRows::Keep).ok());
  EXPECT_EQ(Segments(store_.UnknownSteps(8)), (std::vector<int>{64}));

  EXPECT_EQ(store_.MarkStepsUnknown(4, 0, 3, TouchedLogRows::Drop).status().code(), Status::Code::Invalid);
  EXPECT_EQ(store_.MarkStepsUnknown(4, 9, 65, TouchedLogRows::Drop).status().code(), Status::Code::Invalid);
  EXPECT_EQ(store_.Log(4)->size(), 1u) << "a refused range changes nothing";
}

TEST_F(Marks, AGoodReadClearsTheMarksOfTheStepsItStoresAndTheMarksSurviveAReopen) {
  ASSERT_TRUE(store_.MarkStepsUnknown(4, 10, 12, TouchedLogRows::Keep).ok());
  ASSERT_TRUE(store_.SetStepModified(4, 11, 1));
  ASSERT_TRUE(store_.WriteMemorySteps(4, {{4, 11, 90, 138, 2, 0}}));
  auto eleven = store_.MemoryStep(4, 11)->value();
  EXPECT_EQ(std::tie(eleven.duration, eleven.modified, eleven.unknown), std::tuple(90, 1, 0));

  ConfigStore reopened(folder_.ConfigDatabase());
  EXPECT_EQ(Segments(reopened.UnknownSteps(4)), (std::vector<int>{10, 12}));
  auto rows = reopened.Memory(4);
  ASSERT_TRUE(rows.ok());
  EXPECT_EQ((*rows)[9].unknown, 1) << "the map's reads carry the mark";
  EXPECT_EQ((*rows)[10].unknown, 0);
}

TEST_F(Marks, AVerifiedUploadStoresTheReadBackAndItsLogRowTogether) {
  ASSERT_TRUE(store_.MarkStepsUnknown(4, 30, 31, TouchedLogRows::Drop).ok());
  LogRow entry{4, "cure.txt", 30, 31, "K", "F", "M", "SV"};
  ASSERT_TRUE(store_.RecordUpload(4, {{4, 30, 45, 250, 2, 0}, {4, 31, 0, 100, 1, 0}}, entry));
  EXPECT_TRUE(store_.UnknownSteps(4)->empty());
  EXPECT_EQ(store_.MemoryStep(4, 30)->value().temperature, 250);
  EXPECT_TRUE(store_.LogEntry(4, "cure.txt")->has_value());

  // Touching no log row is no failure; touching one takes it out.
  EXPECT_TRUE(store_.DeleteLogEntriesTouching(4, 40, 50)->empty());
  EXPECT_EQ(Names(store_.DeleteLogEntriesTouching(4, 31, 31).value()), (std::vector<std::string>{"cure.txt"}));
  EXPECT_FALSE(store_.LogEntry(4, "cure.txt")->has_value());
}

// An address that had rows (a channel removed and another added there, an address reused) may
// have another controller now: however the channel comes to it, its steps are unknown until read
// and its log rows, run selection and learnt frames go. An address new to the map gets its rows zeroed.
TEST_F(Marks, AnAddressThatHadRowsComesBackUnknownWithoutItsLogSelectionOrFrames) {
  ASSERT_TRUE(store_.SaveRunSelection(4, "a.txt", 1, 5));
  ASSERT_TRUE(store_.SaveCapabilities({4, true, true, true}));
  ASSERT_TRUE(store_.AddChannel({1, 4, "Kiln", "set64rs"}));
  EXPECT_EQ(Count("SELECT count(*) FROM ControllerMemory WHERE ModBusAddress = 4 AND Unknown <> 0"), 64);
  EXPECT_TRUE(store_.Log(4)->empty());
  EXPECT_FALSE(store_.ControllerConfig(4)->has_value());
  EXPECT_EQ(store_.Capabilities(4).value(), (CapabilityRow{4, std::nullopt, std::nullopt, std::nullopt}));

  ASSERT_TRUE(store_.AddChannel({2, 9, "Oven", "set64rs"}));
  EXPECT_EQ(Count("SELECT count(*) FROM ControllerMemory WHERE ModBusAddress = 9 AND Unknown = 0"), 64);
  ASSERT_TRUE(store_.SetChannelField(2, ChannelField::ModBusAddress, "5"));  // 5 had a log row
  EXPECT_TRUE(store_.Log(5)->empty());
  EXPECT_EQ(Count("SELECT count(*) FROM ControllerMemory WHERE ModBusAddress = 5 AND Unknown <> 0"), 64);
  ASSERT_TRUE(store_.DeleteChannel(2));
  ASSERT_TRUE(store_.AddScannedChannel({2, 5, "Default2", "set64rs"}));
  EXPECT_EQ(Count("SELECT count(*) FROM ControllerMemory WHERE ModBusAddress = 5 AND Unknown <> 0"), 64);
}

TEST_F(StoreTest, AnAddressChangeIsRecordedFirstAndResolvedByTheMoveOrTheDrop) {
  ASSERT_TRUE(store_.AddScannedChannel({1, 5, "Kiln", "set64rs"}));
  ASSERT_TRUE(store_.AddScannedChannel({2, 6, "Oven", "set64rs"}));
  EXPECT_EQ(Count("SELECT count(*) FROM ControllerMemory WHERE ModBusAddress = 5 AND Unknown = 0 AND Modified = 0 "
                  "AND Duration = 0 AND Temperature = 0 AND PIDSet = 0"),
            64)
      << "an address new to the map gets its zeroed rows";

  EXPECT_EQ(store_.RecordAddressChange(5, 6).code(), Status::Code::Duplicate) << "6 is mapped";
  ASSERT_TRUE(store_.RecordAddressChange(5, 7));
  ASSERT_TRUE(store_.RecordAddressChange(6, 8));
  auto pending = ConfigStore(folder_.ConfigDatabase()).PendingAddressChanges();  // what the next start reads
  ASSERT_TRUE(pending.ok());
  ASSERT_EQ(pending->size(), 2u);
  EXPECT_EQ(std::tie((*pending)[0].oldAddress, (*pending)[0].newAddress), std::tuple(5, 7));
  EXPECT_FALSE((*pending)[0].requested.empty());

  ASSERT_TRUE(store_.MoveAddress(5, 7));
  ASSERT_TRUE(store_.DropAddressChange(6, 8));  // the unit stayed where it was
  EXPECT_TRUE(store_.PendingAddressChanges()->empty());
  EXPECT_EQ(store_.ChannelByNumber(1)->value().modbusAddress, 7);
  EXPECT_EQ(store_.ChannelByNumber(2)->value().modbusAddress, 6);
  EXPECT_EQ(store_.Memory(7)->size(), 64u);
}

TEST(Migration, ADatabaseOfAnEarlierVersionOpensKeepsItsRowsAndGainsTheMarksAndTheAddressChanges) {
  tarvel::testing::TempDir dir;
  const auto file = dir / "ChannelManagement.db";
  {
    SQLite::Database old(file.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    old.exec(
        "CREATE TABLE ChannelMap (SoftwareChannel INTEGER NOT NULL UNIQUE, ModBusAddress INTEGER NOT NULL UNIQUE, "
        "NickName TEXT UNIQUE, ControllerType TEXT)");
    old.exec(
        "CREATE TABLE ControllerMemory (ModBusAddress INTEGER, Segment INTEGER, Duration INTEGER, "
        "Temperature INTEGER, PIDSet INTEGER, Modified INTEGER, UNIQUE (ModBusAddress, Segment))");
    old.exec(
        "CREATE TABLE TarvelLog (ModBusAddress INTEGER, ProfileName TEXT, Start INTEGER, Stop INTEGER, "
        "SensorType TEXT, TemperatureScaleType TEXT, TimeScaleType TEXT, ProgressionType TEXT, "
        "UNIQUE (ProfileName, ModBusAddress))");
    old.exec("INSERT INTO ChannelMap VALUES (1, 3, 'Kiln', 'set64rs')");
    old.exec("INSERT INTO ControllerMemory VALUES (3, 1, 30, 70, 1, 0), (3, 2, 45, 250, 2, 1)");
  }
  ConfigStore store(file);  // no PrepareHome: the store itself brings the file up to date
  ASSERT_TRUE(store.OpenStatus().ok()) << store.OpenStatus().message();
  auto rows = store.Memory(3);
  ASSERT_TRUE(rows.ok()) << rows.status().message();
  ASSERT_EQ(rows->size(), 2u);
  EXPECT_EQ(std::tie((*rows)[1].temperature, (*rows)[1].modified, (*rows)[1].unknown), std::tuple(250, 1, 0));
  ASSERT_TRUE(store.MarkStepsUnknown(3, 2, 2, TouchedLogRows::Drop).ok());
  ASSERT_TRUE(store.RecordAddressChange(3, 4));

  EXPECT_EQ(Columns(file, "ControllerMemory"),
            "ModBusAddress Segment Duration Temperature PIDSet Modified Unknown JumpTime")
      << "the described fields keep their names and order; the mark comes last";
  SQLite::Database raw(file.string(), SQLite::OPEN_READONLY);
  EXPECT_EQ(raw.execAndGet("SELECT Unknown FROM ControllerMemory WHERE Segment = 2").getInt(), 1);
}

}  // namespace
}  // namespace tarvel::store
