// The channel map window's workflows: grid edits, the line scan and the address change,
// against the simulator on a pseudo-terminal and the configuration database.
#include <SQLiteCpp/SQLiteCpp.h>
#include <gmock/gmock.h>

#include "console/channel_map.h"
#include "support/console_fixture.h"
#include "tool_views.h"

namespace tarvel::console {
namespace {

using store::ChannelField;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

class ChannelMapTest : public ConsoleFixture {
 protected:
  ChannelMapTest() : ConsoleFixture({1, 2, 5}) {}
  std::vector<int> Addresses() {
    std::vector<int> addresses;
    for (const auto& row : store_.Channels().value_or({})) addresses.push_back(row.modbusAddress);
    return addresses;
  }

  RecordingMapView mapView_;
  ChannelMap map_{folder_, store_, line_, mapView_};
};

TEST_F(ChannelMapTest, GridEditsRefuseBlanksDuplicatesAndBadNumbersButNotACellsOwnValue) {
  Map(1, 1, "Kiln");
  Map(2, 2, "Oven");
  map_.BeginEdit();
  EXPECT_EQ(mapView_.messages, "Hit ENTER to update field\r\n");

  EXPECT_EQ(map_.StoreEdit(1, ChannelField::NickName, "Kiln"), EditOutcome::Saved);
  EXPECT_EQ(map_.StoreEdit(2, ChannelField::ControllerType, "set64rs"), EditOutcome::Saved);
  EXPECT_EQ(map_.StoreEdit(1, ChannelField::NickName, "Oven"), EditOutcome::Refused);
  EXPECT_EQ(map_.StoreEdit(1, ChannelField::SoftwareChannel, "2"), EditOutcome::Refused);
  EXPECT_EQ(mapView_.messages,
            "Hit ENTER to update field\r\nDuplicate entries not allowed in the channel map\r\n"
            "Duplicate entries not allowed in the channel map\r\n");

  // A bad number keeps the editor open and says why; channels are whole, addresses 1 to 64 too.
  const std::tuple<ChannelField, const char*, const char*> refused[] = {
      {ChannelField::ModBusAddress, "abc", "Error: ModBus address must be a number"},
      {ChannelField::ModBusAddress, "2.7", "Error: ModBus address must be a whole number"},
      {ChannelField::ModBusAddress, "65", "Error: Modbus address must be in the range from 1 and 64"},
      {ChannelField::ModBusAddress, "0", "Error: Modbus address must be in the range from 1 and 64"},
      {ChannelField::SoftwareChannel, "abc", "Error: SoftwareChannel must be a number"},
      {ChannelField::SoftwareChannel, "2.7", "Error: SoftwareChannel must be a whole number"},
      {ChannelField::SoftwareChannel, "-5", "Error: SoftwareChannel must be in the range from 1 and 32767"},
      {ChannelField::SoftwareChannel, "32768", "Error: SoftwareChannel must be in the range from 1 and 32767"},
  };
  for (auto [field, text, message] : refused) {
    map_.Messages().ClearDisplay();
    EXPECT_EQ(map_.StoreEdit(2, field, text), EditOutcome::KeepEditing) << text;
    EXPECT_EQ(mapView_.messages, std::string(message) + "\r\n") << text;
  }
  EXPECT_EQ(map_.StoreEdit(2, ChannelField::ModBusAddress, ""), EditOutcome::Refused);
  EXPECT_THAT(mapView_.messages, EndsWith("Do not leave fields blank\r\n"));
  EXPECT_EQ(Addresses(), (std::vector<int>{1, 2}));
  EXPECT_EQ(store_.HighestSoftwareChannel().value_or(0), 2);

  EXPECT_EQ(map_.StoreEdit(2, ChannelField::ModBusAddress, "7"), EditOutcome::Saved);
  ASSERT_EQ(mapView_.rows.size(), 2u);
  EXPECT_EQ(mapView_.rows[1].modbusAddress, 7);
  // The channel is a number of the user's choosing: only the address stops at 64.
  EXPECT_EQ(map_.StoreEdit(2, ChannelField::SoftwareChannel, "100"), EditOutcome::Saved);
  EXPECT_EQ(map_.StoreEdit(100, ChannelField::SoftwareChannel, "2"), EditOutcome::Saved);

  // Delete Row asks first, naming the row.
  mapView_.confirmAnswers = {false, true};
  map_.DeleteRow(1);
  EXPECT_EQ(Addresses(), (std::vector<int>{1, 7}));
  EXPECT_EQ(mapView_.boxes.back(), "Delete Row: Delete channel 1 (ModBusAddress=1, Kiln) from the channel map?");
  map_.DeleteRow(1);
  EXPECT_EQ(Addresses(), (std::vector<int>{7}));
  mapView_.confirmAnswers = {false, true};
  map_.ClearMap();
  EXPECT_EQ(Addresses(), (std::vector<int>{7}));
  map_.ClearMap();
  EXPECT_TRUE(Addresses().empty());
  EXPECT_TRUE(mapView_.rows.empty());
  EXPECT_EQ(mapView_.boxes.back(), "Clear Channel Map: WARNING: This will wipe out all entries. Proceed?");

  // "Open Menu File": the grid shows the map of another database, which is only read; the own
  // file shows the own map again.
  const AppFolder other(dir_.path() / "other");
  ASSERT_TRUE(store::PrepareHome(other).fatal.ok());
  ASSERT_TRUE(store::ConfigStore(other.ConfigDatabase()).AddChannel({7, 9, "Elsewhere", "xmt63"}));
  const auto before = std::filesystem::last_write_time(other.ConfigDatabase());
  map_.OpenChannelMapDatabase(other.ConfigDatabase());
  EXPECT_EQ(mapView_.messages, "Opening Channel Map database\r\n");
  ASSERT_EQ(mapView_.rows.size(), 1u);
  EXPECT_EQ(mapView_.rows[0].nickName, "Elsewhere");
  EXPECT_EQ(std::filesystem::last_write_time(other.ConfigDatabase()), before);
  map_.OpenChannelMapDatabase(folder_.ConfigDatabase());
  EXPECT_TRUE(mapView_.rows.empty());
}

TEST_F(ChannelMapTest, AddRowMapsTheNextChannelToTheLowestFreeAddressWithItsMemory) {
  EXPECT_TRUE(map_.AddRow());
  EXPECT_EQ(mapView_.messages, "Channel 1 added at ModBusAddress=1: edit its cells to match your controller\r\n");
  Map(2, 2, "Oven");
  Map(32767, 5, "Last");
  EXPECT_TRUE(map_.AddRow());  // the highest channel there is is taken: the lowest free one
  auto row = store_.ChannelByNumber(3).value_or(std::nullopt);
  ASSERT_TRUE(row);
  EXPECT_EQ(std::tie(row->modbusAddress, row->nickName, row->controllerType), std::tuple(3, "Default3", "set64rs"));
  EXPECT_EQ(store_.Memory(3).value_or({}).size(), 64u);
  EXPECT_TRUE(std::filesystem::is_directory(folder_.LogFiles() / "Channel-03"));
  ASSERT_EQ(mapView_.rows.size(), 4u);

  for (int address = 6; address <= 63; ++address) Map(address, address, "Unit" + std::to_string(address));
  Map(4, 64, "Unit64");
  map_.Messages().ClearDisplay();
  EXPECT_TRUE(map_.AddRow());  // channel 5 and address 4 are the last free ones
  map_.Messages().ClearDisplay();
  EXPECT_FALSE(map_.AddRow());
  EXPECT_EQ(mapView_.messages, "Every ModBus address from 1 to 64 is in the channel map: no row added\r\n");
}

TEST_F(ChannelMapTest, ScanReportsEveryAddressAndWithAddNewMapsNewUnitsWithTheirMemoryAndFolders) {
  Map(12, 1, "Kiln");
  Map(3, 40, "Gone");
  map_.ScanAddresses({});
  EXPECT_THAT(mapView_.messages,
              ::testing::StartsWith("Unit #1 Detected : Modbus address already in the Channel Map\r\n"
                                    "Unit #2 Detected : Modbus address not in the Channel Map\r\n"
                                    "Unit #3 Not Found\r\nUnit #4 Not Found\r\n"));
  EXPECT_THAT(mapView_.messages, HasSubstr("Unit #64 Not Found\r\nScan finished\r\n3 Found\r\n"
                                           "Following ModBus Addresses Detected:  1 2 5\r\n"));
  EXPECT_EQ(mapView_.progressDone, 64);
  EXPECT_EQ(Addresses(), (std::vector<int>{40, 1}));  // nothing changed without the options

  map_.ScanAddresses({.addNew = true, .removeMissing = true});
  EXPECT_THAT(mapView_.messages, HasSubstr("Unit #2 Detected : ModBus address added to Channel Map\r\n"));
  auto rows = store_.Channels().value_or({});
  ASSERT_EQ(rows.size(), 3u);  // 40 is gone
  EXPECT_EQ(std::tie(rows[1].softwareChannel, rows[1].modbusAddress, rows[1].nickName, rows[1].controllerType),
            std::tuple(13, 2, "Default13", "set64rs"));
  EXPECT_EQ(std::tie(rows[2].softwareChannel, rows[2].modbusAddress), std::tuple(14, 5));
  auto memory = store_.Memory(5).value_or({});
  ASSERT_EQ(memory.size(), 64u);
  const store::MemoryRow& last = memory[63];
  EXPECT_EQ(std::tie(last.segment, last.duration, last.temperature, last.pidSet, last.modified),
            std::tuple(64, 0, 0, 0, 0));
  for (const char* made : {"Channel-13", "Channel-14"})
    EXPECT_TRUE(std::filesystem::is_directory(folder_.LogFiles() / made)) << made;
  EXPECT_EQ(mapView_.rows.size(), 3u);
}

TEST_F(ChannelMapTest, AddressChangeRefusesBadTargetsBeforeAnythingIsSent) {
  Map(1, 1, "Kiln");
  Map(2, 5, "Dryer");
  const std::pair<std::pair<const char*, const char*>, const char*> refusals[] = {
      {{"x", "3"}, "Error: Controller address targeted for change is not a valid number\r\n"},
      {{"1", "y"}, "Error: ModBus address must be a number\r\n"},
      {{"1", "0"}, "Error: Modbus address must be in the range from 1 and 64\r\n"},
      {{"1", "65"}, "Error: Modbus address must be in the range from 1 and 64\r\n"},
      {{"1", "2.5"}, "Error: ModBus address must be a whole number\r\n"},
      {{"248", "3"}, "Error: Controller address targeted for change must be in the range from 1 and 247\r\n"},
      {{"1", "5"},
       "Target address is already in the channel map\r\n"
       "Choose a different target address or delete entry with ModBusAddress=5\r\n"},
      // Unit 2 is on the line though not in the map: two units would answer together.
      {{"1", "2"}, "Target address is already used by a unit on the line\r\nChoose a different target address\r\n"},
  };
  for (const auto& [texts, message] : refusals) {
    map_.Messages().ClearDisplay();
    EXPECT_FALSE(map_.ChangeAddress(texts.first, texts.second));
    EXPECT_EQ(mapView_.messages, message) << texts.second;
  }
  // A lost reply is no free address: unit 2 is asked again.
  sim_.InjectFault(sim::Fault::NoReply);
  map_.Messages().ClearDisplay();
  EXPECT_FALSE(map_.ChangeAddress("1", "2"));
  EXPECT_EQ(mapView_.messages, refusals[7].second);
  for (const auto& frame : sim_.Requests()) EXPECT_NE(frame[1], 0x10) << "no write";
  EXPECT_TRUE(sim_.HasUnit(1));
  EXPECT_EQ(Addresses(), (std::vector<int>{1, 5}));

  EXPECT_TRUE(store_.PendingAddressChanges().value_or({}).empty()) << "a refused change is not recorded";

  // No unit at 3: the write goes unanswered, neither address answers, and the change stays
  // recorded for the next start to ask again.
  map_.Messages().ClearDisplay();
  EXPECT_FALSE(map_.ChangeAddress("3", "8"));
  EXPECT_THAT(mapView_.messages, ::testing::StartsWith("Error: Cound not set unit at 3 to new address 8\r\n"));
  EXPECT_THAT(mapView_.messages, HasSubstr("neither address answers"));
  auto pending = store_.PendingAddressChanges().value_or({});
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(std::pair(pending[0].oldAddress, pending[0].newAddress), std::pair(3, 8));
}

TEST_F(ChannelMapTest, AddressChangeMovesEveryRowOfTheUnitInOneTransactionOnceTheUnitHasMoved) {
  Map(1, 1, "Kiln");
  ASSERT_TRUE(store_.WriteMemorySteps(1, {{1, 3, 60, 200, 1, 0}}));
  ASSERT_TRUE(store_.WriteLogEntry({1, "kiln.txt", 1, 3, "K", "F", "M", "SV"}));
  ASSERT_TRUE(store_.SaveRunSelection(1, "kiln.txt", 1, 3));

  EXPECT_TRUE(map_.ChangeAddress("1", "7"));
  EXPECT_EQ(mapView_.messages, "Unit at 1 set to new address at 7\r\nChannel 1 moved to ModBusAddress=7\r\n");
  EXPECT_TRUE(sim_.HasUnit(7) && !sim_.HasUnit(1));
  EXPECT_EQ(Addresses(), (std::vector<int>{7}));
  auto memory = store_.Memory(7).value_or({});
  ASSERT_EQ(memory.size(), 64u);
  EXPECT_EQ(memory[2].temperature, 200);
  EXPECT_TRUE(store_.Memory(1).value_or({}).empty());
  EXPECT_TRUE(store_.LogEntry(7, "kiln.txt").value_or(std::nullopt).has_value());
  EXPECT_TRUE(store_.ControllerConfig(7).value_or(std::nullopt).has_value());
  EXPECT_FALSE(store_.ControllerConfig(1).value_or(std::nullopt).has_value());

  // A move the database cannot finish leaves every table as it was, not half moved.
  {
    SQLite::Database db(folder_.ConfigDatabase().string(), SQLite::OPEN_READWRITE);
    db.exec(R"(CREATE TRIGGER refuse BEFORE UPDATE ON "ControllerConfiguration"
               BEGIN SELECT RAISE(ABORT, 'disk trouble'); END)");
  }
  map_.Messages().ClearDisplay();
  EXPECT_FALSE(map_.ChangeAddress("7", "8")) << "the unit moved, the database did not";
  EXPECT_THAT(mapView_.messages, HasSubstr("Error: the unit now answers at 8 but the database could not follow"));
  EXPECT_THAT(mapView_.messages, Not(HasSubstr("moved to")));
  EXPECT_EQ(Addresses(), (std::vector<int>{7}));
  EXPECT_EQ(store_.Memory(7).value_or({}).size(), 64u);
  EXPECT_TRUE(store_.LogEntry(7, "kiln.txt").value_or(std::nullopt).has_value());
  EXPECT_EQ(store_.PendingAddressChanges().value_or({}).size(), 1u) << "recorded for the next start";
}

}  // namespace
}  // namespace tarvel::console
