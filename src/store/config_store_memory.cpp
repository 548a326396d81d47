#include "store/config_store.h"

#include "store/sql.h"

namespace tarvel::store {
namespace {

MemoryRow MemoryFrom(SQLite::Statement& q) {
  return {IntOf(q.getColumn("ModBusAddress")), IntOf(q.getColumn("Segment")), IntOf(q.getColumn("Duration")),
          IntOf(q.getColumn("Temperature")),   IntOf(q.getColumn("PIDSet")),  IntOf(q.getColumn("Modified")),
          IntOf(q.getColumn("Unknown")),       IntOf(q.getColumn("JumpTime"))};
}

void StoreReadSteps(SQLite::Database& db, int modbusAddress, const std::vector<MemoryRow>& steps) {
  SQLite::Statement upsert(db, R"(INSERT INTO "ControllerMemory"
      ("ModBusAddress", "Segment", "Duration", "Temperature", "PIDSet", "Modified", "Unknown") VALUES (?, ?, ?, ?, ?, 0, 0)
      ON CONFLICT ("ModBusAddress", "Segment") DO UPDATE SET
        "Duration" = excluded."Duration", "Temperature" = excluded."Temperature", "PIDSet" = excluded."PIDSet",
        "Unknown" = 0)");
  for (const MemoryRow& s : steps) {
    upsert.bind(1, modbusAddress);
    upsert.bind(2, s.segment);
    upsert.bind(3, s.duration);
    upsert.bind(4, s.temperature);
    upsert.bind(5, s.pidSet);
    upsert.exec();
    upsert.reset();
  }
}

}  // namespace

// --- ControllerMemory

Result<std::vector<MemoryRow>> ConfigStore::Memory(int modbusAddress) {
  return Guard([&]() -> Result<std::vector<MemoryRow>> {
    return All<MemoryRow>(
        *db_, R"(SELECT * FROM "ControllerMemory" WHERE "ModBusAddress" = ? ORDER BY "Segment")",
        [&](auto& q) { q.bind(1, modbusAddress); }, MemoryFrom);
  });
}

Result<std::optional<MemoryRow>> ConfigStore::MemoryStep(int modbusAddress, int segment) {
  return Guard([&]() -> Result<std::optional<MemoryRow>> {
    return First<MemoryRow>(
        *db_,
        R"(SELECT * FROM "ControllerMemory" WHERE "ModBusAddress" = ? AND "Segment" = ?
                               ORDER BY "Segment")",
        [&](auto& q) {
          q.bind(1, modbusAddress);
          q.bind(2, segment);
        },
        MemoryFrom);
  });
}

Result<std::vector<MemoryRow>> ConfigStore::ModifiedSteps(int modbusAddress) {
  return Guard([&]() -> Result<std::vector<MemoryRow>> {
    return All<MemoryRow>(
        *db_,
        R"(SELECT * FROM "ControllerMemory" WHERE "ModBusAddress" = ? AND "Modified" = 1
                             ORDER BY "Segment")",
        [&](auto& q) { q.bind(1, modbusAddress); }, MemoryFrom);
  });
}

Result<std::vector<MemoryRow>> ConfigStore::UnknownSteps(int modbusAddress) {
  return Guard([&]() -> Result<std::vector<MemoryRow>> {
    return All<MemoryRow>(
        *db_,
        R"(SELECT * FROM "ControllerMemory" WHERE "ModBusAddress" = ? AND "Unknown" <> 0
                             ORDER BY "Segment")",
        [&](auto& q) { q.bind(1, modbusAddress); }, MemoryFrom);
  });
}

Status ConfigStore::WriteMemorySteps(int modbusAddress, const std::vector<MemoryRow>& steps) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_, kWrite);
    StoreReadSteps(*db_, modbusAddress, steps);
    txn.commit();
    return Status::Ok();
  });
}

Status ConfigStore::ResetControllerMemory(int modbusAddress) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_, kWrite);
    ZeroControllerMemory(*db_, modbusAddress, false);
    txn.commit();
    return Status::Ok();
  });
}

Result<std::vector<LogRow>> ConfigStore::MarkStepsUnknown(int modbusAddress, int first, int last,
                                                          TouchedLogRows touched) {
  return Guard([&]() -> Result<std::vector<LogRow>> {
    if (first < 1 || last > kProgramSteps || first > last)
      return Status::Error(Status::Code::Invalid, "Steps " + std::to_string(first) + " to " + std::to_string(last) +
                                                      " are not a range of program steps 1 to 64");
    SQLite::Transaction txn(*db_, kWrite);
    SQLite::Statement mark(*db_, R"(INSERT INTO "ControllerMemory"
        ("ModBusAddress", "Segment", "Duration", "Temperature", "PIDSet", "Modified", "Unknown") VALUES (?, ?, 0, 0, 0, 0, ?)
        ON CONFLICT ("ModBusAddress", "Segment") DO UPDATE SET "Unknown" = excluded."Unknown")");
    for (int segment = first; segment <= last; ++segment) {
      mark.bind(1, modbusAddress);
      mark.bind(2, segment);
      mark.bind(3, kWriteUnfinished);
      mark.exec();
      mark.reset();
    }
    std::vector<LogRow> dropped;
    if (touched == TouchedLogRows::Drop) dropped = DeleteLogRowsTouching(*db_, modbusAddress, first, last);
    txn.commit();
    return dropped;
  });
}

