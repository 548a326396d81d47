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
