#include "store/config_store.h"

#include "store/sql.h"
#include "util/text.h"

namespace tarvel::store {
namespace {

ControllerConfigRow ConfigFrom(SQLite::Statement& q) {
  ControllerConfigRow row{IntOf(q.getColumn("ModBusAddress")),
                          TextOf(q.getColumn("ProfileNameExecuting")),
                          IntOf(q.getColumn("ProgramLowAddress")),
                          IntOf(q.getColumn("ProgramHighAddress")),
                          IntOf(q.getColumn("RunMode")),
                          IntOf(q.getColumn("SegmentExecuting")),
                          IntOf(q.getColumn("SegmentElapsedTime")),
                          std::nullopt};
  if (!q.getColumn("PendingProfileName").isNull())
    row.pending = RunSelection{TextOf(q.getColumn("PendingProfileName")), IntOf(q.getColumn("PendingLowAddress")),
                               IntOf(q.getColumn("PendingHighAddress"))};
  return row;
}

}  // namespace

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
    return First<PortRow>(
        *db_, R"(SELECT * FROM "CommunicationsPort" ORDER BY rowid LIMIT 1)", [](auto&) {},
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
    SQLite::Transaction txn(*db_, kWrite);
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

// --- ControllerConfiguration

Result<std::optional<ControllerConfigRow>> ConfigStore::ControllerConfig(int modbusAddress) {
  return Guard([&]() -> Result<std::optional<ControllerConfigRow>> {
    return First<ControllerConfigRow>(
        *db_, R"(SELECT * FROM "ControllerConfiguration" WHERE "ModBusAddress" = ?)",
        [&](auto& q) { q.bind(1, modbusAddress); }, ConfigFrom);
  });
}

Status ConfigStore::SaveRunSelection(int modbusAddress, std::string_view profileName, int lowStep, int highStep) {
  return Guard([&]() -> Status {
    // What is known of the controller's limits now settles a selection that was being written.
    SQLite::Statement upsert(*db_, R"(INSERT INTO "ControllerConfiguration"
        ("ModBusAddress", "ProfileNameExecuting", "ProgramLowAddress", "ProgramHighAddress") VALUES (?, ?, ?, ?)
        ON CONFLICT ("ModBusAddress") DO UPDATE SET "ProfileNameExecuting" = excluded."ProfileNameExecuting",
          "ProgramLowAddress" = excluded."ProgramLowAddress", "ProgramHighAddress" = excluded."ProgramHighAddress",
          "PendingProfileName" = NULL, "PendingLowAddress" = NULL, "PendingHighAddress" = NULL)");
    upsert.bind(1, modbusAddress);
    upsert.bind(2, std::string(profileName));
    upsert.bind(3, lowStep);
    upsert.bind(4, highStep);
    upsert.exec();
    return Status::Ok();
  });
}

Status ConfigStore::RecordSelectionIntent(int modbusAddress, const RunSelection& selection) {
  return Guard([&]() -> Status {
    SQLite::Statement upsert(*db_, R"(INSERT INTO "ControllerConfiguration"
        ("ModBusAddress", "PendingProfileName", "PendingLowAddress", "PendingHighAddress") VALUES (?, ?, ?, ?)
        ON CONFLICT ("ModBusAddress") DO UPDATE SET "PendingProfileName" = excluded."PendingProfileName",
          "PendingLowAddress" = excluded."PendingLowAddress", "PendingHighAddress" = excluded."PendingHighAddress")");
    upsert.bind(1, modbusAddress);
    upsert.bind(2, selection.profileName);
    upsert.bind(3, selection.lowStep);
    upsert.bind(4, selection.highStep);
    upsert.exec();
    return Status::Ok();
  });
}

Status ConfigStore::ConfirmSelectionIntent(int modbusAddress) {
  return Guard([&]() -> Status {
    SQLite::Statement confirm(*db_, R"(UPDATE "ControllerConfiguration" SET
        "ProfileNameExecuting" = "PendingProfileName", "ProgramLowAddress" = "PendingLowAddress",
        "ProgramHighAddress" = "PendingHighAddress",
        "PendingProfileName" = NULL, "PendingLowAddress" = NULL, "PendingHighAddress" = NULL
        WHERE "ModBusAddress" = ? AND "PendingProfileName" IS NOT NULL)");
    confirm.bind(1, modbusAddress);
    if (confirm.exec() == 0) return Status::Error(Status::Code::NotFound, "No selection waits for its limits");
    return Status::Ok();
  });
}

Status ConfigStore::DropSelectionIntent(int modbusAddress) {
  return Guard([&]() -> Status {
    SQLite::Statement drop(*db_, R"(UPDATE "ControllerConfiguration" SET
        "PendingProfileName" = NULL, "PendingLowAddress" = NULL, "PendingHighAddress" = NULL WHERE "ModBusAddress" = ?)");
    drop.bind(1, modbusAddress);
    drop.exec();
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
    SQLite::Transaction txn(*db_, kWrite);
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

}  // namespace tarvel::store
