// store: the ControllerCapabilities table -- what each controller has shown on the line beyond
// the two-register frames, so that it is learnt once and not at every start.
#include "store/sql.h"

namespace tarvel::store {
namespace {

std::optional<bool> KnownOf(const SQLite::Column& c) {
  if (c.isNull()) return std::nullopt;
  return c.getInt() != 0;
}

void BindKnown(SQLite::Statement& q, int index, const std::optional<bool>& known) {
  if (known)
    q.bind(index, *known ? 1 : 0);
  else
    q.bind(index);
}

}  // namespace

Result<CapabilityRow> ConfigStore::Capabilities(int modbusAddress) {
  return Guard([&]() -> Result<CapabilityRow> {
    auto row = First<CapabilityRow>(
        *db_, R"(SELECT * FROM "ControllerCapabilities" WHERE "ModBusAddress" = ?)",
        [&](SQLite::Statement& q) { q.bind(1, modbusAddress); },
        [&](SQLite::Statement& q) {
          return CapabilityRow{modbusAddress, KnownOf(q.getColumn("PairWrites")), KnownOf(q.getColumn("BlockReads")),
                               KnownOf(q.getColumn("ModeBlockReads"))};
        });
    return row.value_or(CapabilityRow{modbusAddress, std::nullopt, std::nullopt, std::nullopt});
  });
}

Status ConfigStore::SaveCapabilities(const CapabilityRow& row) {
  return Guard([&]() -> Status {
    SQLite::Statement q(*db_, R"(INSERT INTO "ControllerCapabilities"
                                 ("ModBusAddress", "PairWrites", "BlockReads", "ModeBlockReads")
                                 VALUES (?, ?, ?, ?) ON CONFLICT ("ModBusAddress") DO UPDATE SET
                                 "PairWrites" = excluded."PairWrites", "BlockReads" = excluded."BlockReads",
                                 "ModeBlockReads" = excluded."ModeBlockReads")");
    q.bind(1, row.modbusAddress);
    BindKnown(q, 2, row.pairWrites);
    BindKnown(q, 3, row.blockReads);
    BindKnown(q, 4, row.modeBlock);
    q.exec();
    return Status::Ok();
  });
}

}  // namespace tarvel::store
