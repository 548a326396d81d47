#include "store/config_store.h"

#include <type_traits>

#include "store/sql.h"
#include "util/file_problem.h"
#include "util/text.h"

namespace tarvel::store {
namespace {

// A database only looked at may be older than the Port column: its rows have no port.
std::string PortOf(SQLite::Statement& q) {
  for (int i = 0; i < q.getColumnCount(); ++i)
    if (std::string_view(q.getColumnName(i)) == "Port") return TextOf(q.getColumn(i));
  return {};
}

ChannelRow ChannelFrom(SQLite::Statement& q) {
  return {IntOf(q.getColumn("SoftwareChannel")), IntOf(q.getColumn("ModBusAddress")), TextOf(q.getColumn("NickName")),
          TextOf(q.getColumn("ControllerType")), PortOf(q)};
}

SensorRow SensorFrom(SQLite::Statement& q) {
  return {TextOf(q.getColumn("Caption")), IntOf(q.getColumn("Index")), IntOf(q.getColumn("Fmin")),
          IntOf(q.getColumn("Fmax")),     IntOf(q.getColumn("Cmin")),  IntOf(q.getColumn("Cmax"))};
}

const char* ColumnName(ChannelField field) {
  switch (field) {
    case ChannelField::SoftwareChannel: return "SoftwareChannel";
    case ChannelField::ModBusAddress: return "ModBusAddress";
    case ChannelField::NickName: return "NickName";
    case ChannelField::ControllerType: return "ControllerType";
    case ChannelField::Port: return "Port";
  }
  return "";
}

AddressChangeRow AddressChangeFrom(SQLite::Statement& q) {
  return {IntOf(q.getColumn("OldAddress")), IntOf(q.getColumn("NewAddress")), TextOf(q.getColumn("Requested"))};
}

// The configuration database is brought up to the current schema on open; the sensor menu, and
// a configuration database only looked at, are only read.
enum class Purpose { Configuration, LookAt, SensorMenu };

std::unique_ptr<SQLite::Database> OpenDatabase(const std::filesystem::path& file, Purpose purpose,
                                               std::chrono::milliseconds busyTimeout, Status& status) {
  std::error_code ec;
  const std::filesystem::file_status found = std::filesystem::status(file, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) {
    status = FileProblem("open the database", file, ec);
    return nullptr;
  }
  if (!std::filesystem::exists(found)) {
    status = Status::Error(Status::Code::NotFound, "Database not found: " + file.string());
    return nullptr;
  }
  if (std::filesystem::is_directory(found)) {
    status = Status::Failed("Cannot open the database " + file.string() + ": it is a folder");
    return nullptr;
  }
  if (purpose != Purpose::SensorMenu) {
    status = RefuseEmptyDatabase(file);
    if (!status) return nullptr;
  }
  const int flags = purpose == Purpose::Configuration ? SQLite::OPEN_READWRITE : SQLite::OPEN_READONLY;
  std::unique_ptr<SQLite::Database> db;
  try {
    db = std::make_unique<SQLite::Database>(file.string(), flags, static_cast<int>(busyTimeout.count()));
    db->execAndGet("SELECT count(*) FROM sqlite_master");  // fails here for a damaged file
    if (purpose == Purpose::Configuration) EnsureConfigSchema(*db);
    return db;
  } catch (const std::exception& e) {
    status = DatabaseFailure(file, e, db.get());
    return nullptr;
  }
}

void InsertChannel(SQLite::Database& db, const ChannelRow& row) {
  // A row given no port is on the stored port, the one every channel was on before ports per channel.
  SQLite::Statement insert(
      db, R"(INSERT INTO "ChannelMap" ("SoftwareChannel", "ModBusAddress", "NickName", "ControllerType", "Port")
                                  VALUES (?, ?, ?, ?, COALESCE(NULLIF(?, ''), )" +
              kStoredPort + "))");
  insert.bind(1, row.softwareChannel);
  insert.bind(2, row.modbusAddress);
  insert.bind(3, row.nickName);
  insert.bind(4, row.controllerType);
  insert.bind(5, row.port);
  insert.exec();
}

}  // namespace

ConfigStore::ConfigStore(const std::filesystem::path& file, std::chrono::milliseconds busyTimeout, Access access)
    : file_(file),
      db_(OpenDatabase(file, access == Access::ReadWrite ? Purpose::Configuration : Purpose::LookAt, busyTimeout,
                       open_)) {}

ConfigStore::~ConfigStore() = default;

// --- ChannelMap

Result<std::vector<ChannelRow>> ConfigStore::Channels() {
  return Guard([&]() -> Result<std::vector<ChannelRow>> {
    return All<ChannelRow>(
        *db_, R"(SELECT * FROM "ChannelMap" ORDER BY "SoftwareChannel")", [](auto&) {}, ChannelFrom);
  });
}

Result<std::optional<ChannelRow>> ConfigStore::ChannelByNumber(int softwareChannel) {
  return Guard([&]() -> Result<std::optional<ChannelRow>> {
    return First<ChannelRow>(
        *db_, R"(SELECT * FROM "ChannelMap" WHERE "SoftwareChannel" = ?)", [&](auto& q) { q.bind(1, softwareChannel); },
        ChannelFrom);
  });
}

Result<std::optional<ChannelRow>> ConfigStore::ChannelByAddress(int modbusAddress) {
  return Guard([&]() -> Result<std::optional<ChannelRow>> {
    return First<ChannelRow>(
        *db_, R"(SELECT * FROM "ChannelMap" WHERE "ModBusAddress" = ?)", [&](auto& q) { q.bind(1, modbusAddress); },
        ChannelFrom);
  });
}

Result<std::optional<ChannelRow>> ConfigStore::ChannelByNickName(std::string_view nickName) {
  return Guard([&]() -> Result<std::optional<ChannelRow>> {
    return First<ChannelRow>(
        *db_, R"(SELECT * FROM "ChannelMap" WHERE "NickName" = ?)", [&](auto& q) { q.bind(1, std::string(nickName)); },
        ChannelFrom);
  });
}

Result<bool> ConfigStore::ChannelMapIsEmpty() {
  return Guard([&]() -> Result<bool> { return db_->execAndGet(R"(SELECT count(*) FROM "ChannelMap")").getInt() == 0; });
}

Result<int> ConfigStore::HighestSoftwareChannel() {
  return Guard([&]() -> Result<int> {
    auto top = db_->execAndGet(R"(SELECT max("SoftwareChannel") FROM "ChannelMap")");
    return top.isNull() ? 0 : top.getInt();
  });
}

Status ConfigStore::AddChannel(const ChannelRow& row) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_, kWrite);
    const std::pair<ChannelField, std::string> keys[] = {
        {ChannelField::SoftwareChannel, std::to_string(row.softwareChannel)},
        {ChannelField::ModBusAddress, std::to_string(row.modbusAddress)},
        {ChannelField::NickName, row.nickName}};
    for (const auto& [field, value] : keys) {
      SQLite::Statement q(*db_, std::string(R"(SELECT 1 FROM "ChannelMap" WHERE ")") + ColumnName(field) + "\" = ?");
      if (field == ChannelField::NickName)
        q.bind(1, value);
      else
        q.bind(1, std::stoi(value));
      if (q.executeStep())
        return Status::Error(Status::Code::Duplicate,
                             std::string("Duplicate entries not allowed in the channel map: ") + ColumnName(field) +
                                 " " + value + " is already mapped");
    }
    InsertChannel(*db_, row);
    PrepareAddressRows(*db_, row.modbusAddress);
    txn.commit();
    return Status::Ok();
  });
}