Status ConfigStore::RecordUpload(int modbusAddress, const std::vector<MemoryRow>& readBack, const LogRow& entry) {
  return Guard([&]() -> Status {
    SQLite::Transaction txn(*db_, kWrite);
    StoreReadSteps(*db_, modbusAddress, readBack);
    UpsertLogRow(*db_, entry);
    txn.commit();
    return Status::Ok();
  });
}

Status ConfigStore::SetStepModified(int modbusAddress, int segment, int value, int jumpTime) {
  return Guard([&]() -> Status {
    SQLite::Statement q(*db_, R"(UPDATE "ControllerMemory" SET "Modified" = ?, "JumpTime" = ?
                                 WHERE "ModBusAddress" = ? AND "Segment" = ?)");
    q.bind(1, value);
    q.bind(2, value == 1 ? jumpTime : 0);
    q.bind(3, modbusAddress);
    q.bind(4, segment);
    if (q.exec() > 0) return Status::Ok();
    if (value == 0 || segment < 1 || segment > kProgramSteps)
      return Status::Error(Status::Code::NotFound, "No program memory row for step " + std::to_string(segment));
    SQLite::Statement add(*db_, R"(INSERT INTO "ControllerMemory"
        ("ModBusAddress", "Segment", "Duration", "Temperature", "PIDSet", "Modified", "Unknown", "JumpTime")
        VALUES (?, ?, 0, 0, 0, ?, ?, ?))");
    add.bind(1, modbusAddress);
    add.bind(2, segment);
    add.bind(3, value);
    add.bind(4, kNotRead);
    add.bind(5, value == 1 ? jumpTime : 0);
    add.exec();
    return Status::Ok();
  });
}

void PrepareAddressRows(SQLite::Database& db, int modbusAddress) {
  bool before = false;
  for (const char* table : {"ControllerMemory", "TarvelLog", "ControllerConfiguration", "ControllerCapabilities"}) {
    SQLite::Statement any(db, std::string(R"(SELECT 1 FROM ")") + table + R"(" WHERE "ModBusAddress" = ? LIMIT 1)");
    any.bind(1, modbusAddress);
    before = before || any.executeStep();
  }
  if (!before) {
    ZeroControllerMemory(db, modbusAddress, false);
    return;
  }
  // The words stay for the user to compare with a download; nothing is put back from them.
  SQLite::Statement mark(db, R"(INSERT INTO "ControllerMemory"
      ("ModBusAddress", "Segment", "Duration", "Temperature", "PIDSet", "Modified", "Unknown") VALUES (?, ?, 0, 0, 0, 0, ?)
      ON CONFLICT ("ModBusAddress", "Segment") DO UPDATE SET "Modified" = 0, "Unknown" = excluded."Unknown")");
  for (int segment = 1; segment <= kProgramSteps; ++segment) {
    mark.bind(1, modbusAddress);
    mark.bind(2, segment);
    mark.bind(3, kNotRead);
    mark.exec();
    mark.reset();
  }
  for (const char* table : {"TarvelLog", "ControllerConfiguration", "ControllerCapabilities"}) {
    SQLite::Statement drop(db, std::string(R"(DELETE FROM ")") + table + R"(" WHERE "ModBusAddress" = ?)");
    drop.bind(1, modbusAddress);
    drop.exec();
  }
}

void ZeroControllerMemory(SQLite::Database& db, int modbusAddress, bool unknown) {
  SQLite::Statement upsert(db, R"(INSERT INTO "ControllerMemory"
      ("ModBusAddress", "Segment", "Duration", "Temperature", "PIDSet", "Modified", "Unknown") VALUES (?, ?, 0, 0, 0, 0, ?)
      ON CONFLICT ("ModBusAddress", "Segment") DO UPDATE SET
        "Duration" = 0, "Temperature" = 0, "PIDSet" = 0, "Modified" = 0, "Unknown" = excluded."Unknown",
        "JumpTime" = 0)");
  for (int segment = 1; segment <= kProgramSteps; ++segment) {
    upsert.bind(1, modbusAddress);
    upsert.bind(2, segment);
    upsert.bind(3, unknown ? 1 : 0);
    upsert.exec();
    upsert.reset();
  }
}

}  // namespace tarvel::store
