#include "store/config_store.h"

#include <SQLiteCpp/SQLiteCpp.h>

#include <type_traits>

#include "util/text.h"

namespace tarvel::store {
namespace {

constexpr int kBusyTimeoutMs = 5000;
constexpr int kProgramSteps = 64;

int IntOf(const SQLite::Column& c) { return c.isNull() ? 0 : c.getInt(); }
std::string TextOf(const SQLite::Column& c) { return c.isNull() ? std::string() : c.getString(); }

ChannelRow ChannelFrom(SQLite::Statement& q) {
  return {IntOf(q.getColumn("SoftwareChannel")), IntOf(q.getColumn("ModBusAddress")),
          TextOf(q.getColumn("NickName")), TextOf(q.getColumn("ControllerType"))};
}

MemoryRow MemoryFrom(SQLite::Statement& q) {
  return {IntOf(q.getColumn("ModBusAddress")), IntOf(q.getColumn("Segment")), IntOf(q.getColumn("Duration")),
          IntOf(q.getColumn("Temperature")), IntOf(q.getColumn("PIDSet")), IntOf(q.getColumn("Modified"))};
}

LogRow LogFrom(SQLite::Statement& q) {
  return {IntOf(q.getColumn("ModBusAddress")),     TextOf(q.getColumn("ProfileName")),
          IntOf(q.getColumn("Start")),             IntOf(q.getColumn("Stop")),
          TextOf(q.getColumn("SensorType")),       TextOf(q.getColumn("TemperatureScaleType")),
          TextOf(q.getColumn("TimeScaleType")),    TextOf(q.getColumn("ProgressionType"))};
}

ControllerConfigRow ConfigFrom(SQLite::Statement& q) {
  return {IntOf(q.getColumn("ModBusAddress")),      TextOf(q.getColumn("ProfileNameExecuting")),
          IntOf(q.getColumn("ProgramLowAddress")),  IntOf(q.getColumn("ProgramHighAddress")),
          IntOf(q.getColumn("RunMode")),            IntOf(q.getColumn("SegmentExecuting")),
          IntOf(q.getColumn("SegmentElapsedTime"))};
}

SensorRow SensorFrom(SQLite::Statement& q) {
  return {TextOf(q.getColumn("Caption")), IntOf(q.getColumn("Index")), IntOf(q.getColumn("Fmin")),
          IntOf(q.getColumn("Fmax")),     IntOf(q.getColumn("Cmin")),  IntOf(q.getColumn("Cmax"))};
}

template <class Row, class Bind, class Make>
std::vector<Row> All(SQLite::Database& db, const char* sql, Bind&& bind, Make&& make) {
  SQLite::Statement q(db, sql);
  bind(q);
  std::vector<Row> rows;
  while (q.executeStep()) rows.push_back(make(q));
  return rows;
}

template <class Row, class Bind, class Make>
std::optional<Row> First(SQLite::Database& db, const char* sql, Bind&& bind, Make&& make) {
  SQLite::Statement q(db, sql);
  bind(q);
  if (!q.executeStep()) return std::nullopt;
  return make(q);
}

const char* ColumnName(ChannelField field) {
  switch (field) {
    case ChannelField::SoftwareChannel: return "SoftwareChannel";
    case ChannelField::ModBusAddress: return "ModBusAddress";
    case ChannelField::NickName: return "NickName";
    case ChannelField::ControllerType: return "ControllerType";
  }
  return "";
}

std::unique_ptr<SQLite::Database> OpenDatabase(const std::filesystem::path& file, int flags, Status& status) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    status = Status::Error(Status::Code::NotFound, "Database not found: " + file.string());
    return nullptr;
  }
  try {
    auto db = std::make_unique<SQLite::Database>(file.string(), flags, kBusyTimeoutMs);
    db->execAndGet("SELECT count(*) FROM sqlite_master");  // fails here for a damaged file
    return db;
  } catch (const std::exception& e) {
    status = Status::Failed("Damaged database: " + file.string() + " (" + e.what() + ")");
    return nullptr;
  }
}

}  // namespace

ConfigStore::ConfigStore(const std::filesystem::path& file)
    : db_(OpenDatabase(file, SQLite::OPEN_READWRITE, open_)) {}

ConfigStore::~ConfigStore() = default;

