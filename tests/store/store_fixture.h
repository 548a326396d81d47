#pragma once
// A prepared application folder with its configuration database, a store on it, and a second,
// raw connection that shows what is really in the file.

#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include <string>

#include "store/config_store.h"
#include "store/home.h"
#include "support/temp_dir.h"

namespace tarvel::store {

// A table's columns in order, separated by spaces.
inline std::string Columns(const std::filesystem::path& db, const std::string& table) {
  SQLite::Database conn(db.string(), SQLite::OPEN_READONLY);
  SQLite::Statement q(conn, "SELECT name FROM pragma_table_info(?) ORDER BY cid");
  q.bind(1, table);
  std::string names;
  while (q.executeStep()) names += (names.empty() ? "" : " ") + q.getColumn(0).getString();
  return names;
}

class StoreTest : public ::testing::Test {
 protected:
  StoreTest() : folder_(dir_.path()) {}

  SQLite::Database Raw() { return SQLite::Database(folder_.ConfigDatabase().string(), SQLite::OPEN_READWRITE); }
  long long Count(const std::string& sql) { return Raw().execAndGet(sql).getInt64(); }

  tarvel::testing::TempDir dir_;
  AppFolder folder_;
  HomeReport home_ = PrepareHome(folder_);
  ConfigStore store_{folder_.ConfigDatabase()};
};

}  // namespace tarvel::store
