#pragma once
// The built-in simulated line of `tarvel --simulate`: four controllers, two of them running
// (the kiln a demo drying program, the dryer a short cure), so a new user sees a working
// console and line overview without hardware.

#include <memory>
#include <string>

#include "sim/simulated_line.h"
#include "store/config_store.h"
#include "util/app_folder.h"

namespace tarvel::app {

// Starts the simulator on a pseudo-terminal, simulated time running speed times faster than
// real time; nullptr with why on failure.
std::unique_ptr<sim::SimulatedLine> StartDemoLine(std::string& why, double speed = 60);

// On an empty channel map: maps the simulated controllers to channels 1 to 4 with their
// program memory copies, and logs and selects the two running programs. A map that has rows is
// left alone. The first database write that failed, if one did.
[[nodiscard]] Status SeedDemoChannels(store::ConfigStore& store, const sim::SimulatedLine& line,
                                      const AppFolder& folder);

// Writes two example profiles into Profiles/ (the demo drying schedule that the kiln runs, and
// the short cure the dryer runs) unless files of those names are there already.
void SeedDemoProfiles(const AppFolder& folder);

// The demo's fault: the kiln's controller runs its program `degrees` above the design (0: as
// designed again), so its process value leaves the design's band and the line watch raises an
// alarm. Only the simulated line can be told this.
void ShiftKilnProgram(sim::SimulatedLine& line, int degrees);

}  // namespace tarvel::app