// Runs one operation; a closed store or an SQLite failure becomes the returned failure.
template <class F>
auto ConfigStore::Guard(F&& body) -> decltype(body()) {
  if (!db_) return open_;
  try {
    return body();
  } catch (const std::exception& e) {
    return Status::Failed(std::string("Database error: ") + e.what());
  }
}

// --- ChannelMap

Result<std::vector<ChannelRow>> ConfigStore::Channels() {
  return Guard([&]() -> Result<std::vector<ChannelRow>> {
    return All<ChannelRow>(*db_, R"(SELECT * FROM "ChannelMap" ORDER BY "SoftwareChannel")",
                           [](auto&) {}, ChannelFrom);
  });
}

Result<std::optional<ChannelRow>> ConfigStore::ChannelByNumber(int softwareChannel) {
  return Guard([&]() -> Result<std::optional<ChannelRow>> {
    return First<ChannelRow>(*db_, R"(SELECT * FROM "ChannelMap" WHERE "SoftwareChannel" = ?)",
                             [&](auto& q) { q.bind(1, softwareChannel); }, ChannelFrom);
  });
}

Result<std::optional<ChannelRow>> ConfigStore::ChannelByAddress(int modbusAddress) {
  return Guard([&]() -> Result<std::optional<ChannelRow>> {
    return First<ChannelRow>(*db_, R"(SELECT * FROM "ChannelMap" WHERE "ModBusAddress" = ?)",
                             [&](auto& q) { q.bind(1, modbusAddress); }, ChannelFrom);
  });
}

Result<std::optional<ChannelRow>> ConfigStore::ChannelByNickName(std::string_view nickName) {
  return Guard([&]() -> Result<std::optional<ChannelRow>> {
    return First<ChannelRow>(*db_, R"(SELECT * FROM "ChannelMap" WHERE "NickName" = ?)",
                             [&](auto& q) { q.bind(1, std::string(nickName)); }, ChannelFrom);
  });
}

Result<bool> ConfigStore::ChannelMapIsEmpty() {
  return Guard([&]() -> Result<bool> {
    return db_->execAndGet(R"(SELECT count(*) FROM "ChannelMap")").getInt() == 0;
  });
}

Result<int> ConfigStore::HighestSoftwareChannel() {
  return Guard([&]() -> Result<int> {
    auto top = db_->execAndGet(R"(SELECT max("SoftwareChannel") FROM "ChannelMap")");
    return top.isNull() ? 0 : top.getInt();
  });
}

Status ConfigStore::AddChannel(const ChannelRow& row) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_);
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
    SQLite::Statement insert(*db_, R"(INSERT INTO "ChannelMap" ("SoftwareChannel", "ModBusAddress", "NickName", "ControllerType")
                                      VALUES (?, ?, ?, ?))");
    insert.bind(1, row.softwareChannel);
    insert.bind(2, row.modbusAddress);
    insert.bind(3, row.nickName);
    insert.bind(4, row.controllerType);
    insert.exec();
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
    SQLite::Transaction txn(*db_);
    if (field != ChannelField::ControllerType) {
      // The row being edited does not count: re-entering its own value is no duplicate.
      SQLite::Statement dup(*db_, R"(SELECT 1 FROM "ChannelMap" WHERE ")" + column + R"(" = ? AND "SoftwareChannel" <> ?)");
      bindValue(dup, 1);
      dup.bind(2, softwareChannel);
      if (dup.executeStep())
        return Status::Error(Status::Code::Duplicate, "Duplicate entries not allowed in the channel map");
    }
    SQLite::Statement update(*db_, R"(UPDATE "ChannelMap" SET ")" + column + R"(" = ? WHERE "SoftwareChannel" = ?)");
    bindValue(update, 1);
    update.bind(2, softwareChannel);
    if (update.exec() == 0) return Status::Error(Status::Code::NotFound, "No channel " + std::to_string(softwareChannel));
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
    if (q.exec() == 0) return Status::Error(Status::Code::NotFound, "No channel at address " + std::to_string(modbusAddress));
    return Status::Ok();
  });
}

Status ConfigStore::ClearChannelMap() {
  return Guard([&]() -> Status {
    db_->exec(R"(DELETE FROM "ChannelMap")");
    return Status::Ok();
  });
}

// --- CommunicationsPort

