// store: the Loads table (open load records and the seal of closed ones), and the clients' starts
// and operator actions waiting for the process that records them.
#include "store/sql.h"

namespace tarvel::store {
namespace {

LoadRow LoadRowOf(SQLite::Statement& q) {
  return LoadRow{TextOf(q.getColumn("LoadId")), TextOf(q.getColumn("State")), TextOf(q.getColumn("Channels")),
                 TextOf(q.getColumn("Opened")), TextOf(q.getColumn("Head")),  q.getColumn("Lines").getInt64()};
}

}  // namespace

Result<std::vector<LoadRow>> ConfigStore::OpenLoads() {
  return Guard([&]() -> Result<std::vector<LoadRow>> {
    return All<LoadRow>(
        *db_, R"(SELECT * FROM "Loads" WHERE "State" = 'open' ORDER BY "Opened", "LoadId")", [](auto&) {}, LoadRowOf);
  });
}

Result<std::optional<LoadRow>> ConfigStore::Load(std::string_view loadId) {
  return Guard([&]() -> Result<std::optional<LoadRow>> {
    return First<LoadRow>(
        *db_, R"(SELECT * FROM "Loads" WHERE "LoadId" = ?)",
        [&](SQLite::Statement& q) { q.bind(1, std::string(loadId)); }, LoadRowOf);
  });
}

Status ConfigStore::SaveLoad(const LoadRow& row) {
  if (row.loadId.empty()) return Status::Error(Status::Code::Invalid, "A load needs an id");
  return Guard([&]() -> Status {
    SQLite::Statement q(*db_, R"(INSERT INTO "Loads" ("LoadId", "State", "Channels", "Opened", "Head", "Lines")
                                 VALUES (?, ?, ?, ?, ?, ?)
                                 ON CONFLICT ("LoadId") DO UPDATE SET "State" = excluded."State",
                                   "Channels" = excluded."Channels", "Opened" = excluded."Opened",
                                   "Head" = excluded."Head", "Lines" = excluded."Lines")");
    q.bind(1, row.loadId);
    q.bind(2, row.state);
    q.bind(3, row.channels);
    q.bind(4, row.opened);
    q.bind(5, row.head);
    q.bind(6, static_cast<int64_t>(row.lines));
    q.exec();
    return Status::Ok();
  });
}

Status ConfigStore::SaveLoadStarts(const std::vector<LoadStartRow>& rows) {
  return Guard([&]() -> Status {
    SQLite::Transaction t(*db_, kWrite);
    for (const LoadStartRow& row : rows) {
      SQLite::Statement drop(*db_, R"(DELETE FROM "LoadStartFields" WHERE "SoftwareChannel" = ?)");
      drop.bind(1, row.softwareChannel);
      drop.exec();
      SQLite::Statement q(*db_, R"(INSERT INTO "LoadStarts" ("SoftwareChannel", "Operator", "StartedBy", "Requested")
                                   VALUES (?, ?, ?, ?)
                                   ON CONFLICT ("SoftwareChannel") DO UPDATE SET "Operator" = excluded."Operator",
                                     "StartedBy" = excluded."StartedBy", "Requested" = excluded."Requested")");
      q.bind(1, row.softwareChannel);
      q.bind(2, row.operatorName);
      q.bind(3, row.startedBy);
      q.bind(4, static_cast<int64_t>(row.requested));
      q.exec();
      for (std::size_t i = 0; i < row.fields.size(); ++i) {
        SQLite::Statement f(*db_, R"(INSERT INTO "LoadStartFields" ("SoftwareChannel", "Position", "Name", "Value")
                                     VALUES (?, ?, ?, ?))");
        f.bind(1, row.softwareChannel);
        f.bind(2, static_cast<int>(i));
        f.bind(3, row.fields[i].first);
        f.bind(4, row.fields[i].second);
        f.exec();
      }
    }
    t.commit();
    return Status::Ok();
  });
}

Result<std::optional<LoadStartRow>> ConfigStore::LoadStart(int softwareChannel) {
  return Guard([&]() -> Result<std::optional<LoadStartRow>> {
    auto row = First<LoadStartRow>(
        *db_, R"(SELECT * FROM "LoadStarts" WHERE "SoftwareChannel" = ?)",
        [&](SQLite::Statement& q) { q.bind(1, softwareChannel); },
        [](SQLite::Statement& q) {
          return LoadStartRow{IntOf(q.getColumn("SoftwareChannel")),
                              TextOf(q.getColumn("Operator")),
                              TextOf(q.getColumn("StartedBy")),
                              q.getColumn("Requested").getInt64(),
                              {}};
        });
    if (!row) return row;
    row->fields = All<std::pair<std::string, std::string>>(
        *db_, R"(SELECT "Name", "Value" FROM "LoadStartFields" WHERE "SoftwareChannel" = ? ORDER BY "Position")",
        [&](SQLite::Statement& q) { q.bind(1, softwareChannel); },
        [](SQLite::Statement& q) { return std::pair(TextOf(q.getColumn(0)), TextOf(q.getColumn(1))); });
    return row;
  });
}

Status ConfigStore::DropLoadStarts(const std::vector<int>& softwareChannels) {
  return Guard([&]() -> Status {
    SQLite::Transaction t(*db_, kWrite);
    for (int channel : softwareChannels)
      for (const char* sql : {R"(DELETE FROM "LoadStarts" WHERE "SoftwareChannel" = ?)",
                              R"(DELETE FROM "LoadStartFields" WHERE "SoftwareChannel" = ?)"}) {
        SQLite::Statement q(*db_, sql);
        q.bind(1, channel);
        q.exec();
      }
    t.commit();
    return Status::Ok();
  });
}

namespace {
// An action's fields, in the order the statements name them.
void BindLoadAction(SQLite::Statement& q, const LoadActionRow& row) {
  q.bind(1, row.softwareChannel);
  q.bind(2, static_cast<int64_t>(row.at));
  q.bind(3, row.kind);
  q.bind(4, row.who);
  q.bind(5, row.what);
  q.bind(6, row.oldValue);
  q.bind(7, row.newValue);
}
}  // namespace

Status ConfigStore::AddLoadAction(const LoadActionRow& row) {
  return Guard([&]() -> Status {
    SQLite::Statement q(*db_, R"(INSERT INTO "LoadActions" ("SoftwareChannel", "At", "Kind", "Who", "What", "OldValue",
                                 "NewValue") VALUES (?, ?, ?, ?, ?, ?, ?))");
    BindLoadAction(q, row);
    q.exec();
    return Status::Ok();
  });
}

