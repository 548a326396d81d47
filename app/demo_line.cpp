#include "demo_line.h"

#include <array>
#include <filesystem>
#include <vector>

#include "console/profile_program.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "util/text.h"

namespace tarvel::app {
namespace {

constexpr std::uint8_t kKiln = 1;
constexpr std::uint8_t kOven = 2;
constexpr std::uint8_t kDryer = 3;
constexpr std::uint8_t kAnnealer = 4;
constexpr const char* kDemoProfile = "Demo drying.txt";
constexpr const char* kCureProfile = "Small part cure.txt";

// A mould drying schedule in minutes and degrees Fahrenheit, with relay 1 on during the soak.
const sim::ProgramStep kDemoProgram[] = {
    {1, 60, 70},      // ramp 70 -> 250 in an hour
    {1, 120, 250},    // hold 250 for two hours
    {1, -1011, 250},  // relay 1 on
    {1, 90, 250},     // ramp 250 -> 400
    {1, 240, 400},    // hold 400 for four hours
    {1, -1010, 400},  // relay 1 off
    {1, 120, 400},    // cool 400 -> 100
    {1, 0, 100},      // end
};
constexpr int kDemoSteps = static_cast<int>(std::size(kDemoProgram));

using Row = std::array<const char*, profile::kTableColumns>;
// Seg, Start Time, Duration, Action, Start Temp, End Temp, Ramp Rate, Error Limits, Command, Notify
const std::vector<Row> kDrying = {
    Row{"1", "0", "60", "r", "70", "250", "3", "10", "", ""},
    Row{"2", "60", "120", "h", "250", "250", "0", "10", "J1=on", ""},
    Row{"3", "180", "90", "r", "250", "400", "1.67", "10", "", ""},
    Row{"4", "270", "240", "h", "400", "400", "0", "10", "J1=off", ""},
    Row{"5", "510", "120", "r", "400", "100", "-2.5", "20", "", ""},
    Row{"6", "630", "", "e", "100", "", "", "", "", ""},
};
const std::vector<Row> kCure = {
    Row{"1", "0", "30", "r", "70", "180", "3.67", "10", "", ""},
    Row{"2", "30", "45", "h", "180", "180", "0", "5", "C=2", ""},
    Row{"3", "75", "30", "r", "180", "80", "-3.33", "10", "", ""},
    Row{"4", "105", "", "e", "80", "", "", "", "", ""},
};

profile::ProfileTable TableOf(const std::vector<Row>& rows) {
  profile::ProfileTable table;
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (int column = 0; column < profile::kTableColumns; ++column)
      table.at(static_cast<int>(i) + 1, column) = rows[i][static_cast<std::size_t>(column)];
  return table;
}

// The cure as the console would compile it at step 1 (K, Fahrenheit, minutes).
std::vector<link::ProgramStep> CureProgram() { return console::StepsOfProfile(TableOf(kCure), {}, 1).steps; }

void LoadProgram(sim::UnitState& unit, const std::vector<sim::ProgramStep>& steps) {
  for (std::size_t i = 0; i < steps.size() && i < unit.steps.size(); ++i) unit.steps[i] = steps[i];
  unit.programLowStep = 1;
  unit.programHighStep = static_cast<std::uint8_t>(steps.size());
  unit.runMode = 2;  // M-SV R/S
  unit.temperatureScale = 1;
}

}  // namespace

std::unique_ptr<sim::SimulatedLine> StartDemoLine(std::string& why, double speed) {
  sim::Options options;
  options.addresses = {kKiln, kOven, kDryer, kAnnealer};
  options.speed = speed;  // 60: a simulated minute per second, the demo program runs in about ten minutes
  auto line = std::make_unique<sim::SimulatedLine>(options);
  auto started = line->Start();
  if (!started) {
    why = started.status().message();
    return nullptr;
  }
  line->EditUnit(kKiln, [](sim::UnitState& unit) {
    LoadProgram(unit, std::vector<sim::ProgramStep>(std::begin(kDemoProgram), std::end(kDemoProgram)));
  });
  line->FrontPanelStart(kKiln);
  line->EditUnit(kDryer, [](sim::UnitState& unit) {
    std::vector<sim::ProgramStep> steps;
    for (const link::ProgramStep& s : CureProgram())
      steps.push_back({static_cast<std::int16_t>(s.pidSet), static_cast<std::int16_t>(s.duration),
                       static_cast<std::int16_t>(s.temperature)});
    LoadProgram(unit, steps);
  });
  line->FrontPanelStart(kDryer);
  line->EditUnit(kOven, [](sim::UnitState& unit) {
    unit.setValue = 180;
    unit.runMode = 0;
  });
  line->EditUnit(kAnnealer, [](sim::UnitState& unit) {
    unit.setValue = 300;
    unit.processTemperature = 296;
    unit.runMode = 0;
  });
  return line;
}

Status SeedDemoChannels(store::ConfigStore& store, const sim::SimulatedLine& line, const AppFolder& folder) {
  if (!store.ChannelMapIsEmpty().value_or(false)) return Status::Ok();
  const std::pair<std::uint8_t, const char*> units[] = {{kKiln, "Simulated kiln"},
                                                        {kOven, "Simulated oven"},
                                                        {kDryer, "Simulated dryer"},
                                                        {kAnnealer, "Simulated annealer"}};
  int channel = 0;
  for (auto [address, nickName] : units) {
    ++channel;
    if (!store.AddChannel({channel, address, nickName, "set64rs"})) continue;
    // The memory copy is what the simulated controller holds, as a download would record it.
    const sim::UnitState unit = line.Unit(address);
    std::vector<store::MemoryRow> steps;
    for (int step = 1; step <= 64; ++step) {
      const auto& s = unit.steps[step - 1];
      steps.push_back({address, step, s.duration, s.temperature, s.pidSet, 0});
    }
    if (Status stored = store.WriteMemorySteps(address, steps); !stored) return stored;
    EnsureDirectoryPath(folder.ChannelLogFolder(channel).string() + "/");
  }
  const int cureSteps = static_cast<int>(CureProgram().size());
  for (Status stored : {store.WriteLogEntry({kKiln, kDemoProfile, 1, kDemoSteps, "K", "F", "M", "SV"}),
                        store.SaveRunSelection(kKiln, kDemoProfile, 1, kDemoSteps),
                        store.WriteLogEntry({kDryer, kCureProfile, 1, cureSteps, "K", "F", "M", "SV"}),
                        store.SaveRunSelection(kDryer, kCureProfile, 1, cureSteps)})
    if (!stored) return stored;
  return Status::Ok();
}

void ShiftKilnProgram(sim::SimulatedLine& line, int degrees) {
  line.EditUnit(kKiln, [degrees](sim::UnitState& unit) {
    for (int i = 0; i < kDemoSteps; ++i)
      unit.steps[i].temperature = static_cast<std::int16_t>(kDemoProgram[i].temperature + degrees);
  });
}

void SeedDemoProfiles(const AppFolder& folder) {
  for (const auto& [name, rows] : {std::pair{kDemoProfile, &kDrying}, std::pair{kCureProfile, &kCure}}) {
    const std::filesystem::path file = folder.Profiles() / name;
    if (std::filesystem::exists(file)) continue;
    profile::ProfileSettings settings;  // K, Fahrenheit, minutes: what the controllers run
    (void)profile::SaveProfileText(file, profile::BuildProfileText(TableOf(*rows), settings));
  }
}

}  // namespace tarvel::app
