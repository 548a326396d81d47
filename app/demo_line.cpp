#include "demo_line.h"

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

namespace {

// The worksheet the demo program was compiled from (each row one step, "J1=" an event step).
void WriteDemoProfile(const AppFolder& folder) {
  const std::filesystem::path file = folder.Profiles() / kDemoProfile;
  if (std::filesystem::exists(file)) return;
  const char* rows[][9] = {
      {"0.00", "60", "r", "70", "250", "3.00", "10", "", ""},
      {"60.00", "120", "h", "250", "250", "0.00", "10", "J1=on", ""},
      {"180.00", "90", "r", "250", "400", "1.67", "15", "", ""},
      {"270.00", "240", "h", "400", "400", "0.00", "15", "J1=off", ""},
      {"510.00", "120", "r", "400", "100", "-2.50", "20", "", ""},
      {"630.00", "", "e", "100", "", "", "", "", ""},
  };
  profile::ProfileTable table;
  for (int r = 1; r <= profile::kLastSegmentRow; ++r) table.at(r, profile::kSeg) = std::to_string(r);
  int r = 1;
  for (const auto& row : rows) {
    for (int c = 1; c < profile::kTableColumns; ++c) table.at(r, c) = row[c - 1];
    ++r;
  }
  (void)profile::SaveProfileText(file, profile::BuildProfileText(table, {"K", profile::TemperatureScale::Fahrenheit,
                                                                         profile::TimeScale::Minutes}));
}

}  // namespace

std::unique_ptr<sim::SimulatedLine> StartDemoLine(std::string& why, double speed) {
  sim::Options options;
  options.addresses = {kKiln, kOven};
  options.speed = speed;  // 60: a simulated minute per second, the demo program runs in about ten minutes
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
  WriteDemoProfile(folder);
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

}  // namespace tarvel::app
