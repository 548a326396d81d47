#pragma once
// store: the rows of the configuration database, one struct per table.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvel::store {

struct ChannelRow {
  int softwareChannel = 0;
  int modbusAddress = 0;
  std::string nickName;
  std::string controllerType;
  // The serial device of the line the controller is on (column Port); empty: the stored port.
  std::string port{};
};

struct PortRow {
  int commPortNumber = 1;
  int commPortMode = 1;
  int rate = 9600;
  std::string parity = "N";
  int bits = 8;
  int stopBits = 1;
  std::string devicePath;  // the serial device the port number stands for
};

// Why a row's words may not be what the controller holds (column Unknown; 0: they are).
inline constexpr int kWriteUnfinished = 1;  // a write to the step began and was not read back
inline constexpr int kNotRead = 2;          // never read from the controller now at the address

// One program step of one controller as the program memory copy holds it.
struct MemoryRow {
  int modbusAddress = 0;
  int segment = 0;
  int duration = 0;     // word 2
  int temperature = 0;  // word 3
  int pidSet = 0;       // word 1
  int modified = 0;     // 1 while a jump has left a shortened copy in the controller
  int unknown = 0;      // kWriteUnfinished or kNotRead while the controller may hold other words
  // While modified: the time into the step at which the controller's shortened copy begins, so
  // the copy's step time plus this is where the program stands in this row's step (column JumpTime).
  int jumpTime = 0;
};

struct LogRow {
  int modbusAddress = 0;
  std::string profileName;
  int start = 0;
  int stop = 0;
  std::string sensorType;
  std::string temperatureScaleType;
  std::string timeScaleType;
  std::string progressionType;
};

// A profile selected for running: its name and the program limits it runs with.
struct RunSelection {
  std::string profileName;
  int lowStep = 0;
  int highStep = 0;
  bool operator==(const RunSelection&) const = default;
};

struct ControllerConfigRow {
  int modbusAddress = 0;
  std::string profileNameExecuting;
  int programLowAddress = 0;
  int programHighAddress = 0;
  int runMode = 0;
  int segmentExecuting = 0;
  int segmentElapsedTime = 0;
  // A selection recorded before its limits were written and not confirmed since (columns
  // PendingProfileName, PendingLowAddress, PendingHighAddress): the controller may hold either.
  std::optional<RunSelection> pending;
};

// An address change recorded before the controller was asked (table AddressChange).
struct AddressChangeRow {
  int oldAddress = 0;
  int newAddress = 0;
  std::string requested;  // UTC, "YYYY-MM-DD HH:MM:SS"
};

// A load record's entry (table Loads): the loads under way, so that a new recording process
// continues their records, and what each record was last sealed with, so that a line taken
// off its end is found.
struct LoadRow {
  std::string loadId;
  std::string state;     // "open" or "closed"
  std::string channels;  // the controllers' software channels, "1,2"
  std::string opened;    // UTC, ISO 8601
  std::string head;      // SHA-256 of the record's last line when it was last sealed (closed, signed)
  long long lines = 0;   // the record's line count then
  bool operator==(const LoadRow&) const = default;
};

// A client's start that the recording process has not taken yet (tables LoadStarts and
// LoadStartFields): one row per channel, a zone's members each with the same.
struct LoadStartRow {
  int softwareChannel = 0;
  std::string operatorName;
  std::string startedBy;                                    // "tarvel-cli", "console"
  long long requested = 0;                                  // ms since the epoch, UTC
  std::vector<std::pair<std::string, std::string>> fields;  // name, value, in the order given
  bool operator==(const LoadStartRow&) const = default;
};

// An operator's action on a channel's run (table LoadActions), for the load under way there.
struct LoadActionRow {
  long long id = 0;  // given by the table
  int softwareChannel = 0;
  long long at = 0;  // ms since the epoch, UTC
  std::string kind;  // "pause", "restart", "jump", "set value", "mode", "cancel"
  std::string who, what, oldValue, newValue;
  bool operator==(const LoadActionRow&) const = default;
};

// An alarm the line watch raised: open until Cleared, acknowledged once by whoever answered it.
struct AlarmRow {
  long long id = 0;  // given by the table
  int softwareChannel = 0;
  std::string kind;      // "band", "no reply"
  long long raised = 0;  // ms since the epoch, UTC
  std::string text;
  long long cleared = 0;  // 0 while open
  std::string ackedBy;    // empty while not acknowledged
  long long acked = 0;
  bool operator==(const AlarmRow&) const = default;
};

struct SensorRow {
  std::string caption;
  int index = 0;
  int fmin = 0, fmax = 0, cmin = 0, cmax = 0;
};

}  // namespace tarvel::store