int ConfigStore::GetCommPortNumber() {
  auto port = Guard([&]() -> Result<int> {
    auto q = SQLite::Statement(*db_, R"(SELECT "CommPortNumber" FROM "CommunicationsPort" ORDER BY rowid LIMIT 1)");
    if (!q.executeStep()) return -1;
    const SQLite::Column c = q.getColumn(0);
    if (c.isNull()) return -1;
    auto number = ToInt16(c.getString());
    return number ? *number : -1;
  });
  return port.value_or(-1);
}

Result<std::optional<PortRow>> ConfigStore::Port() {
  return Guard([&]() -> Result<std::optional<PortRow>> {
    return First<PortRow>(*db_, R"(SELECT * FROM "CommunicationsPort" ORDER BY rowid LIMIT 1)", [](auto&) {},
                          [](SQLite::Statement& q) {
                            return PortRow{IntOf(q.getColumn("CommPortNumber")), IntOf(q.getColumn("CommPortMode")),
                                           IntOf(q.getColumn("Rate")),           TextOf(q.getColumn("Parity")),
                                           IntOf(q.getColumn("Bits")),           IntOf(q.getColumn("StopBits")),
                                           TextOf(q.getColumn("DevicePath"))};
                          });
  });
}

Status ConfigStore::SavePortSettings(const PortRow& row) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_);
    auto first = db_->execAndGet(R"(SELECT min(rowid) FROM "CommunicationsPort")");
    std::string sql = first.isNull()
                          ? R"(INSERT INTO "CommunicationsPort" ("CommPortNumber", "CommPortMode", "Rate", "Parity",
                                 "Bits", "StopBits", "DevicePath") VALUES (?, ?, ?, ?, ?, ?, ?))"
                          : R"(UPDATE "CommunicationsPort" SET "CommPortNumber" = ?, "CommPortMode" = ?, "Rate" = ?,
                                 "Parity" = ?, "Bits" = ?, "StopBits" = ?, "DevicePath" = ? WHERE rowid = ?)";
    SQLite::Statement q(*db_, sql);
    q.bind(1, row.commPortNumber);
    q.bind(2, row.commPortMode);
    q.bind(3, row.rate);
    q.bind(4, row.parity);
    q.bind(5, row.bits);
    q.bind(6, row.stopBits);
    q.bind(7, row.devicePath);
    if (!first.isNull()) q.bind(8, first.getInt64());
    q.exec();
    txn.commit();
    return Status::Ok();
  });
}

// --- ControllerMemory

Result<std::vector<MemoryRow>> ConfigStore::Memory(int modbusAddress) {
  return Guard([&]() -> Result<std::vector<MemoryRow>> {
    return All<MemoryRow>(*db_, R"(SELECT * FROM "ControllerMemory" WHERE "ModBusAddress" = ? ORDER BY "Segment")",
                          [&](auto& q) { q.bind(1, modbusAddress); }, MemoryFrom);
  });
}

Result<std::optional<MemoryRow>> ConfigStore::MemoryStep(int modbusAddress, int segment) {
  return Guard([&]() -> Result<std::optional<MemoryRow>> {
    return First<MemoryRow>(*db_,
                            R"(SELECT * FROM "ControllerMemory" WHERE "ModBusAddress" = ? AND "Segment" = ?
                               ORDER BY "Segment")",
                            [&](auto& q) { q.bind(1, modbusAddress); q.bind(2, segment); }, MemoryFrom);
  });
}

Result<std::vector<MemoryRow>> ConfigStore::ModifiedSteps(int modbusAddress) {
  return Guard([&]() -> Result<std::vector<MemoryRow>> {
    return All<MemoryRow>(*db_,
                          R"(SELECT * FROM "ControllerMemory" WHERE "ModBusAddress" = ? AND "Modified" = 1
                             ORDER BY "Segment")",
                          [&](auto& q) { q.bind(1, modbusAddress); }, MemoryFrom);
  });
}

Status ConfigStore::WriteMemorySteps(int modbusAddress, const std::vector<MemoryRow>& steps) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_);
    SQLite::Statement upsert(*db_, R"(INSERT INTO "ControllerMemory"
        ("ModBusAddress", "Segment", "Duration", "Temperature", "PIDSet", "Modified") VALUES (?, ?, ?, ?, ?, 0)
        ON CONFLICT ("ModBusAddress", "Segment") DO UPDATE SET
          "Duration" = excluded."Duration", "Temperature" = excluded."Temperature", "PIDSet" = excluded."PIDSet")");
    for (const MemoryRow& s : steps) {
      upsert.bind(1, modbusAddress);
      upsert.bind(2, s.segment);
      upsert.bind(3, s.duration);
      upsert.bind(4, s.temperature);
      upsert.bind(5, s.pidSet);
      upsert.exec();
      upsert.reset();
    }
    txn.commit();
    return Status::Ok();
  });
}

