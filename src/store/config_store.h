#pragma once
// store: the configuration database (SQLite through SQLiteCpp) and the sensor menu database.
// Depends on util. Every statement binds its values; nothing crosses this layer as an exception.
// A failed operation says why in its Status: its code (Busy, ReadOnly, Full, Permission,
// Damaged, ...) and a message that names the database file and the reason.

#include <chrono>
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

enum class ChannelField { SoftwareChannel, ModBusAddress, NickName, ControllerType, Port };

// What a change of program steps does with the profile log rows whose range it touches: a clear
// or an upload takes them out (the steps no longer hold their program); a jump's rewrite of one
// step of a running profile keeps them.
enum class TouchedLogRows { Drop, Keep };

inline constexpr std::chrono::milliseconds kDefaultBusyTimeout{5000};

// Table ControllerCapabilities: what a controller has shown on the line beyond the two-register
// frames. nullopt: not tried yet (also for an address without a row).
struct CapabilityRow {
  int modbusAddress = 0;
  std::optional<bool> pairWrites;   // stores both registers of a write
  std::optional<bool> blockReads;   // answers a read of many registers of the step area
  std::optional<bool> modeBlock{};  // answers the run mode and the program limits in one read
  bool operator==(const CapabilityRow&) const = default;
};

// Table Zones: channels grouped as one furnace; a channel belongs to one zone at most.
struct ZoneRow {
  std::string zoneName;
  int softwareChannel = 0;
  bool operator==(const ZoneRow&) const = default;
};

// One connection to Setup/ChannelManagement.db. Open one per thread; several connections
// to the same file read and write in turn (WAL, busy timeout).
class ConfigStore {
 public:
  // Opens an existing database; the store never creates one (PrepareHome does). A database of
  // an earlier version gains the tables and columns it lacks. A store whose open failed answers
  // every operation with that failure. A write waits up to busyTimeout for another program's lock.
  // ReadOnly opens another database to look at it: nothing of it is changed, its schema neither.
  enum class Access { ReadWrite, ReadOnly };
  explicit ConfigStore(const std::filesystem::path& file, std::chrono::milliseconds busyTimeout = kDefaultBusyTimeout,
                       Access access = Access::ReadWrite);
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
  // message names the field). The address gets its program memory rows in the same
  // transaction: 64 zeroed ones for an address new to the database; for one that had rows (a
  // channel removed and another added there, an address reused), which may have another
  // controller now, its steps are marked kNotRead and its log rows, run selection and learnt
  // frames go.
  [[nodiscard]] Status AddChannel(const ChannelRow& row);
  // Changes one field of the row of softwareChannel. A value equal to the row's own
  // is not a duplicate; a number field takes only a 16-bit whole number (Code::Invalid).
  // A new address gets its rows as AddChannel gives them.
  [[nodiscard]] Status SetChannelField(int softwareChannel, ChannelField field, std::string_view value);
  [[nodiscard]] Status DeleteChannel(int softwareChannel);         // NotFound when there is no row
  [[nodiscard]] Status DeleteChannelByAddress(int modbusAddress);  // the first row holding it
  [[nodiscard]] Status ClearChannelMap();

  // --- CommunicationsPort (first row only)
  // CommPortNumber of the first row; -1 for no row, an empty field or any failure.
  int GetCommPortNumber();
  Result<std::optional<PortRow>> Port();
  [[nodiscard]] Status SavePortSettings(const PortRow& row);  // edits the first row, adds it when absent

