#include "store/config_store.h"

#include "store/sql.h"

namespace tarvel::store {
namespace {

MemoryRow MemoryFrom(SQLite::Statement& q) {
  return {IntOf(q.getColumn("ModBusAddress")), IntOf(q.getColumn("Segment")), IntOf(q.getColumn("Duration")),
          IntOf(q.getColumn("Temperature")), IntOf(q.getColumn("PIDSet")), IntOf(q.getColumn("Modified"))};
}

}  // namespace

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
    ZeroControllerMemory(*db_, modbusAddress);
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

void ZeroControllerMemory(SQLite::Database& db, int modbusAddress) {
  SQLite::Statement upsert(db, R"(INSERT INTO "ControllerMemory"
      ("ModBusAddress", "Segment", "Duration", "Temperature", "PIDSet", "Modified") VALUES (?, ?, 0, 0, 0, 0)
      ON CONFLICT ("ModBusAddress", "Segment") DO UPDATE SET
        "Duration" = 0, "Temperature" = 0, "PIDSet" = 0, "Modified" = 0)");
  for (int segment = 1; segment <= kProgramSteps; ++segment) {
    upsert.bind(1, modbusAddress);
    upsert.bind(2, segment);
    upsert.exec();
    upsert.reset();
  }
}

}  // namespace tarvel::store