Status ConfigStore::ResetControllerMemory(int modbusAddress) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_);
    SQLite::Statement upsert(*db_, R"(INSERT INTO "ControllerMemory"
        ("ModBusAddress", "Segment", "Duration", "Temperature", "PIDSet", "Modified") VALUES (?, ?, 0, 0, 0, 0)
        ON CONFLICT ("ModBusAddress", "Segment") DO UPDATE SET
          "Duration" = 0, "Temperature" = 0, "PIDSet" = 0, "Modified" = 0)");
    for (int segment = 1; segment <= kProgramSteps; ++segment) {
      upsert.bind(1, modbusAddress);
      upsert.bind(2, segment);
      upsert.exec();
      upsert.reset();
    }
    txn.commit();
    return Status::Ok();
  });
}

Status ConfigStore::SetStepModified(int modbusAddress, int segment, int value) {
  return Guard([&]() -> Status {
    SQLite::Statement q(*db_, R"(UPDATE "ControllerMemory" SET "Modified" = ? WHERE "ModBusAddress" = ? AND "Segment" = ?)");
    q.bind(1, value);
    q.bind(2, modbusAddress);
    q.bind(3, segment);
    if (q.exec() == 0) return Status::Error(Status::Code::NotFound, "No program memory row for that step");
    return Status::Ok();
  });
}

// --- TarvelLog

Result<std::vector<LogRow>> ConfigStore::Log(int modbusAddress) {
  return Guard([&]() -> Result<std::vector<LogRow>> {
    return All<LogRow>(*db_, R"(SELECT * FROM "TarvelLog" WHERE "ModBusAddress" = ? ORDER BY "Start")",
                       [&](auto& q) { q.bind(1, modbusAddress); }, LogFrom);
  });
}

Result<std::optional<LogRow>> ConfigStore::LogEntry(int modbusAddress, std::string_view profileName) {
  return Guard([&]() -> Result<std::optional<LogRow>> {
    return First<LogRow>(*db_, R"(SELECT * FROM "TarvelLog" WHERE "ProfileName" = ? AND "ModBusAddress" = ?)",
                         [&](auto& q) { q.bind(1, std::string(profileName)); q.bind(2, modbusAddress); }, LogFrom);
  });
}

Result<std::optional<LogRow>> ConfigStore::LogEntryByRange(int modbusAddress, int start, int stop) {
  return Guard([&]() -> Result<std::optional<LogRow>> {
    return First<LogRow>(*db_, R"(SELECT * FROM "TarvelLog" WHERE "ModBusAddress" = ? AND "Start" = ? AND "Stop" = ?)",
                         [&](auto& q) { q.bind(1, modbusAddress); q.bind(2, start); q.bind(3, stop); }, LogFrom);
  });
}

Status ConfigStore::WriteLogEntry(const LogRow& row) {
  return Guard([&]() -> Status {
    SQLite::Statement upsert(*db_, R"(INSERT INTO "TarvelLog"
        ("ModBusAddress", "ProfileName", "Start", "Stop", "SensorType", "TemperatureScaleType", "TimeScaleType",
         "ProgressionType") VALUES (?, ?, ?, ?, ?, ?, ?, ?)
        ON CONFLICT ("ProfileName", "ModBusAddress") DO UPDATE SET
          "Start" = excluded."Start", "Stop" = excluded."Stop", "SensorType" = excluded."SensorType",
          "TemperatureScaleType" = excluded."TemperatureScaleType", "TimeScaleType" = excluded."TimeScaleType",
          "ProgressionType" = excluded."ProgressionType")");
    upsert.bind(1, row.modbusAddress);
    upsert.bind(2, row.profileName);
    upsert.bind(3, row.start);
    upsert.bind(4, row.stop);
    upsert.bind(5, row.sensorType);
    upsert.bind(6, row.temperatureScaleType);
    upsert.bind(7, row.timeScaleType);
    upsert.bind(8, row.progressionType);
    upsert.exec();
    return Status::Ok();
  });
}

