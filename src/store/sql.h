#pragma once
// store, internal: what the ConfigStore's translation units share -- reading a column, running
// a query into rows, and the guard that turns a closed store or an SQLite failure into the
// returned failure. Only src/store includes it.

#include <SQLiteCpp/SQLiteCpp.h>

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

// Runs one operation; a closed store or an SQLite failure becomes the returned failure.
template <class F>
auto ConfigStore::Guard(F&& body) -> decltype(body()) {
  if (!db_) return open_;
  try {
    return body();
  } catch (const std::exception& e) {
    return Status::Failed(std::string("Database error: ") + e.what());
  }
}

// The 64 zeroed ControllerMemory rows of an address, edited or added, inside the caller's
// transaction.
void ZeroControllerMemory(SQLite::Database& db, int modbusAddress);

}  // namespace tarvel::store
