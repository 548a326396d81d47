#include "store/home.h"

#include <SQLiteCpp/SQLiteCpp.h>

#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <optional>

#include "store/sql.h"
#include "util/file_problem.h"

namespace tarvel::store {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMenuSchema =
    R"(CREATE TABLE IF NOT EXISTS "Menu" (
         "Caption" TEXT COLLATE RTRIM, "Index" INTEGER,
         "Fmin" INTEGER, "Fmax" INTEGER, "Cmin" INTEGER, "Cmax" INTEGER))";

// Whether the path names an existing file; a path that cannot be looked at is a problem.
std::optional<bool> Exists(const fs::path& path, HomeReport& report) {
  std::error_code ec;
  const bool exists = fs::exists(path, ec);
  if (ec) {
    report.problems.push_back(FileProblem("look at", path, ec).message());
    return std::nullopt;
  }
  return exists;
}

// An existing file that SQLite cannot read is reported with its reason and never written;
// "damaged" only when SQLite finds that it is not a database.
Status CheckReadable(const fs::path& file) {
  try {
    SQLite::Database db(file.string(), SQLite::OPEN_READONLY);
    db.execAndGet("SELECT count(*) FROM sqlite_master");
    return Status::Ok();
  } catch (const std::exception& e) {
    return DatabaseFailure(file, e);
  }
}

std::string LeftAlone(const Status& why) {
  return why.message() + (why.code() == Status::Code::Damaged ? "; it is left as it is" : "");
}

Status PrepareConfigDatabase(const fs::path& file, HomeReport& report) {
  auto existed = Exists(file, report);
  if (!existed) return Status::Failed(report.problems.back());
  if (*existed) {
    // SQLite takes an empty file for a new database: the map, the memory and the log would be
    // gone without a word. Only a new home gets a new database.
    if (Status empty = RefuseEmptyDatabase(file); !empty) {
      report.problems.push_back(LeftAlone(empty));
      return empty;
    }
    if (Status readable = CheckReadable(file); !readable) {
      report.problems.push_back(LeftAlone(readable));
      return readable;
    }
    // A database this program cannot write is of no use to it: every command records what it
    // does to a controller. Said here, before any command runs.
    if (::access(file.c_str(), W_OK) != 0) {
      Status why = FileProblem("write the database", file, std::error_code(errno, std::generic_category()));
      report.problems.push_back(why.message());
      return why;
    }
  }
  std::unique_ptr<SQLite::Database> db;
  try {
    db = std::make_unique<SQLite::Database>(file.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    db->exec("PRAGMA journal_mode=WAL");
    EnsureConfigSchema(*db);
    if (!*existed) report.created.push_back(file.string());
    return Status::Ok();
  } catch (const std::exception& e) {
    Status why = DatabaseFailure(file, e, db.get());
    report.problems.push_back("Could not prepare the database: " + why.message());
    return why;
  }
}

void PrepareSensorMenu(const fs::path& file, HomeReport& report) {
  auto existed = Exists(file, report);
  if (!existed) return;
  if (*existed) {
    if (Status readable = CheckReadable(file); !readable) report.problems.push_back(LeftAlone(readable));
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
    report.problems.push_back("Could not create the sensor menu: " + DatabaseFailure(file, e).message());
  }
}

// The folder exists as a folder this program may list, enter and write, or is made.
Status PrepareFolder(const fs::path& dir, HomeReport& report) {
  std::error_code ec;
  const fs::file_status status = fs::status(dir, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) return FileProblem("use the folder", dir, ec);
  if (fs::is_directory(status)) {
    if (::access(dir.c_str(), R_OK | W_OK | X_OK) != 0)
      return FileProblem("use the folder", dir, std::error_code(errno, std::generic_category()));
    return Status::Ok();
  }
  if (fs::exists(status))
    return FileProblem("create the folder", dir, std::make_error_code(std::errc::not_a_directory));
  if (fs::create_directories(dir, ec); ec) return FileProblem("create the folder", dir, ec);
  report.created.push_back(dir.string() + "/");
  return Status::Ok();
}

}  // namespace

const std::vector<SensorRow>& StandardSensors() {
  // Ranges of the standard reference tables (thermocouples: IEC 60584, Pt100: IEC 60751),
  // in whole degrees; the Fahrenheit limits are the Celsius ones converted and cut to whole degrees.
  static const std::vector<SensorRow> sensors = {
      {"K", 0, -454, 2501, -270, 1372}, {"J", 1, -346, 2192, -210, 1200}, {"T", 2, -454, 752, -270, 400},
      {"E", 3, -454, 1832, -270, 1000}, {"N", 4, -454, 2372, -270, 1300}, {"R", 5, -58, 3214, -50, 1768},
      {"S", 6, -58, 3214, -50, 1768},   {"B", 7, 32, 3308, 0, 1820},      {"Pt100", 8, -328, 1562, -200, 850},
  };
  return sensors;
}

HomeReport PrepareHome(const AppFolder& folder) {
  HomeReport report;
  if (folder.Root().empty()) {
    report.fatal =
        Status::Error(Status::Code::Invalid, "The application folder must be named: an empty path is no folder");
    report.problems.push_back(report.fatal.message());
    return report;
  }
  // A folder that cannot be used stops the preparation: the rest would only fail after it.
  for (const fs::path& dir :
       {folder.Root(), folder.Setup(), folder.MenuFiles(), folder.Profiles(), folder.LogFiles()}) {
    if (Status ready = PrepareFolder(dir, report); !ready) {
      report.fatal = ready;
      report.problems.push_back(ready.message());
      return report;
    }
  }

  report.fatal = PrepareConfigDatabase(folder.ConfigDatabase(), report);

  const fs::path nameFile = folder.SensorMenuNameFile();
  if (auto exists = Exists(nameFile, report); exists && !*exists) {
    std::ofstream out(nameFile, std::ios::binary);
    out << kDefaultSensorMenuName << "\r\n";
    if (out.flush())
      report.created.push_back(nameFile.string());
    else
      report.problems.push_back("Could not write " + nameFile.string());
  }
  fs::path menu = folder.SensorMenuDatabase();
  if (menu.empty())
    report.problems.push_back(folder.SensorMenuNameFile().string() + " names no sensor menu database file");
  else
    PrepareSensorMenu(menu, report);
  return report;
}

}  // namespace tarvel::store