  // --- ControllerMemory
  // Every row carries its mark: `unknown` is 1 while the controller may hold other words.
  Result<std::vector<MemoryRow>> Memory(int modbusAddress);  // ordered by Segment
  Result<std::optional<MemoryRow>> MemoryStep(int modbusAddress, int segment);
  Result<std::vector<MemoryRow>> ModifiedSteps(int modbusAddress);  // ordered by Segment
  Result<std::vector<MemoryRow>> UnknownSteps(int modbusAddress);   // marked rows, ordered by Segment
  // Stores words read from the controller for each given step (edit or add) and clears the
  // steps' marks: a good read is what the controller holds. Modified stays as it was (0 for a
  // new row). All rows in one transaction.
  [[nodiscard]] Status WriteMemorySteps(int modbusAddress, const std::vector<MemoryRow>& steps);
  [[nodiscard]] Status ResetControllerMemory(int modbusAddress);  // 64 zeroed rows, unmarked, one transaction
  // A step a jump is about to change gets a row when it has none: zeroed and marked kNotRead, so
  // nothing is ever put back from it. Clearing the mark of a step without a row is NotFound.
  // jumpTime: for the step a jump leads into, where its copy begins.
  [[nodiscard]] Status SetStepModified(int modbusAddress, int segment, int value, int jumpTime = 0);
  // Before a command writes steps first..last of a controller: marks their rows unknown (a row
  // that is missing is added, zeroed and marked) and, with TouchedLogRows::Drop, takes every
  // profile log row of the address whose Start..Stop touches first..last out of the log -- in
  // one transaction, so after a failure or a kill either all of it was recorded or none. A
  // failed call means the command must not write. Returns the log rows it took out.
  [[nodiscard]] Result<std::vector<LogRow>> MarkStepsUnknown(int modbusAddress, int first, int last,
                                                             TouchedLogRows touched);
  // What a verified upload leaves: the read-back words stored with their marks cleared, and the
  // profile's log row (key ProfileName, ModBusAddress: edit or add), in one transaction.
  [[nodiscard]] Status RecordUpload(int modbusAddress, const std::vector<MemoryRow>& readBack, const LogRow& entry);

  // --- TarvelLog
  Result<std::vector<LogRow>> Log(int modbusAddress);  // ordered by Start
  Result<std::optional<LogRow>> LogEntry(int modbusAddress, std::string_view profileName);
  Result<std::optional<LogRow>> LogEntryByRange(int modbusAddress, int start, int stop);
  [[nodiscard]] Status WriteLogEntry(const LogRow& row);  // key (ProfileName, ModBusAddress): edit or add
  [[nodiscard]] Status DeleteLogEntry(int modbusAddress, std::string_view profileName);  // NotFound when absent
  // Every log row of the address whose Start..Stop touches first..last, in one transaction;
  // returns the rows it took out (none is no failure).
  [[nodiscard]] Result<std::vector<LogRow>> DeleteLogEntriesTouching(int modbusAddress, int first, int last);

  // --- ControllerConfiguration
  Result<std::optional<ControllerConfigRow>> ControllerConfig(int modbusAddress);
  [[nodiscard]] Status SaveRunSelection(int modbusAddress, std::string_view profileName, int lowStep, int highStep);
  [[nodiscard]] Status SaveRunState(int modbusAddress, int runMode, int step, int stepTime);
  // Select records the selection before it writes the limits, as the address change does: a
  // kill or a database that fails after the write leaves the intent, which the next command
  // settles with the limits the controller holds. The confirmed selection stays until then.
  [[nodiscard]] Status RecordSelectionIntent(int modbusAddress, const RunSelection& selection);
  [[nodiscard]] Status ConfirmSelectionIntent(int modbusAddress);  // NotFound when none waits
  [[nodiscard]] Status DropSelectionIntent(int modbusAddress);
  // SaveRunSelection settles a waiting intent as well: it stores what the controller holds.

  // --- TarvelConfiguration
  int GetCurrentChannel();  // -1 when there is no row (or it cannot be read)
  [[nodiscard]] Status SaveCurrentChannel(int channel);

  // --- ControllerCapabilities (config_store_caps.cpp)
  Result<CapabilityRow> Capabilities(int modbusAddress);
  [[nodiscard]] Status SaveCapabilities(const CapabilityRow& row);  // edits or adds the address's row

