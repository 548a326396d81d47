#include <SQLiteCpp/SQLiteCpp.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "store/sql.h"
#include "util/file_problem.h"

namespace tarvel::store {
namespace {

struct Table {
  const char* name;
  const char* create;
};

// Column order matters: grids bound to ControllerMemory and TarvelLog show it. Columns the
// described tables do not have come last, so those grids still show the described ones first.
constexpr Table kTables[] = {
    {"ChannelMap", R"(CREATE TABLE IF NOT EXISTS "ChannelMap" (
         "SoftwareChannel" INTEGER NOT NULL UNIQUE,
         "ModBusAddress" INTEGER NOT NULL UNIQUE,
         "NickName" TEXT UNIQUE,
         "ControllerType" TEXT))"},
    {"CommunicationsPort", R"(CREATE TABLE IF NOT EXISTS "CommunicationsPort" (
         "CommPortNumber" INTEGER, "CommPortMode" INTEGER, "Rate" INTEGER,
         "Parity" TEXT, "Bits" INTEGER, "StopBits" INTEGER, "DevicePath" TEXT))"},
    {"ControllerMemory", R"(CREATE TABLE IF NOT EXISTS "ControllerMemory" (
         "ModBusAddress" INTEGER, "Segment" INTEGER, "Duration" INTEGER,
         "Temperature" INTEGER, "PIDSet" INTEGER, "Modified" INTEGER,
         "Unknown" INTEGER NOT NULL DEFAULT 0,
         UNIQUE ("ModBusAddress", "Segment")))"},
    {"TarvelLog", R"(CREATE TABLE IF NOT EXISTS "TarvelLog" (
         "ModBusAddress" INTEGER, "ProfileName" TEXT, "Start" INTEGER, "Stop" INTEGER,
         "SensorType" TEXT, "TemperatureScaleType" TEXT, "TimeScaleType" TEXT,
         "ProgressionType" TEXT,
         UNIQUE ("ProfileName", "ModBusAddress")))"},
    {"ControllerConfiguration", R"(CREATE TABLE IF NOT EXISTS "ControllerConfiguration" (
         "ModBusAddress" INTEGER UNIQUE, "ProfileNameExecuting" TEXT,
         "ProgramLowAddress" INTEGER, "ProgramHighAddress" INTEGER, "RunMode" INTEGER,
         "SegmentExecuting" INTEGER, "SegmentElapsedTime" INTEGER))"},
    {"TarvelConfiguration", R"(CREATE TABLE IF NOT EXISTS "TarvelConfiguration" ("CurrentChannel" INTEGER))"},
    // An address change written before the controller is asked, gone once the rows moved.
    {"AddressChange", R"(CREATE TABLE IF NOT EXISTS "AddressChange" (
         "OldAddress" INTEGER NOT NULL UNIQUE, "NewAddress" INTEGER NOT NULL, "Requested" TEXT NOT NULL))"},
    // What each controller has shown on the line: NULL not tried, 1 yes, 0 no.
    {"ControllerCapabilities", R"(CREATE TABLE IF NOT EXISTS "ControllerCapabilities" (
         "ModBusAddress" INTEGER NOT NULL UNIQUE, "PairWrites" INTEGER, "BlockReads" INTEGER,
         "ModeBlockReads" INTEGER))"},
    // Channels grouped as one furnace; a channel belongs to one zone at most.
    {"Zones", R"(CREATE TABLE IF NOT EXISTS "Zones" (
         "ZoneName" TEXT NOT NULL, "SoftwareChannel" INTEGER NOT NULL UNIQUE))"},
    // Load records: the open ones, and the seal of each closed one.
    {"Loads", R"(CREATE TABLE IF NOT EXISTS "Loads" (
         "LoadId" TEXT NOT NULL UNIQUE, "State" TEXT NOT NULL, "Channels" TEXT, "Opened" TEXT,
         "Head" TEXT, "Lines" INTEGER NOT NULL DEFAULT 0))"},
    // A client's start waiting for the process that records: who started it and the shop's fields.
    {"LoadStarts", R"(CREATE TABLE IF NOT EXISTS "LoadStarts" (
         "SoftwareChannel" INTEGER NOT NULL UNIQUE, "Operator" TEXT, "StartedBy" TEXT, "Requested" INTEGER))"},
    {"LoadStartFields", R"(CREATE TABLE IF NOT EXISTS "LoadStartFields" (
         "SoftwareChannel" INTEGER NOT NULL, "Position" INTEGER NOT NULL, "Name" TEXT, "Value" TEXT))"},
    // Operator actions on a channel, waiting for the process that records them in the load.
    {"LoadActions", R"(CREATE TABLE IF NOT EXISTS "LoadActions" (
         "Id" INTEGER PRIMARY KEY AUTOINCREMENT, "SoftwareChannel" INTEGER NOT NULL, "At" INTEGER NOT NULL,
         "Kind" TEXT NOT NULL, "Who" TEXT, "What" TEXT, "OldValue" TEXT, "NewValue" TEXT))"},
    // Alarms raised by the line watch, kept after they clear: who acknowledged which, and when.
    {"Alarms", R"(CREATE TABLE IF NOT EXISTS "Alarms" (
         "Id" INTEGER PRIMARY KEY AUTOINCREMENT, "SoftwareChannel" INTEGER NOT NULL, "Kind" TEXT NOT NULL,
         "Raised" INTEGER NOT NULL, "Text" TEXT, "Cleared" INTEGER, "AckedBy" TEXT, "Acked" INTEGER))"},
};

struct AddedColumn {
  const char* table;
  const char* column;
  const char* definition;
};