Status ConfigStore::DeleteLogEntry(int modbusAddress, std::string_view profileName) {
  return Guard([&]() -> Status {
    SQLite::Statement q(*db_, R"(DELETE FROM "TarvelLog" WHERE "ModBusAddress" = ? AND "ProfileName" = ?)");
    q.bind(1, modbusAddress);
    q.bind(2, std::string(profileName));
    if (q.exec() == 0) return Status::Error(Status::Code::NotFound, "No entry to delete");
    return Status::Ok();
  });
}

// --- ControllerConfiguration

Result<std::optional<ControllerConfigRow>> ConfigStore::ControllerConfig(int modbusAddress) {
  return Guard([&]() -> Result<std::optional<ControllerConfigRow>> {
    return First<ControllerConfigRow>(*db_, R"(SELECT * FROM "ControllerConfiguration" WHERE "ModBusAddress" = ?)",
                                      [&](auto& q) { q.bind(1, modbusAddress); }, ConfigFrom);
  });
}

Status ConfigStore::SaveRunSelection(int modbusAddress, std::string_view profileName, int lowStep, int highStep) {
  return Guard([&]() -> Status {
    SQLite::Statement upsert(*db_, R"(INSERT INTO "ControllerConfiguration"
        ("ModBusAddress", "ProfileNameExecuting", "ProgramLowAddress", "ProgramHighAddress") VALUES (?, ?, ?, ?)
        ON CONFLICT ("ModBusAddress") DO UPDATE SET "ProfileNameExecuting" = excluded."ProfileNameExecuting",
          "ProgramLowAddress" = excluded."ProgramLowAddress", "ProgramHighAddress" = excluded."ProgramHighAddress")");
    upsert.bind(1, modbusAddress);
    upsert.bind(2, std::string(profileName));
    upsert.bind(3, lowStep);
    upsert.bind(4, highStep);
    upsert.exec();
    return Status::Ok();
  });
}

Status ConfigStore::SaveRunState(int modbusAddress, int runMode, int step, int stepTime) {
  return Guard([&]() -> Status {
    SQLite::Statement upsert(*db_, R"(INSERT INTO "ControllerConfiguration"
        ("ModBusAddress", "RunMode", "SegmentExecuting", "SegmentElapsedTime") VALUES (?, ?, ?, ?)
        ON CONFLICT ("ModBusAddress") DO UPDATE SET "RunMode" = excluded."RunMode",
          "SegmentExecuting" = excluded."SegmentExecuting", "SegmentElapsedTime" = excluded."SegmentElapsedTime")");
    upsert.bind(1, modbusAddress);
    upsert.bind(2, runMode);
    upsert.bind(3, step);
    upsert.bind(4, stepTime);
    upsert.exec();
    return Status::Ok();
  });
}

// --- TarvelConfiguration

int ConfigStore::GetCurrentChannel() {
  auto channel = Guard([&]() -> Result<int> {
    SQLite::Statement q(*db_, R"(SELECT "CurrentChannel" FROM "TarvelConfiguration" ORDER BY rowid LIMIT 1)");
    if (!q.executeStep() || q.getColumn(0).isNull()) return -1;
    auto number = ToInt16(q.getColumn(0).getString());
    return number ? *number : -1;
  });
  return channel.value_or(-1);
}

Status ConfigStore::SaveCurrentChannel(int channel) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_);
    auto first = db_->execAndGet(R"(SELECT min(rowid) FROM "TarvelConfiguration")");
    if (first.isNull()) {
      SQLite::Statement q(*db_, R"(INSERT INTO "TarvelConfiguration" ("CurrentChannel") VALUES (?))");
      q.bind(1, channel);
      q.exec();
    } else {
      SQLite::Statement q(*db_, R"(UPDATE "TarvelConfiguration" SET "CurrentChannel" = ? WHERE rowid = ?)");
      q.bind(1, channel);
      q.bind(2, first.getInt64());
      q.exec();
    }
    txn.commit();
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
    SQLite::Transaction txn(*db_);
    purge("ControllerMemory", "ModBusAddress");
    purge("CommunicationsPort", "CommPortNumber");
    txn.commit();
    return Status::Ok();
  });
}

// --- channels found on the line and controllers given a new address