  // --- Zones (config_store_zones.cpp)
  Result<std::vector<ZoneRow>> Zones();  // ordered by ZoneName, then SoftwareChannel
  // Puts the channel in the zone, taking it out of any other. Invalid for an empty name.
  [[nodiscard]] Status SetZone(int softwareChannel, std::string_view zoneName);
  [[nodiscard]] Status RemoveFromZone(int softwareChannel);    // NotFound when it is in none
  [[nodiscard]] Status DeleteZone(std::string_view zoneName);  // NotFound when no channel is in it

  // --- Loads (config_store_loads.cpp)
  Result<std::vector<LoadRow>> OpenLoads();  // ordered by Opened
  Result<std::optional<LoadRow>> Load(std::string_view loadId);
  [[nodiscard]] Status SaveLoad(const LoadRow& row);  // edits or adds the row of its LoadId
  // A client's start per channel, replacing any earlier one of the channel; one transaction.
  [[nodiscard]] Status SaveLoadStarts(const std::vector<LoadStartRow>& rows);
  Result<std::optional<LoadStartRow>> LoadStart(int softwareChannel);
  [[nodiscard]] Status DropLoadStarts(const std::vector<int>& softwareChannels);
  [[nodiscard]] Status AddLoadAction(const LoadActionRow& row);
  Result<std::vector<LoadActionRow>> LoadActions();  // oldest first
  [[nodiscard]] Status DropLoadActions(const std::vector<long long>& ids);
  // Takes back the latest row equal to row (its id aside) while no one has taken it: false when
  // there is none left.
  Result<bool> WithdrawLoadAction(const LoadActionRow& row);

  // --- Alarms (config_store_alarms.cpp): written by the process that watches the line; the
  // acknowledgement by whoever answers the alarm, from any process.
  Result<long long> RaiseAlarm(const AlarmRow& row);  // the new row's id
  // Closes the open alarms of these channels at `at`.
  [[nodiscard]] Status ClearAlarms(const std::vector<int>& softwareChannels, long long at);
  Result<std::vector<AlarmRow>> OpenAlarms();  // ordered by channel
  Result<std::optional<AlarmRow>> OpenAlarm(int softwareChannel);
  // Acknowledges the channel's open alarm unless someone already has: the row as it stands
  // after. NotFound when the channel has no open alarm; Invalid without a name.
  Result<AlarmRow> AcknowledgeAlarm(int softwareChannel, std::string_view who, long long at);

  // Deletes ControllerMemory rows whose ModBusAddress and CommunicationsPort rows whose
  // CommPortNumber is not a 16-bit whole number. One transaction.
  [[nodiscard]] Status PurgeInvalidRows();

  // --- channels found on the line and controllers given a new address
  // The ChannelMap row and its ControllerMemory rows, as AddChannel gives them. Refuses
  // (Code::Duplicate) a channel, address or nickname another row holds.
  [[nodiscard]] Status AddScannedChannel(const ChannelRow& row);
  // An address change is recorded before the controller is asked, so that a start after a
  // kill finds it and can ask both addresses. Refuses (Code::Duplicate) a `to` that the channel
  // map already maps, as MoveAddress would; replaces an earlier change of the same `from`.
  [[nodiscard]] Status RecordAddressChange(int from, int to);
  // Changes recorded and not yet resolved, oldest first.
  Result<std::vector<AddressChangeRow>> PendingAddressChanges();
  // Moves the rows of address `from` in ChannelMap, ControllerMemory, TarvelLog and
  // ControllerConfiguration (and what was learnt of its frames) to `to` and deletes the recorded
  // change from -> to, in one
  // transaction. Rows still at `to` belong to no controller any more (the caller has made sure
  // none answers there) and go first. Refuses (Code::Duplicate) when the channel map already maps `to`.
  [[nodiscard]] Status MoveAddress(int from, int to);
  // The controller stayed at `from`: the recorded change is deleted, no row moves.
  [[nodiscard]] Status DropAddressChange(int from, int to);

  const std::filesystem::path& File() const { return file_; }

 private:
  template <class F>
  auto Guard(F&& body) -> decltype(body());

  std::filesystem::path file_;
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
  std::filesystem::path file_;
  Status open_;
  std::unique_ptr<SQLite::Database> db_;
};

}  // namespace tarvel::store
