#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include <tuple>

#include "store/store_fixture.h"

namespace tarvel::store {
namespace {

TEST_F(StoreTest, ChannelMapIsOrderedFoundByEachKeyAndEmptied) {
  ASSERT_TRUE(store_.AddChannel({12, 3, "Dryer", "set64rs"}));
  ASSERT_TRUE(store_.AddChannel({2, 9, "Kiln", "xmt63"}));
  auto channels = store_.Channels();
  ASSERT_TRUE(channels.ok());
  ASSERT_EQ(channels->size(), 2u);
  EXPECT_EQ(std::pair((*channels)[0].softwareChannel, (*channels)[1].softwareChannel), std::pair(2, 12));
  EXPECT_EQ(store_.ChannelByAddress(3)->value().nickName, "Dryer");
  EXPECT_EQ(store_.ChannelByNickName("Kiln")->value().modbusAddress, 9);
  EXPECT_FALSE(store_.ChannelByNumber(5)->has_value()) << "an unmapped channel is an empty result, not a failure";
  EXPECT_EQ(store_.HighestSoftwareChannel().value(), 12);

  EXPECT_EQ(store_.DeleteChannel(9).code(), Status::Code::NotFound);
  EXPECT_TRUE(store_.DeleteChannelByAddress(3));
  EXPECT_FALSE(store_.ChannelByNumber(12)->has_value());
  EXPECT_FALSE(store_.ChannelMapIsEmpty().value());
  EXPECT_TRUE(store_.ClearChannelMap());
  EXPECT_TRUE(store_.ChannelMapIsEmpty().value());
}

TEST_F(StoreTest, DuplicatesAreRefusedButAnOwnValueIsNot) {
  ASSERT_TRUE(store_.AddChannel({1, 1, "Kiln", "set64rs"}));
  ASSERT_TRUE(store_.AddChannel({2, 2, "Oven", "set64rs"}));
  EXPECT_EQ(store_.AddChannel({1, 5, "Other", ""}).code(), Status::Code::Duplicate);
  EXPECT_EQ(store_.AddChannel({5, 2, "Other", ""}).code(), Status::Code::Duplicate);
  Status nick = store_.AddChannel({5, 5, "Oven", ""});
  EXPECT_EQ(nick.code(), Status::Code::Duplicate);
  EXPECT_NE(nick.message().find("NickName"), std::string::npos);
  EXPECT_EQ(Count("SELECT count(*) FROM ChannelMap"), 2);

  EXPECT_TRUE(store_.SetChannelField(1, ChannelField::NickName, "Kiln")) << "re-entering a cell's own value";
  EXPECT_TRUE(store_.SetChannelField(1, ChannelField::ModBusAddress, "1"));
  EXPECT_EQ(store_.SetChannelField(1, ChannelField::NickName, "Oven").code(), Status::Code::Duplicate);
  EXPECT_EQ(store_.SetChannelField(1, ChannelField::ModBusAddress, "abc").code(), Status::Code::Invalid);
  EXPECT_TRUE(store_.SetChannelField(1, ChannelField::ControllerType, "set64rs"));
  EXPECT_TRUE(store_.SetChannelField(1, ChannelField::SoftwareChannel, "7"));
  EXPECT_EQ(store_.ChannelByNickName("Kiln")->value().softwareChannel, 7);
}

TEST_F(StoreTest, QuotesAndSemicolonsAreStoredAndFoundAndChangeNoOtherRow) {
  const std::string evil = "O'Brien's kiln'; DELETE FROM ChannelMap; --";
  ASSERT_TRUE(store_.AddChannel({1, 1, "Plain", "set64rs"}));
  ASSERT_TRUE(store_.AddChannel({2, 2, evil, "it's"}));
  EXPECT_EQ(Count("SELECT count(*) FROM ChannelMap"), 2);
  auto found = store_.ChannelByNickName(evil);
  ASSERT_TRUE(found.ok() && found->has_value());
  EXPECT_EQ((*found)->softwareChannel, 2);
  EXPECT_EQ((*found)->controllerType, "it's");

  const std::string profile = "Bisque ' 06; DROP TABLE TarvelLog.txt";
  ASSERT_TRUE(store_.WriteLogEntry({2, profile, 1, 5, "K", "F", "M", "SV"}));
  ASSERT_TRUE(store_.WriteLogEntry({2, "other.txt", 6, 9, "K", "F", "M", "SV"}));
  EXPECT_TRUE(store_.LogEntry(2, profile)->has_value());
  ASSERT_TRUE(store_.DeleteLogEntry(2, profile));
  EXPECT_EQ(Count("SELECT count(*) FROM TarvelLog"), 1);
  EXPECT_TRUE(store_.SaveRunSelection(2, profile, 1, 5));
  EXPECT_EQ(store_.ControllerConfig(2)->value().profileNameExecuting, profile);
}

TEST_F(StoreTest, PortNumberCases) {
  EXPECT_EQ(store_.GetCommPortNumber(), -1) << "empty table";
  Raw().exec("INSERT INTO CommunicationsPort (CommPortNumber) VALUES (NULL)");
  EXPECT_EQ(store_.GetCommPortNumber(), -1) << "empty field";
  ASSERT_TRUE(store_.PurgeInvalidRows());
  EXPECT_EQ(Count("SELECT count(*) FROM CommunicationsPort"), 0);

  PortRow port;
  port.commPortNumber = 3;
  port.devicePath = "/dev/ttyUSB0";
  ASSERT_TRUE(store_.SavePortSettings(port));
  port.commPortNumber = 5;
  ASSERT_TRUE(store_.SavePortSettings(port));  // edits the first row, adds none
  EXPECT_EQ(Count("SELECT count(*) FROM CommunicationsPort"), 1);
  EXPECT_EQ(store_.GetCommPortNumber(), 5);
  EXPECT_EQ(store_.Port()->value().devicePath, "/dev/ttyUSB0");

  // Each channel is on a line: the stored port unless it is given one; ports repeat.
  ASSERT_TRUE(store_.AddChannel({1, 1, "Kiln", "set64rs"}));
  ASSERT_TRUE(store_.AddChannel({2, 2, "Dryer", "set64rs", "/dev/ttyUSB1"}));
  ASSERT_TRUE(store_.SetChannelField(1, ChannelField::Port, "/dev/ttyUSB1"));
  ASSERT_TRUE(store_.SetChannelField(1, ChannelField::Port, "/dev/ttyUSB0"));
  EXPECT_EQ(Count("SELECT count(*) FROM ChannelMap WHERE Port = '/dev/ttyUSB0' AND SoftwareChannel = 1"), 1);
  EXPECT_EQ(store_.ChannelByNumber(2)->value().port, "/dev/ttyUSB1");

  // A database from before ports per channel: its channels are on the port it had.
  auto raw = Raw();
  raw.exec("ALTER TABLE ChannelMap DROP COLUMN Port");
  raw.exec("INSERT INTO ChannelMap VALUES (3, 3, 'Old', 'set64rs')");
  ConfigStore upgraded(folder_.ConfigDatabase());
  EXPECT_EQ(Count("SELECT count(*) FROM ChannelMap WHERE Port = '/dev/ttyUSB0'"), 3);
}

TEST_F(StoreTest, PurgeDeletesOnlyRowsWhoseKeyIsNoWholeNumber) {
  auto raw = Raw();
  raw.exec(
      "INSERT INTO ControllerMemory (ModBusAddress, Segment) VALUES (NULL, 1), ('', 2), ('abc', 3), "
      "(70000, 4), (5, 5), ('6', 6), (7.4, 7)");
  raw.exec("INSERT INTO CommunicationsPort (CommPortNumber) VALUES ('x'), (2)");
  ASSERT_TRUE(store_.PurgeInvalidRows());
  SQLite::Statement left(raw, "SELECT Segment FROM ControllerMemory ORDER BY Segment");
  std::vector<int> segments;
  while (left.executeStep()) segments.push_back(left.getColumn(0).getInt());
  EXPECT_EQ(segments, (std::vector<int>{5, 6, 7}));
  EXPECT_EQ(store_.GetCommPortNumber(), 2);
}

TEST_F(StoreTest, ProgramMemoryKeepsModifiedFlagsAcrossDownloads) {
  ASSERT_TRUE(store_.ResetControllerMemory(4));
  EXPECT_EQ(Count("SELECT count(*) FROM ControllerMemory WHERE ModBusAddress=4 AND Duration=0 AND Modified=0"), 64);
  ASSERT_TRUE(store_.SetStepModified(4, 10, 1));
  ASSERT_TRUE(store_.WriteMemorySteps(4, {{4, 10, 90, 138, 2, 0}, {4, 11, -5, 250, 1, 0}}));
  auto step = store_.MemoryStep(4, 10);
  ASSERT_TRUE(step.ok() && step->has_value());
  const MemoryRow& row = **step;
  EXPECT_EQ(std::tie(row.duration, row.temperature, row.pidSet, row.modified), std::tuple(90, 138, 2, 1))
      << "a download leaves Modified as it was";
  auto modified = store_.ModifiedSteps(4);
  ASSERT_EQ(modified->size(), 1u);
  EXPECT_EQ(modified->front().segment, 10);
  // A step without a row that a jump marks gets one, known to hold nothing the map knows.
  ASSERT_TRUE(store_.SetStepModified(9, 64, 1));
  EXPECT_EQ(store_.MemoryStep(9, 64)->value().unknown, kNotRead);
  EXPECT_EQ(store_.SetStepModified(9, 1, 0).code(), Status::Code::NotFound);

  ASSERT_TRUE(store_.ResetControllerMemory(4));  // a second reset adds no rows
  EXPECT_EQ(Count("SELECT count(*) FROM ControllerMemory WHERE ModBusAddress = 4"), 64);
  EXPECT_EQ(store_.Memory(4)->size(), 64u);
}

TEST_F(StoreTest, LogEntriesAreKeyedByNameAndAddress) {
  ASSERT_TRUE(store_.WriteLogEntry({1, "dry.txt", 1, 5, "K", "F", "M", "SV"}));
  ASSERT_TRUE(store_.WriteLogEntry({2, "dry.txt", 1, 5, "K", "F", "M", "SV"}));
  ASSERT_TRUE(store_.WriteLogEntry({1, "dry.txt", 20, 24, "J", "C", "S", "PV"}));  // replaces, adds none
  EXPECT_EQ(Count("SELECT count(*) FROM TarvelLog"), 2);
  auto row = store_.LogEntry(1, "dry.txt");
  ASSERT_TRUE(row.ok() && row->has_value());
  EXPECT_EQ((*row)->start, 20);
  EXPECT_EQ((*row)->progressionType, "PV");
  EXPECT_TRUE(store_.LogEntryByRange(1, 20, 24)->has_value());
  EXPECT_FALSE(store_.LogEntryByRange(1, 1, 5)->has_value());
  ASSERT_TRUE(store_.WriteLogEntry({1, "early.txt", 2, 3, "K", "F", "M", "SV"}));
  auto log = store_.Log(1);
  ASSERT_EQ(log->size(), 2u);
  EXPECT_EQ(log->front().profileName, "early.txt");
}

TEST_F(StoreTest, RunSelectionAndStateShareOneRowPerControllerAndTheCurrentChannelIsOneRow) {
  ASSERT_TRUE(store_.SaveRunSelection(3, "dry.txt", 1, 12));
  ASSERT_TRUE(store_.SaveRunState(3, 2, 5, 17));
  ASSERT_TRUE(store_.SaveRunState(3, 2, 6, 1));
  EXPECT_EQ(Count("SELECT count(*) FROM ControllerConfiguration"), 1);
  auto row = store_.ControllerConfig(3);
  ASSERT_TRUE(row.ok() && row->has_value());
  EXPECT_EQ(std::tie((*row)->profileNameExecuting, (*row)->programHighAddress, (*row)->segmentExecuting,
                     (*row)->segmentElapsedTime),
            std::tuple("dry.txt", 12, 6, 1));
  EXPECT_FALSE(store_.ControllerConfig(4)->has_value());

  EXPECT_EQ(store_.GetCurrentChannel(), -1);
  ASSERT_TRUE(store_.SaveCurrentChannel(2));
  ASSERT_TRUE(store_.SaveCurrentChannel(5));
  EXPECT_EQ(store_.GetCurrentChannel(), 5);
  EXPECT_EQ(Count("SELECT count(*) FROM TarvelConfiguration"), 1);
}

TEST_F(StoreTest, TwoConnectionsWriteInTurnWithoutLocking) {
  ConfigStore second(folder_.ConfigDatabase());
  // A reader with an open statement on one connection must not block writers on the other.
  auto raw = Raw();
  SQLite::Statement reading(raw, "SELECT * FROM ChannelMap");
  reading.executeStep();
  for (int i = 1; i <= 20; ++i) {
    ConfigStore& writer = (i % 2) ? store_ : second;
    ASSERT_TRUE(writer.AddChannel({i, i, "unit " + std::to_string(i), ""})) << i;
    ASSERT_TRUE(writer.ResetControllerMemory(i)) << i;
    ASSERT_TRUE(writer.SaveCurrentChannel(i)) << i;
  }
  EXPECT_EQ(second.Channels()->size(), 20u);
  EXPECT_EQ(store_.GetCurrentChannel(), 20);
  EXPECT_EQ(Count("SELECT count(*) FROM ControllerMemory"), 20 * 64);
}

}  // namespace
}  // namespace tarvel::store
