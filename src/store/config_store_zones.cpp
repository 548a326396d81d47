// store: the Zones table -- channels grouped as one furnace.
#include "store/sql.h"

namespace tarvel::store {

Result<std::vector<ZoneRow>> ConfigStore::Zones() {
  return Guard([&]() -> Result<std::vector<ZoneRow>> {
    return All<ZoneRow>(
        *db_, R"(SELECT * FROM "Zones" ORDER BY "ZoneName", "SoftwareChannel")", [](auto&) {},
        [](SQLite::Statement& q) {
          return ZoneRow{TextOf(q.getColumn("ZoneName")), IntOf(q.getColumn("SoftwareChannel"))};
        });
  });
}

Status ConfigStore::SetZone(int softwareChannel, std::string_view zoneName) {
  if (zoneName.empty()) return Status::Error(Status::Code::Invalid, "A zone needs a name");
  return Guard([&]() -> Status {
    SQLite::Statement q(*db_, R"(INSERT INTO "Zones" ("ZoneName", "SoftwareChannel") VALUES (?, ?)
                                 ON CONFLICT ("SoftwareChannel") DO UPDATE SET "ZoneName" = excluded."ZoneName")");
    q.bind(1, std::string(zoneName));
    q.bind(2, softwareChannel);
    q.exec();
    return Status::Ok();
  });
}

Status ConfigStore::RemoveFromZone(int softwareChannel) {
  return Guard([&]() -> Status {
    SQLite::Statement q(*db_, R"(DELETE FROM "Zones" WHERE "SoftwareChannel" = ?)");
    q.bind(1, softwareChannel);
    if (q.exec() == 0)
      return Status::Error(Status::Code::NotFound, "Channel " + std::to_string(softwareChannel) + " is in no zone");
    return Status::Ok();
  });
}

Status ConfigStore::DeleteZone(std::string_view zoneName) {
  return Guard([&]() -> Status {
    SQLite::Statement q(*db_, R"(DELETE FROM "Zones" WHERE "ZoneName" = ?)");
    q.bind(1, std::string(zoneName));
    if (q.exec() == 0) return Status::Error(Status::Code::NotFound, "No zone " + std::string(zoneName));
    return Status::Ok();
  });
}

}  // namespace tarvel::store
