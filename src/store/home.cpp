#include "store/home.h"

#include <SQLiteCpp/SQLiteCpp.h>

#include <fstream>

#include "store/config_store.h"

namespace tarvel::store {
namespace {

namespace fs = std::filesystem;

// Column order matters: grids bound to ControllerMemory and TarvelLog show it.
constexpr const char* kConfigSchema[] = {
    R"(CREATE TABLE IF NOT EXISTS "ChannelMap" (
         "SoftwareChannel" INTEGER NOT NULL UNIQUE,
         "ModBusAddress" INTEGER NOT NULL UNIQUE,
         "NickName" TEXT UNIQUE,
         "ControllerType" TEXT))",
    R"(CREATE TABLE IF NOT EXISTS "CommunicationsPort" (
         "CommPortNumber" INTEGER, "CommPortMode" INTEGER, "Rate" INTEGER,
         "Parity" TEXT, "Bits" INTEGER, "StopBits" INTEGER, "DevicePath" TEXT))",
    R"(CREATE TABLE IF NOT EXISTS "ControllerMemory" (
         "ModBusAddress" INTEGER, "Segment" INTEGER, "Duration" INTEGER,
         "Temperature" INTEGER, "PIDSet" INTEGER, "Modified" INTEGER,
         UNIQUE ("ModBusAddress", "Segment")))",
    R"(CREATE TABLE IF NOT EXISTS "TarvelLog" (
         "ModBusAddress" INTEGER, "ProfileName" TEXT, "Start" INTEGER, "Stop" INTEGER,
         "SensorType" TEXT, "TemperatureScaleType" TEXT, "TimeScaleType" TEXT,
         "ProgressionType" TEXT,
         UNIQUE ("ProfileName", "ModBusAddress")))",
    R"(CREATE TABLE IF NOT EXISTS "ControllerConfiguration" (
         "ModBusAddress" INTEGER UNIQUE, "ProfileNameExecuting" TEXT,
         "ProgramLowAddress" INTEGER, "ProgramHighAddress" INTEGER, "RunMode" INTEGER,
         "SegmentExecuting" INTEGER, "SegmentElapsedTime" INTEGER))",
    R"(CREATE TABLE IF NOT EXISTS "TarvelConfiguration" ("CurrentChannel" INTEGER))",
};

constexpr const char* kMenuSchema =
    R"(CREATE TABLE IF NOT EXISTS "Menu" (
         "Caption" TEXT COLLATE RTRIM, "Index" INTEGER,
         "Fmin" INTEGER, "Fmax" INTEGER, "Cmin" INTEGER, "Cmax" INTEGER))";

// An existing file that SQLite cannot read as a database is damaged; we never write to it.
bool IsReadableDatabase(const fs::path& file, std::string& why) {
  try {
    SQLite::Database db(file.string(), SQLite::OPEN_READONLY);
    db.execAndGet("SELECT count(*) FROM sqlite_master");
    return true;
  } catch (const std::exception& e) {
    why = e.what();
    return false;
  }
}

bool HasColumn(SQLite::Database& db, const char* table, const char* column) {
  SQLite::Statement q(db, std::string("SELECT 1 FROM pragma_table_info('") + table + "') WHERE name = ?");
  q.bind(1, column);
  return q.executeStep();
}

void PrepareConfigDatabase(const fs::path& file, HomeReport& report) {
  bool existed = fs::exists(file);
  std::string why;
  if (existed && !IsReadableDatabase(file, why)) {
    report.problems.push_back("Damaged database: " + file.string() + " (" + why + "); it is left as it is");
    return;
  }
  try {
    SQLite::Database db(file.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    db.exec("PRAGMA journal_mode=WAL");
    SQLite::Transaction txn(db);
    for (const char* sql : kConfigSchema) db.exec(sql);
    db.exec(ZonesSchema());  // zones came later: older databases get the table here
    // Databases made before the serial device path was kept get the column added.
    if (!HasColumn(db, "CommunicationsPort", "DevicePath"))
      db.exec(R"(ALTER TABLE "CommunicationsPort" ADD COLUMN "DevicePath" TEXT)");
    txn.commit();
    if (!existed) report.created.push_back(file.string());
  } catch (const std::exception& e) {
    report.problems.push_back("Could not prepare database " + file.string() + ": " + e.what());
  }
}

void PrepareSensorMenu(const fs::path& file, HomeReport& report) {
  if (fs::exists(file)) {
    std::string why;
    if (!IsReadableDatabase(file, why))
      report.problems.push_back("Damaged database: " + file.string() + " (" + why + "); it is left as it is");
    return;
  }
  try {
    SQLite::Database db(file.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    SQLite::Transaction txn(db);
    db.exec(kMenuSchema);
    SQLite::Statement insert(db, R"(INSERT INTO "Menu" ("Caption", "Index", "Fmin", "Fmax", "Cmin", "Cmax")
                                    VALUES (?, ?, ?, ?, ?, ?))");
    for (const SensorRow& s : StandardSensors()) {
      insert.bind(1, s.caption);
      insert.bind(2, s.index);
      insert.bind(3, s.fmin);
      insert.bind(4, s.fmax);
      insert.bind(5, s.cmin);
      insert.bind(6, s.cmax);
      insert.exec();
      insert.reset();
    }
    txn.commit();
    report.created.push_back(file.string());
  } catch (const std::exception& e) {
    report.problems.push_back("Could not create sensor menu " + file.string() + ": " + e.what());
  }
}

}  // namespace

const std::vector<SensorRow>& StandardSensors() {
  // Ranges of the standard reference tables (thermocouples: IEC 60584, Pt100: IEC 60751),
  // in whole degrees; the Fahrenheit limits are the Celsius ones converted and cut to whole degrees.
  static const std::vector<SensorRow> sensors = {
      {"K", 0, -454, 2501, -270, 1372},  {"J", 1, -346, 2192, -210, 1200},
      {"T", 2, -454, 752, -270, 400},    {"E", 3, -454, 1832, -270, 1000},
      {"N", 4, -454, 2372, -270, 1300},  {"R", 5, -58, 3214, -50, 1768},
      {"S", 6, -58, 3214, -50, 1768},    {"B", 7, 32, 3308, 0, 1820},
      {"Pt100", 8, -328, 1562, -200, 850},
  };
  return sensors;
}

HomeReport PrepareHome(const AppFolder& folder) {
  HomeReport report;
  for (const fs::path& dir : {folder.Root(), folder.Setup(), folder.MenuFiles(), folder.Profiles(), folder.LogFiles()}) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) continue;
    if (fs::create_directories(dir, ec); ec)
      report.problems.push_back("Could not create folder " + dir.string() + ": " + ec.message());
    else
      report.created.push_back(dir.string() + "/");
  }

  PrepareConfigDatabase(folder.ConfigDatabase(), report);

  if (!fs::exists(folder.SensorMenuNameFile())) {
    std::ofstream out(folder.SensorMenuNameFile(), std::ios::binary);
    out << kDefaultSensorMenuName << "\r\n";
    if (out.flush())
      report.created.push_back(folder.SensorMenuNameFile().string());
    else
      report.problems.push_back("Could not write " + folder.SensorMenuNameFile().string());
  }
  fs::path menu = folder.SensorMenuDatabase();
  if (menu.empty())
    report.problems.push_back(folder.SensorMenuNameFile().string() + " names no sensor menu database file");
  else
    PrepareSensorMenu(menu, report);
  return report;
}

}  // namespace tarvel::store
