// store: the Loads table -- open load records and the seal of closed ones.
#include "store/sql.h"

namespace tarvel::store {
namespace {

LoadRow LoadRowOf(SQLite::Statement& q) {
  return LoadRow{TextOf(q.getColumn("LoadId")), TextOf(q.getColumn("State")), TextOf(q.getColumn("Channels")),
                 TextOf(q.getColumn("Opened")),  TextOf(q.getColumn("Head")),  q.getColumn("Lines").getInt64()};
}

}  // namespace

Result<std::vector<LoadRow>> ConfigStore::OpenLoads() {
  return Guard([&]() -> Result<std::vector<LoadRow>> {
    return All<LoadRow>(*db_, R"(SELECT * FROM "Loads" WHERE "State" = 'open' ORDER BY "Opened", "LoadId")",
                        [](auto&) {}, LoadRowOf);
  });
}

Result<std::optional<LoadRow>> ConfigStore::Load(std::string_view loadId) {
  return Guard([&]() -> Result<std::optional<LoadRow>> {
    return First<LoadRow>(*db_, R"(SELECT * FROM "Loads" WHERE "LoadId" = ?)",
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

}  // namespace tarvel::store
