// store: the Alarms table -- the line watch's alarms, open and cleared, with their acknowledgement.
#include "store/sql.h"

namespace tarvel::store {
namespace {

long long TimeOf(const SQLite::Column& c) { return c.isNull() ? 0 : c.getInt64(); }

AlarmRow AlarmRowOf(SQLite::Statement& q) {
  return AlarmRow{q.getColumn("Id").getInt64(),   IntOf(q.getColumn("SoftwareChannel")), TextOf(q.getColumn("Kind")),
                  TimeOf(q.getColumn("Raised")),  TextOf(q.getColumn("Text")),           TimeOf(q.getColumn("Cleared")),
                  TextOf(q.getColumn("AckedBy")), TimeOf(q.getColumn("Acked"))};
}

constexpr const char* kOpenOf =
    R"(SELECT * FROM "Alarms" WHERE "Cleared" IS NULL AND "SoftwareChannel" = ? ORDER BY "Id" DESC)";

}  // namespace

Result<long long> ConfigStore::RaiseAlarm(const AlarmRow& row) {
  return Guard([&]() -> Result<long long> {
    SQLite::Statement q(*db_,
                        R"(INSERT INTO "Alarms" ("SoftwareChannel", "Kind", "Raised", "Text") VALUES (?, ?, ?, ?))");
    q.bind(1, row.softwareChannel);
    q.bind(2, row.kind);
    q.bind(3, static_cast<int64_t>(row.raised));
    q.bind(4, row.text);
    q.exec();
    return static_cast<long long>(db_->getLastInsertRowid());
  });
}

Status ConfigStore::ClearAlarms(const std::vector<int>& softwareChannels, long long at) {
  return Guard([&]() -> Status {
    SQLite::Transaction t(*db_, kWrite);
    for (int channel : softwareChannels) {
      SQLite::Statement q(*db_,
                          R"(UPDATE "Alarms" SET "Cleared" = ? WHERE "Cleared" IS NULL AND "SoftwareChannel" = ?)");
      q.bind(1, static_cast<int64_t>(at));
      q.bind(2, channel);
      q.exec();
    }
    t.commit();
    return Status::Ok();
  });
}

Result<std::vector<AlarmRow>> ConfigStore::OpenAlarms() {
  return Guard([&]() -> Result<std::vector<AlarmRow>> {
    return All<AlarmRow>(
        *db_, R"(SELECT * FROM "Alarms" WHERE "Cleared" IS NULL ORDER BY "SoftwareChannel", "Id")", [](auto&) {},
        AlarmRowOf);
  });
}

Result<std::optional<AlarmRow>> ConfigStore::OpenAlarm(int softwareChannel) {
  return Guard([&]() -> Result<std::optional<AlarmRow>> {
    return First<AlarmRow>(
        *db_, kOpenOf, [&](SQLite::Statement& q) { q.bind(1, softwareChannel); }, AlarmRowOf);
  });
}

Result<AlarmRow> ConfigStore::AcknowledgeAlarm(int softwareChannel, std::string_view who, long long at) {
  if (who.empty()) return Status::Error(Status::Code::Invalid, "An acknowledgement needs a name");
  return Guard([&]() -> Result<AlarmRow> {
    // One statement: an alarm the watch clears meanwhile is not acknowledged after it cleared.
    SQLite::Statement q(*db_, R"(UPDATE "Alarms" SET "AckedBy" = ?, "Acked" = ?
                                 WHERE "Cleared" IS NULL AND "AckedBy" IS NULL AND "SoftwareChannel" = ?)");
    q.bind(1, std::string(who));
    q.bind(2, static_cast<int64_t>(at));
    q.bind(3, softwareChannel);
    q.exec();
    auto row = First<AlarmRow>(
        *db_, kOpenOf, [&](SQLite::Statement& s) { s.bind(1, softwareChannel); }, AlarmRowOf);
    if (!row)
      return Status::Error(Status::Code::NotFound, "No open alarm on channel " + std::to_string(softwareChannel));
    return *row;
  });
}

}  // namespace tarvel::store
