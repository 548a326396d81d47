#pragma once
// The built-in simulated line of `tarvel --simulate`: two controllers, one of them running
// a demo drying program, so a new user sees a working console without hardware.

#include <memory>
#include <string>

#include "sim/simulated_line.h"
#include "store/config_store.h"
#include "util/app_folder.h"

namespace tarvel::app {

// Starts the simulator on a pseudo-terminal; nullptr with why on failure.
std::unique_ptr<sim::SimulatedLine> StartDemoLine(std::string& why);

// On an empty channel map: maps the simulated controllers to channels 1 and 2 with their
// program memory copies, and logs the demo program. A map that has rows is left alone.
void SeedDemoChannels(store::ConfigStore& store, const sim::SimulatedLine& line, const AppFolder& folder);

// Writes two example profiles into Profiles/ (the demo drying schedule that controller 1 runs,
// and a short cure) unless files of those names are there already.
void SeedDemoProfiles(const AppFolder& folder);

}  // namespace tarvel::app
