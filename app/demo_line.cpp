#include "demo_line.h"

#include <array>
#include <filesystem>
#include <vector>

#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "util/text.h"

namespace tarvel::app {
namespace {

constexpr std::uint8_t kKiln = 1;
constexpr std::uint8_t kOven = 2;
constexpr const char* kDemoProfile = "Demo drying.txt";

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

}  // namespace

std::unique_ptr<sim::SimulatedLine> StartDemoLine(std::string& why) {
  sim::Options options;
  options.addresses = {kKiln, kOven};
  options.speed = 60;  // a simulated minute per second: the demo program runs in about ten minutes
  auto line = std::make_unique<sim::SimulatedLine>(options);
  auto started = line->Start();
  if (!started) {
    why = started.status().message();
    return nullptr;
  }
  line->EditUnit(kKiln, [](sim::UnitState& unit) {
    for (int i = 0; i < kDemoSteps; ++i) unit.steps[i] = kDemoProgram[i];
    unit.programLowStep = 1;
    unit.programHighStep = kDemoSteps;
    unit.runMode = 2;  // M-SV R/S
    unit.temperatureScale = 1;
  });
  line->FrontPanelStart(kKiln);
  line->EditUnit(kOven, [](sim::UnitState& unit) {
    unit.setValue = 180;
    unit.runMode = 0;
  });
  return line;
}

void SeedDemoChannels(store::ConfigStore& store, const sim::SimulatedLine& line, const AppFolder& folder) {
  if (!store.ChannelMapIsEmpty().value_or(false)) return;
  const std::pair<std::uint8_t, const char*> units[] = {{kKiln, "Simulated kiln"}, {kOven, "Simulated oven"}};
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
    store.WriteMemorySteps(address, steps);
    EnsureDirectoryPath(folder.ChannelLogFolder(channel).string() + "/");
  }
  store.WriteLogEntry({kKiln, kDemoProfile, 1, kDemoSteps, "K", "F", "M", "SV"});
  store.SaveRunSelection(kKiln, kDemoProfile, 1, kDemoSteps);
}

void SeedDemoProfiles(const AppFolder& folder) {
  using Row = std::array<const char*, profile::kTableColumns>;
  // Seg, Start Time, Duration, Action, Start Temp, End Temp, Ramp Rate, Error Limits, Command, Notify
  const std::vector<Row> drying = {
      Row{"1", "0", "60", "r", "70", "250", "3", "10", "", ""},
      Row{"2", "60", "120", "h", "250", "250", "0", "10", "J1=on", ""},
      Row{"3", "180", "90", "r", "250", "400", "1.67", "10", "", ""},
      Row{"4", "270", "240", "h", "400", "400", "0", "10", "J1=off", ""},
      Row{"5", "510", "120", "r", "400", "100", "-2.5", "20", "", ""},
      Row{"6", "630", "", "e", "100", "", "", "", "", ""},
  };
  const std::vector<Row> cure = {
      Row{"1", "0", "30", "r", "70", "180", "3.67", "10", "", ""},
      Row{"2", "30", "45", "h", "180", "180", "0", "5", "C=2", ""},
      Row{"3", "75", "30", "r", "180", "80", "-3.33", "10", "", ""},
      Row{"4", "105", "", "e", "80", "", "", "", "", ""},
  };
  for (const auto& [name, rows] : {std::pair{kDemoProfile, &drying}, std::pair{"Small part cure.txt", &cure}}) {
    const std::filesystem::path file = folder.Profiles() / name;
    if (std::filesystem::exists(file)) continue;
    profile::ProfileTable table;
    for (std::size_t i = 0; i < rows->size(); ++i)
      for (int column = 0; column < profile::kTableColumns; ++column)
        table.at(static_cast<int>(i) + 1, column) = (*rows)[i][static_cast<std::size_t>(column)];
    profile::ProfileSettings settings;  // K, Fahrenheit, minutes: what controller 1 runs
    (void)profile::SaveProfileText(file, profile::BuildProfileText(table, settings));
  }
}

}  // namespace tarvel::app