Result<std::vector<LoadActionRow>> ConfigStore::LoadActions() {
  return Guard([&]() -> Result<std::vector<LoadActionRow>> {
    return All<LoadActionRow>(
        *db_, R"(SELECT * FROM "LoadActions" ORDER BY "Id")", [](auto&) {},
        [](SQLite::Statement& q) {
          return LoadActionRow{q.getColumn("Id").getInt64(),    IntOf(q.getColumn("SoftwareChannel")),
                               q.getColumn("At").getInt64(),    TextOf(q.getColumn("Kind")),
                               TextOf(q.getColumn("Who")),      TextOf(q.getColumn("What")),
                               TextOf(q.getColumn("OldValue")), TextOf(q.getColumn("NewValue"))};
        });
  });
}

Result<bool> ConfigStore::WithdrawLoadAction(const LoadActionRow& row) {
  return Guard([&]() -> Result<bool> {
    SQLite::Statement q(*db_, R"(DELETE FROM "LoadActions" WHERE "Id" = (SELECT "Id" FROM "LoadActions"
        WHERE "SoftwareChannel" = ? AND "At" = ? AND "Kind" = ? AND "Who" = ? AND "What" = ? AND "OldValue" = ?
        AND "NewValue" = ? ORDER BY "Id" DESC LIMIT 1))");
    BindLoadAction(q, row);
    return q.exec() > 0;
  });
}

Status ConfigStore::DropLoadActions(const std::vector<long long>& ids) {
  return Guard([&]() -> Status {
    SQLite::Transaction t(*db_, kWrite);
    for (long long id : ids) {
      SQLite::Statement q(*db_, R"(DELETE FROM "LoadActions" WHERE "Id" = ?)");
      q.bind(1, static_cast<int64_t>(id));
      q.exec();
    }
    t.commit();
    return Status::Ok();
  });
}

}  // namespace tarvel::store