Status ConfigStore::SetChannelField(int softwareChannel, ChannelField field, std::string_view value) {
  return Guard([&]() -> Status {
    const std::string column = ColumnName(field);
    const bool numeric = field == ChannelField::SoftwareChannel || field == ChannelField::ModBusAddress;
    std::optional<std::int16_t> number;
    if (numeric && !(number = ToInt16(value)))
      return Status::Error(Status::Code::Invalid, column + " must be a whole number");
    auto bindValue = [&](SQLite::Statement& q, int index) {
      if (numeric)
        q.bind(index, *number);
      else
        q.bind(index, std::string(value));
    };
    SQLite::Transaction txn(*db_, kWrite);
    // Types repeat, and so do ports: a line carries many controllers.
    if (field != ChannelField::ControllerType && field != ChannelField::Port) {
      // The row being edited does not count: re-entering its own value is no duplicate.
      SQLite::Statement dup(*db_,
                            R"(SELECT 1 FROM "ChannelMap" WHERE ")" + column + R"(" = ? AND "SoftwareChannel" <> ?)");
      bindValue(dup, 1);
      dup.bind(2, softwareChannel);
      if (dup.executeStep())
        return Status::Error(Status::Code::Duplicate, "Duplicate entries not allowed in the channel map");
    }
    std::optional<int> movedFrom;
    if (field == ChannelField::ModBusAddress) {
      SQLite::Statement was(*db_, R"(SELECT "ModBusAddress" FROM "ChannelMap" WHERE "SoftwareChannel" = ?)");
      was.bind(1, softwareChannel);
      if (was.executeStep()) movedFrom = was.getColumn(0).getInt();
    }
    SQLite::Statement update(*db_, R"(UPDATE "ChannelMap" SET ")" + column + R"(" = ? WHERE "SoftwareChannel" = ?)");
    bindValue(update, 1);
    update.bind(2, softwareChannel);
    if (update.exec() == 0)
      return Status::Error(Status::Code::NotFound, "No channel " + std::to_string(softwareChannel));
    if (movedFrom && *movedFrom != *number) PrepareAddressRows(*db_, *number);
    txn.commit();
    return Status::Ok();
  });
}