// Columns that databases of earlier versions lack; ALTER TABLE adds them at the end.
constexpr AddedColumn kAddedColumns[] = {
    {"CommunicationsPort", "DevicePath", "TEXT"},                   // the serial device a port number stands for
    {"ControllerMemory", "Unknown", "INTEGER NOT NULL DEFAULT 0"},  // not 0: the controller may hold other words
    // While Modified: the time into the step at which the jump's shortened copy begins.
    {"ControllerMemory", "JumpTime", "INTEGER NOT NULL DEFAULT 0"},
    // A selection whose limits are being written: NULL name when there is none.
    {"ControllerConfiguration", "PendingProfileName", "TEXT"},
    {"ControllerConfiguration", "PendingLowAddress", "INTEGER"},
    {"ControllerConfiguration", "PendingHighAddress", "INTEGER"},
    {"ControllerCapabilities", "ModeBlockReads", "INTEGER"},  // run mode and limits in one read
    {"ChannelMap", "Port", "TEXT"},  // the serial device of the channel's line: several lines per home
};

bool HasTable(SQLite::Database& db, const char* table) {
  SQLite::Statement q(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
  q.bind(1, table);
  return q.executeStep();
}

bool HasColumn(SQLite::Database& db, const char* table, const char* column) {
  SQLite::Statement q(db, "SELECT 1 FROM pragma_table_info(?) WHERE name = ?");
  q.bind(1, table);
  q.bind(2, column);
  return q.executeStep();
}

bool SchemaIsCurrent(SQLite::Database& db) {
  for (const Table& t : kTables)
    if (!HasTable(db, t.name)) return false;
  for (const AddedColumn& c : kAddedColumns)
    if (!HasColumn(db, c.table, c.column)) return false;
  return true;
}

// Why SQLite could not open or write the file, when it does not say: what the system says to us.
int ProbeSystemError(const std::filesystem::path& file) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  ::close(fd);
  // The journal files of a WAL database live beside it: its folder must take new files.
  const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
  return ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

// An I/O failure the system explains badly or not at all: a folder where the database or one of
// its journal files should be, or a disk without room. Empty when neither is found.
std::string IoObstacle(const std::filesystem::path& file, Status::Code& code) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    const std::string path = file.string() + suffix;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
      code = Status::Code::Failed;
      return "a folder stands where " + path + " should be";
    }
  }
  struct statvfs disk {};
  const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
  if (::statvfs(folder.c_str(), &disk) == 0 && disk.f_bavail == 0) {
    code = Status::Code::Full;
    return "the disk is full";
  }
  return {};
}

}  // namespace

Status RefuseEmptyDatabase(const std::filesystem::path& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec || size > 0) return Status::Ok();  // a file that cannot be looked at says why when opened
  return Status::Error(Status::Code::Damaged, "Empty database: " + file.string() +
                                                  " holds nothing (0 bytes), not the channel map, memory and log");
}

void EnsureConfigSchema(SQLite::Database& db) {
  // Checked first: a current database that may only be read is opened without a write.
  if (SchemaIsCurrent(db)) return;
  SQLite::Transaction txn(db, SQLite::TransactionBehavior::IMMEDIATE);
  for (const Table& t : kTables) db.exec(t.create);
  const bool hadPorts = HasColumn(db, "ChannelMap", "Port");
  for (const AddedColumn& c : kAddedColumns)
    if (!HasColumn(db, c.table, c.column))
      db.exec(std::string("ALTER TABLE \"") + c.table + "\" ADD COLUMN \"" + c.column + "\" " + c.definition);
  // Every channel mapped before ports per channel is on the one port the home had.
  if (!hadPorts) db.exec(R"(UPDATE "ChannelMap" SET "Port" = )" + kStoredPort);
  txn.commit();
}

Status DatabaseFailure(const std::filesystem::path& file, const std::exception& e, SQLite::Database* db) {
  const auto* sqlite = dynamic_cast<const SQLite::Exception*>(&e);
  const int code = sqlite ? (sqlite->getErrorCode() & 0xff) : -1;
  const std::string path = file.string();
  const std::string detail = std::string(" (") + e.what() + ")";
  using Code = Status::Code;
  switch (code) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Status::Error(Code::Busy, "Database locked: " + path + " is in use by another program" + detail);
    case SQLITE_READONLY:
      return Status::Error(Code::ReadOnly, "Read-only database: " + path + " cannot be written" + detail);
    case SQLITE_FULL: return Status::Error(Code::Full, "Disk full: " + path + " cannot grow" + detail);
    case SQLITE_PERM:
    case SQLITE_AUTH: return Status::Error(Code::Permission, "Permission denied: " + path + detail);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return Status::Error(Code::Damaged, "Damaged database: " + path + detail);
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR: {
      int error = db ? sqlite3_system_errno(db->getHandle()) : 0;
      if (error == 0 || error == EISDIR) {
        Status::Code obstacleCode = Status::Code::Failed;
        if (const std::string obstacle = IoObstacle(file, obstacleCode); !obstacle.empty())
          return Status::Error(obstacleCode, "Cannot use the database " + path + ": " + obstacle + detail);
      }
      if (error == 0 && code == SQLITE_CANTOPEN) error = ProbeSystemError(file);
      if (error != 0) {
        const std::error_code ec(error, std::generic_category());
        return Status::Error(CodeOfError(ec), "Cannot use the database " + path + ": " + ReasonOfError(ec) + detail);
      }
      break;
    }
    default: break;
  }
  return Status::Failed("Database error: " + path + detail);
}

}  // namespace tarvel::store
