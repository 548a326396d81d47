#include "store/config_store.h"

#include "store/sql.h"

namespace tarvel::store {
namespace {

LogRow LogFrom(SQLite::Statement& q) {
  return {IntOf(q.getColumn("ModBusAddress")),  TextOf(q.getColumn("ProfileName")),
          IntOf(q.getColumn("Start")),          IntOf(q.getColumn("Stop")),
          TextOf(q.getColumn("SensorType")),    TextOf(q.getColumn("TemperatureScaleType")),
          TextOf(q.getColumn("TimeScaleType")), TextOf(q.getColumn("ProgressionType"))};
}

}  // namespace

// --- TarvelLog

Result<std::vector<LogRow>> ConfigStore::Log(int modbusAddress) {
  return Guard([&]() -> Result<std::vector<LogRow>> {
    return All<LogRow>(
        *db_, R"(SELECT * FROM "TarvelLog" WHERE "ModBusAddress" = ? ORDER BY "Start")",
        [&](auto& q) { q.bind(1, modbusAddress); }, LogFrom);
  });
}

Result<std::optional<LogRow>> ConfigStore::LogEntry(int modbusAddress, std::string_view profileName) {
  return Guard([&]() -> Result<std::optional<LogRow>> {
    return First<LogRow>(
        *db_, R"(SELECT * FROM "TarvelLog" WHERE "ProfileName" = ? AND "ModBusAddress" = ?)",
        [&](auto& q) {
          q.bind(1, std::string(profileName));
          q.bind(2, modbusAddress);
        },
        LogFrom);
  });
}

Result<std::optional<LogRow>> ConfigStore::LogEntryByRange(int modbusAddress, int start, int stop) {
  return Guard([&]() -> Result<std::optional<LogRow>> {
    return First<LogRow>(
        *db_, R"(SELECT * FROM "TarvelLog" WHERE "ModBusAddress" = ? AND "Start" = ? AND "Stop" = ?)",
        [&](auto& q) {
          q.bind(1, modbusAddress);
          q.bind(2, start);
          q.bind(3, stop);
        },
        LogFrom);
  });
}

void UpsertLogRow(SQLite::Database& db, const LogRow& row) {
  SQLite::Statement upsert(db, R"(INSERT INTO "TarvelLog"
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
}

std::vector<LogRow> DeleteLogRowsTouching(SQLite::Database& db, int modbusAddress, int first, int last) {
  const char* where = R"( FROM "TarvelLog" WHERE "ModBusAddress" = ? AND "Start" <= ? AND "Stop" >= ?)";
  auto bind = [&](SQLite::Statement& q) {
    q.bind(1, modbusAddress);
    q.bind(2, last);
    q.bind(3, first);
  };
  std::vector<LogRow> rows =
      All<LogRow>(db, (std::string("SELECT *") + where + R"( ORDER BY "Start")").c_str(), bind, LogFrom);
  SQLite::Statement erase(db, std::string("DELETE") + where);
  bind(erase);
  erase.exec();
  return rows;
}

Status ConfigStore::WriteLogEntry(const LogRow& row) {
  return Guard([&]() -> Status {
    UpsertLogRow(*db_, row);
    return Status::Ok();
  });
}

Result<std::vector<LogRow>> ConfigStore::DeleteLogEntriesTouching(int modbusAddress, int first, int last) {
  return Guard([&]() -> Result<std::vector<LogRow>> {
    SQLite::Transaction txn(*db_, kWrite);
    std::vector<LogRow> rows = DeleteLogRowsTouching(*db_, modbusAddress, first, last);
    txn.commit();
    return rows;
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

}  // namespace tarvel::store