Status ConfigStore::DeleteChannel(int softwareChannel) {
  return Guard([&]() -> Status {
    SQLite::Statement q(*db_, R"(DELETE FROM "ChannelMap" WHERE "SoftwareChannel" = ?)");
    q.bind(1, softwareChannel);
    if (q.exec() == 0) return Status::Error(Status::Code::NotFound, "No channel " + std::to_string(softwareChannel));
    return Status::Ok();
  });
}

Status ConfigStore::DeleteChannelByAddress(int modbusAddress) {
  return Guard([&]() -> Status {
    SQLite::Statement q(*db_, R"(DELETE FROM "ChannelMap" WHERE rowid =
                                   (SELECT rowid FROM "ChannelMap" WHERE "ModBusAddress" = ? LIMIT 1))");
    q.bind(1, modbusAddress);
    if (q.exec() == 0)
      return Status::Error(Status::Code::NotFound, "No channel at address " + std::to_string(modbusAddress));
    return Status::Ok();
  });
}

Status ConfigStore::ClearChannelMap() {
  return Guard([&]() -> Status {
    db_->exec(R"(DELETE FROM "ChannelMap")");
    return Status::Ok();
  });
}

Status ConfigStore::PurgeInvalidRows() {
  return Guard([&]() -> Status {
    // A key that reads as a 16-bit whole number stays; NULL, text, blobs and values out of
    // range go. Integer affinity has already turned numeric texts into numbers.
    const char* keep = R"(typeof(%1) IN ('integer', 'real') AND %1 >= -32768.5 AND %1 < 32767.5)";
    auto purge = [&](const std::string& table, const std::string& column) {
      std::string condition = keep;
      for (auto pos = condition.find("%1"); pos != std::string::npos; pos = condition.find("%1"))
        condition.replace(pos, 2, '"' + column + '"');
      db_->exec("DELETE FROM \"" + table + "\" WHERE NOT (" + condition + ")");
    };
    SQLite::Transaction txn(*db_, kWrite);
    purge("ControllerMemory", "ModBusAddress");
    purge("CommunicationsPort", "CommPortNumber");
    txn.commit();
    return Status::Ok();
  });
}

// --- channels found on the line and controllers given a new address

Status ConfigStore::AddScannedChannel(const ChannelRow& row) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_, kWrite);
    SQLite::Statement dup(*db_, R"(SELECT 1 FROM "ChannelMap"
                                   WHERE "SoftwareChannel" = ? OR "ModBusAddress" = ? OR "NickName" = ?)");
    dup.bind(1, row.softwareChannel);
    dup.bind(2, row.modbusAddress);
    dup.bind(3, row.nickName);
    if (dup.executeStep())
      return Status::Error(Status::Code::Duplicate, "Duplicate entries not allowed in the channel map");
    InsertChannel(*db_, row);
    PrepareAddressRows(*db_, row.modbusAddress);
    txn.commit();
    return Status::Ok();
  });
}

