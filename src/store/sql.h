#pragma once
// store, internal: what the ConfigStore's translation units share -- reading a column, running
// a query into rows, and the guard that turns a closed store or an SQLite failure into the
// returned failure. Only src/store includes it.

#include <SQLiteCpp/SQLiteCpp.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "store/config_store.h"

namespace tarvel::store {

inline constexpr int kProgramSteps = 64;

inline int IntOf(const SQLite::Column& c) { return c.isNull() ? 0 : c.getInt(); }
inline std::string TextOf(const SQLite::Column& c) { return c.isNull() ? std::string() : c.getString(); }

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

// What went wrong with the database file, as the user needs it: the path and the reason (locked,
// read-only, disk full, permission, damaged), coded so that the caller can tell them apart.
Status DatabaseFailure(const std::filesystem::path& file, const std::exception& e, SQLite::Database* db = nullptr);

// An existing database file of 0 bytes is no configuration database (Code::Damaged, "Empty
// database: PATH ..."); SQLite would take it for a new one.
Status RefuseEmptyDatabase(const std::filesystem::path& file);

// Creates the tables and adds the columns that a database of an earlier version lacks, in one
// transaction; writes nothing when the schema is current.
void EnsureConfigSchema(SQLite::Database& db);

// Every change takes the write lock at its start: a locked database fails the change before any
// of it is made, after the busy timeout.
// The device of the home's stored port (the first CommunicationsPort row), as an SQL value.
inline const std::string kStoredPort = R"((SELECT "DevicePath" FROM "CommunicationsPort" ORDER BY rowid LIMIT 1))";

inline constexpr auto kWrite = SQLite::TransactionBehavior::IMMEDIATE;

// Runs one operation; a closed store or an SQLite failure becomes the returned failure.
template <class F>
auto ConfigStore::Guard(F&& body) -> decltype(body()) {
  if (!db_) return open_;
  try {
    return body();
  } catch (const std::exception& e) {
    return DatabaseFailure(file_, e, db_.get());
  }
}

// The 64 zeroed ControllerMemory rows of an address, edited or added, marked unknown or not,
// inside the caller's transaction.
void ZeroControllerMemory(SQLite::Database& db, int modbusAddress, bool unknown);

// A channel comes to an address, inside the caller's transaction: 64 zeroed rows for an
// address the database has nothing of; for one it has rows of (from a controller that may
// since have been swapped), the steps are marked kNotRead and its log rows, run selection and
// learnt frames deleted.
void PrepareAddressRows(SQLite::Database& db, int modbusAddress);

// Inside the caller's transaction: the log row of (ProfileName, ModBusAddress) edited or added;
// every log row of the address whose Start..Stop touches first..last deleted and returned.
void UpsertLogRow(SQLite::Database& db, const LogRow& row);
std::vector<LogRow> DeleteLogRowsTouching(SQLite::Database& db, int modbusAddress, int first, int last);

}  // namespace tarvel::store
