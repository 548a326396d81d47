#pragma once
// store: the configuration database (SQLite through SQLiteCpp) and the sensor menu database.
// Depends on util. Every statement binds its values; nothing crosses this layer as an exception.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/rows.h"
#include "util/result.h"

namespace SQLite {
class Database;
}

namespace tarvel::store {

enum class ChannelField { SoftwareChannel, ModBusAddress, NickName, ControllerType };

// Table Zones: channels grouped as one furnace; a channel belongs to one zone at most.
struct ZoneRow {
  std::string zoneName;
  int softwareChannel = 0;
  bool operator==(const ZoneRow&) const = default;
};
// The statement that makes the Zones table; PrepareHome runs it with the other tables.
const char* ZonesSchema();

// One connection to Setup/ChannelManagement.db. Open one per thread; several connections
// to the same file read and write in turn (WAL, busy timeout).
class ConfigStore {
 public:
  // Opens an existing database; the store never creates one (PrepareHome does).
  // A store whose open failed answers every operation with that failure.
  explicit ConfigStore(const std::filesystem::path& file);
  ~ConfigStore();
  ConfigStore(const ConfigStore&) = delete;
  ConfigStore& operator=(const ConfigStore&) = delete;

  const Status& OpenStatus() const { return open_; }

  // --- ChannelMap
  Result<std::vector<ChannelRow>> Channels();  // ordered by SoftwareChannel
  Result<std::optional<ChannelRow>> ChannelByNumber(int softwareChannel);
  Result<std::optional<ChannelRow>> ChannelByAddress(int modbusAddress);
  Result<std::optional<ChannelRow>> ChannelByNickName(std::string_view nickName);
  Result<bool> ChannelMapIsEmpty();
  Result<int> HighestSoftwareChannel();  // 0 for an empty map
  // Refuses a channel, address or nickname that another row holds (Code::Duplicate,
  // message names the field).
  Status AddChannel(const ChannelRow& row);
  // Changes one field of the row of softwareChannel. A value equal to the row's own
  // is not a duplicate; a number field takes only a 16-bit whole number (Code::Invalid).
  Status SetChannelField(int softwareChannel, ChannelField field, std::string_view value);
  Status DeleteChannel(int softwareChannel);           // NotFound when there is no row
  Status DeleteChannelByAddress(int modbusAddress);    // the first row holding it
  Status ClearChannelMap();

  // --- CommunicationsPort (first row only)
  // CommPortNumber of the first row; -1 for no row, an empty field or any failure.
  int GetCommPortNumber();
  Result<std::optional<PortRow>> Port();
  Status SavePortSettings(const PortRow& row);  // edits the first row, adds it when absent

  // --- ControllerMemory
  Result<std::vector<MemoryRow>> Memory(int modbusAddress);  // ordered by Segment
  Result<std::optional<MemoryRow>> MemoryStep(int modbusAddress, int segment);
  Result<std::vector<MemoryRow>> ModifiedSteps(int modbusAddress);  // ordered by Segment
  // Stores downloaded words for each given step (edit or add); Modified stays as it was
  // (0 for a new row). All rows in one transaction.
  Status WriteMemorySteps(int modbusAddress, const std::vector<MemoryRow>& steps);
  Status ResetControllerMemory(int modbusAddress);  // 64 zeroed rows, one transaction
  Status SetStepModified(int modbusAddress, int segment, int value);  // NotFound without a row

  // --- TarvelLog
  Result<std::vector<LogRow>> Log(int modbusAddress);  // ordered by Start
  Result<std::optional<LogRow>> LogEntry(int modbusAddress, std::string_view profileName);
  Result<std::optional<LogRow>> LogEntryByRange(int modbusAddress, int start, int stop);
  Status WriteLogEntry(const LogRow& row);  // key (ProfileName, ModBusAddress): edit or add
  Status DeleteLogEntry(int modbusAddress, std::string_view profileName);  // NotFound when absent

  // --- ControllerConfiguration
  Result<std::optional<ControllerConfigRow>> ControllerConfig(int modbusAddress);
  Status SaveRunSelection(int modbusAddress, std::string_view profileName, int lowStep, int highStep);
  Status SaveRunState(int modbusAddress, int runMode, int step, int stepTime);

  // --- TarvelConfiguration
  int GetCurrentChannel();  // -1 when there is no row (or it cannot be read)
  Status SaveCurrentChannel(int channel);

  // --- Zones (config_store_zones.cpp)
  Result<std::vector<ZoneRow>> Zones();  // ordered by ZoneName, then SoftwareChannel
  // Puts the channel in the zone, taking it out of any other. Invalid for an empty name.
  Status SetZone(int softwareChannel, std::string_view zoneName);
  Status RemoveFromZone(int softwareChannel);  // NotFound when it is in none
  Status DeleteZone(std::string_view zoneName);  // NotFound when no channel is in it

  // Deletes ControllerMemory rows whose ModBusAddress and CommunicationsPort rows whose
  // CommPortNumber is not a 16-bit whole number. One transaction.
  Status PurgeInvalidRows();

  // --- channels found on the line and controllers given a new address
  // The ChannelMap row and its 64 zeroed ControllerMemory rows, in one transaction. Refuses
  // (Code::Duplicate) a channel, address or nickname another row holds.
  Status AddScannedChannel(const ChannelRow& row);
  // Moves the rows of address `from` in ChannelMap, ControllerMemory, TarvelLog and
  // ControllerConfiguration to `to`, in one transaction. Rows still at `to` belong to no
  // controller any more (the caller has made sure none answers there) and go first.
  // Refuses (Code::Duplicate) when the channel map already maps `to`.
  Status MoveAddress(int from, int to);

 private:
  template <class F>
  auto Guard(F&& body) -> decltype(body());

  Status open_;  // before db_: the open sets it
  std::unique_ptr<SQLite::Database> db_;
};

// Read-only access to the sensor menu database (table Menu).
class SensorMenu {
 public:
  explicit SensorMenu(const std::filesystem::path& file);
  ~SensorMenu();
  SensorMenu(const SensorMenu&) = delete;
  SensorMenu& operator=(const SensorMenu&) = delete;

  const Status& OpenStatus() const { return open_; }
  Result<std::vector<SensorRow>> All();  // in table order
  // Trailing blanks do not count: a 5-character caption from a profile file finds "K".
  Result<std::optional<SensorRow>> ByCaption(std::string_view caption);
  Result<std::optional<SensorRow>> ByIndex(int index);

 private:
  Status open_;
  std::unique_ptr<SQLite::Database> db_;
};

}  // namespace tarvel::store