namespace {

Status RefuseMappedTarget(SQLite::Database& db, int to) {
  SQLite::Statement mapped(db, R"(SELECT 1 FROM "ChannelMap" WHERE "ModBusAddress" = ?)");
  mapped.bind(1, to);
  if (mapped.executeStep())
    return Status::Error(Status::Code::Duplicate, "Target address is already in the channel map");
  return Status::Ok();
}

void DeleteAddressChange(SQLite::Database& db, int from, int to) {
  SQLite::Statement drop(db, R"(DELETE FROM "AddressChange" WHERE "OldAddress" = ? AND "NewAddress" = ?)");
  drop.bind(1, from);
  drop.bind(2, to);
  drop.exec();
}

}  // namespace

Status ConfigStore::RecordAddressChange(int from, int to) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_, kWrite);
    if (Status free = RefuseMappedTarget(*db_, to); !free) return free;
    SQLite::Statement record(*db_, R"(INSERT INTO "AddressChange" ("OldAddress", "NewAddress", "Requested")
        VALUES (?, ?, datetime('now'))
        ON CONFLICT ("OldAddress") DO UPDATE SET "NewAddress" = excluded."NewAddress", "Requested" = excluded."Requested")");
    record.bind(1, from);
    record.bind(2, to);
    record.exec();
    txn.commit();
    return Status::Ok();
  });
}

Result<std::vector<AddressChangeRow>> ConfigStore::PendingAddressChanges() {
  return Guard([&]() -> Result<std::vector<AddressChangeRow>> {
    return All<AddressChangeRow>(
        *db_, R"(SELECT * FROM "AddressChange" ORDER BY "Requested", rowid)", [](auto&) {}, AddressChangeFrom);
  });
}

Status ConfigStore::DropAddressChange(int from, int to) {
  return Guard([&]() -> Status {
    DeleteAddressChange(*db_, from, to);
    return Status::Ok();
  });
}

Status ConfigStore::MoveAddress(int from, int to) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_, kWrite);
    if (Status free = RefuseMappedTarget(*db_, to); !free) return free;
    for (const char* table : {"ControllerMemory", "TarvelLog", "ControllerConfiguration", "ControllerCapabilities"}) {
      SQLite::Statement stale(*db_, std::string(R"(DELETE FROM ")") + table + R"(" WHERE "ModBusAddress" = ?)");
      stale.bind(1, to);
      stale.exec();
    }
    // What was learnt of the controller's frames goes with it.
    for (const char* table :
         {"ChannelMap", "ControllerMemory", "TarvelLog", "ControllerConfiguration", "ControllerCapabilities"}) {
      SQLite::Statement move(
          *db_, std::string(R"(UPDATE ")") + table + R"(" SET "ModBusAddress" = ? WHERE "ModBusAddress" = ?)");
      move.bind(1, to);
      move.bind(2, from);
      move.exec();
    }
    DeleteAddressChange(*db_, from, to);
    txn.commit();
    return Status::Ok();
  });
}

// --- SensorMenu

SensorMenu::SensorMenu(const std::filesystem::path& file)
    : file_(file), db_(OpenDatabase(file, Purpose::SensorMenu, kDefaultBusyTimeout, open_)) {}

SensorMenu::~SensorMenu() = default;

Result<std::vector<SensorRow>> SensorMenu::All() {
  if (!db_) return open_;
  try {
    return store::All<SensorRow>(
        *db_, R"(SELECT * FROM "Menu" ORDER BY rowid)", [](auto&) {}, SensorFrom);
  } catch (const std::exception& e) {
    return DatabaseFailure(file_, e, db_.get());
  }
}

Result<std::optional<SensorRow>> SensorMenu::ByCaption(std::string_view caption) {
  if (!db_) return open_;
  try {
    return First<SensorRow>(
        *db_, R"(SELECT * FROM "Menu" WHERE "Caption" = ? COLLATE RTRIM ORDER BY rowid)",
        [&](auto& q) { q.bind(1, std::string(caption)); }, SensorFrom);
  } catch (const std::exception& e) {
    return DatabaseFailure(file_, e, db_.get());
  }
}

Result<std::optional<SensorRow>> SensorMenu::ByIndex(int index) {
  if (!db_) return open_;
  try {
    return First<SensorRow>(
        *db_, R"(SELECT * FROM "Menu" WHERE "Index" = ? ORDER BY rowid)", [&](auto& q) { q.bind(1, index); },
        SensorFrom);
  } catch (const std::exception& e) {
    return DatabaseFailure(file_, e, db_.get());
  }
}

}  // namespace tarvel::store
