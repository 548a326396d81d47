#pragma once
// store: first start of an application folder.

#include <string>
#include <vector>

#include "store/rows.h"
#include "util/app_folder.h"
#include "util/result.h"

namespace tarvel::store {

struct HomeReport {
  std::vector<std::string> created;   // what this start made, as paths
  std::vector<std::string> problems;  // damaged files and what could not be made, one line each
  // Not ok when the folder cannot be used at all: a folder that cannot be made, entered or
  // written, or a configuration database that cannot be opened or written. Its message names
  // the path and the reason; it is also among the problems.
  Status fatal;
};

// Makes whatever of the application folder is missing: Setup/, Setup/MenuFiles/, Profiles/,
// LogFiles/, the configuration database with every table, SensorMenuDBName.txt and the
// sensor menu database it names. Anything already there is kept as it is (a database of an
// earlier version gains the tables and columns it lacks); a file that is not a valid database
// is reported and never touched. Never throws: every file or folder problem is reported.
HomeReport PrepareHome(const AppFolder& folder);

// The standard sensor types written into a new sensor menu database.
const std::vector<SensorRow>& StandardSensors();

inline constexpr const char* kDefaultSensorMenuName = "SensorMenu.db";

}  // namespace tarvel::store