Status ConfigStore::AddScannedChannel(const ChannelRow& row) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_);
    SQLite::Statement dup(*db_, R"(SELECT 1 FROM "ChannelMap"
                                   WHERE "SoftwareChannel" = ? OR "ModBusAddress" = ? OR "NickName" = ?)");
    dup.bind(1, row.softwareChannel);
    dup.bind(2, row.modbusAddress);
    dup.bind(3, row.nickName);
    if (dup.executeStep())
      return Status::Error(Status::Code::Duplicate, "Duplicate entries not allowed in the channel map");
    SQLite::Statement insert(*db_, R"(INSERT INTO "ChannelMap" ("SoftwareChannel", "ModBusAddress", "NickName", "ControllerType")
                                      VALUES (?, ?, ?, ?))");
    insert.bind(1, row.softwareChannel);
    insert.bind(2, row.modbusAddress);
    insert.bind(3, row.nickName);
    insert.bind(4, row.controllerType);
    insert.exec();
    SQLite::Statement zero(*db_, R"(INSERT INTO "ControllerMemory"
        ("ModBusAddress", "Segment", "Duration", "Temperature", "PIDSet", "Modified") VALUES (?, ?, 0, 0, 0, 0)
        ON CONFLICT ("ModBusAddress", "Segment") DO UPDATE SET
          "Duration" = 0, "Temperature" = 0, "PIDSet" = 0, "Modified" = 0)");
    for (int segment = 1; segment <= kProgramSteps; ++segment) {
      zero.bind(1, row.modbusAddress);
      zero.bind(2, segment);
      zero.exec();
      zero.reset();
    }
    txn.commit();
    return Status::Ok();
  });
}

Status ConfigStore::MoveAddress(int from, int to) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_);
    SQLite::Statement mapped(*db_, R"(SELECT 1 FROM "ChannelMap" WHERE "ModBusAddress" = ?)");
    mapped.bind(1, to);
    if (mapped.executeStep())
      return Status::Error(Status::Code::Duplicate, "Target address is already in the channel map");
    for (const char* table : {"ControllerMemory", "TarvelLog", "ControllerConfiguration"}) {
      SQLite::Statement stale(*db_, std::string(R"(DELETE FROM ")") + table + R"(" WHERE "ModBusAddress" = ?)");
      stale.bind(1, to);
      stale.exec();
    }
    for (const char* table : {"ChannelMap", "ControllerMemory", "TarvelLog", "ControllerConfiguration"}) {
      SQLite::Statement move(*db_, std::string(R"(UPDATE ")") + table + R"(" SET "ModBusAddress" = ? WHERE "ModBusAddress" = ?)");
      move.bind(1, to);
      move.bind(2, from);
      move.exec();
    }
    txn.commit();
    return Status::Ok();
  });
}

// --- SensorMenu

SensorMenu::SensorMenu(const std::filesystem::path& file)
    : db_(OpenDatabase(file, SQLite::OPEN_READONLY, open_)) {}

SensorMenu::~SensorMenu() = default;

Result<std::vector<SensorRow>> SensorMenu::All() {
  if (!db_) return open_;
  try {
    return store::All<SensorRow>(*db_, R"(SELECT * FROM "Menu" ORDER BY rowid)", [](auto&) {}, SensorFrom);
  } catch (const std::exception& e) {
    return Status::Failed(std::string("Sensor menu error: ") + e.what());
  }
}

Result<std::optional<SensorRow>> SensorMenu::ByCaption(std::string_view caption) {
  if (!db_) return open_;
  try {
    return First<SensorRow>(*db_, R"(SELECT * FROM "Menu" WHERE "Caption" = ? COLLATE RTRIM ORDER BY rowid)",
                            [&](auto& q) { q.bind(1, std::string(caption)); }, SensorFrom);
  } catch (const std::exception& e) {
    return Status::Failed(std::string("Sensor menu error: ") + e.what());
  }
}

Result<std::optional<SensorRow>> SensorMenu::ByIndex(int index) {
  if (!db_) return open_;
  try {
    return First<SensorRow>(*db_, R"(SELECT * FROM "Menu" WHERE "Index" = ? ORDER BY rowid)",
                            [&](auto& q) { q.bind(1, index); }, SensorFrom);
  } catch (const std::exception& e) {
    return Status::Failed(std::string("Sensor menu error: ") + e.what());
  }
}

}  // namespace tarvel::store
