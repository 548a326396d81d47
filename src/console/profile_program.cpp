#include "console/profile_program.h"

#include "console/grids.h"
#include "console/sensor_range.h"
#include "link/commands.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "profile/verify.h"
#include "util/text.h"

namespace tarvel::console {
namespace {

using profile::kCommand;
using profile::kDuration;
using profile::kStartTemp;

int Whole(const std::string& cell, double factor = 1.0) {
  auto value = ParseNumber(cell);
  return value ? static_cast<int>(RoundHalfEven(*value * factor)) : 0;
}

}  // namespace

CompiledProgram StepsOfProfile(const profile::ProfileTable& table, const profile::ProfileSettings& settings,
                               int startStep) {
  CompiledProgram program;
  program.startStep = startStep;
  const int last = profile::LastProfileRow(table);
  const double timeFactor = settings.timeScale == profile::TimeScale::Hours ? 60.0 : 1.0;
  auto add = [&program](int pid, int time, int temp) {
    if (static_cast<int>(program.steps.size()) < link::kStepCount)
      program.steps.push_back({pid, time, temp});
    else
      program.truncated = true;
  };
  for (int row = 1; row <= last; ++row) {
    const bool end = row == last;
    const int time = end ? 0 : Whole(table.at(row, kDuration), timeFactor);
    const int nextTemp = Whole(table.at(end ? row : row + 1, kStartTemp));
    const int temp = Whole(table.at(row, kStartTemp));
    const std::string& command = table.at(row, kCommand);
    const std::string pidText = ValueAfterKey(command, "C=");
    const int pid = pidText.empty() ? 1 : Whole(pidText);
    add(pid, time, temp);
    for (auto [key, on, off] : {std::tuple{"J1=", kRelay1On, kRelay1Off}, std::tuple{"J2=", kRelay2On, kRelay2Off}}) {
      const std::string value = ValueAfterKey(command, key);
      if (value == "on") add(pid, on, nextTemp);
      if (value == "off") add(pid, off, nextTemp);
    }
  }
  return program;
}

bool ProfileProgram::OpenProfile(const std::filesystem::path& file) {
  context_.ClearDisplay();
  if (file.empty()) return false;
  auto loaded = profile::LoadProfileFile(file);
  if (!loaded) {
    context_.Display("Error: Unable to load profile");
    context_.Display(file.string() + ": " + loaded.status().message());
    return false;
  }
  const std::string& text = *loaded;
  context_.Display("Profile is valid");
  // The compiled program was the profile before's: uploading it under this name would log
  // one profile at steps that hold another.
  compiled_ = {};
  compiled_flag_ = false;
  context_.view.SetGridRows(Grid::CompiledProfile, {});
  loaded_.name = FileNameFromPath(file.string());
  loaded_.table = profile::ParseProfileText(text);
  loaded_.sensor = TrimTrailingBlanks(profile::SensorTypeField(text));
  loaded_.temperatureScale = std::string(1, profile::TemperatureScaleField(text));
  loaded_.timeScale = std::string(1, profile::TimeScaleField(text));
  context_.ShowField(Field::CompileProfileName, loaded_.name);
  context_.ShowField(Field::CompiledProfileSensor, loaded_.sensor);
  context_.ShowField(Field::CompiledProfileTemperatureScale, loaded_.temperatureScale);
  context_.ShowField(Field::CompiledProfileTimeScale, loaded_.timeScale);
  return true;
}

void ProfileProgram::SetStartStepText(const std::string& text) {
  context_.ClearDisplay();
  if (!IsNumber(text)) {
    context_.Display("Error: START entry is not a number");
    return;
  }
  context_.ClearDisplay();
  // Beyond 16 bits the entry cannot be a step at all; the upload refuses it again in any case.
  auto value = ToInt16(text);
  startStep_ = value ? *value : 0;
  if (startStep_ < 1 || startStep_ > link::kStepCount) context_.Display("Start Address is out of range 1 - 64");
}

bool ProfileProgram::PassesChecks() {
  // The lines of a profile that passes are profile check's praise: only a refusal is shown.
  struct Lines : profile::MessageSink {
    std::vector<std::string> lines;
    void Clear() override {}
    void Display(std::string_view text) override { lines.emplace_back(text); }
  } sink;
  if (CheckProfile(context_.folder.SensorMenuDatabase(), loaded_.table, loaded_.Settings(), sink)) return true;
  for (const auto& line : sink.lines) context_.Display(line);
  context_.Display("Error: " + (loaded_.name.empty() ? std::string("The profile") : loaded_.name) +
                   " does not pass the profile checks above: nothing is compiled or uploaded");
  return false;
}

void ProfileProgram::BuildProgram() {
  context_.ClearDisplay();
  // A profile that profile check refuses is never compiled, so never uploaded.
  if (!PassesChecks()) {
    compiled_ = CompiledProgram{};
    compiled_flag_ = false;
    context_.view.SetGridRows(Grid::CompiledProfile, {});
    return;
  }
  const profile::ProfileSettings settings = loaded_.Settings();
  compiled_ = StepsOfProfile(loaded_.table, settings, startStep_);
  compiled_.profileName = loaded_.name;
  std::vector<std::vector<std::string>> rows;
  for (std::size_t j = 0; j < compiled_.steps.size(); ++j) {
    const auto& s = compiled_.steps[j];
    rows.push_back({Text(startStep_ + static_cast<int>(j)), Text(s.duration), Text(s.temperature), Text(s.pidSet)});
  }
  context_.view.SetGridRows(Grid::CompiledProfile, rows);
  memory_.HighlightProgramRange(startStep_, static_cast<int>(compiled_.steps.size()));
  context_.view.ScrollTo(Grid::ProgramMemory, startStep_);
  if (compiled_.truncated)
    context_.Display("WARNING: The profile needs more than 64 program steps; steps past 64 were dropped");
  compiled_flag_ = true;
}

void ProfileProgram::BuildAndCheckTarget() {
  BuildProgram();
  if (!compiled_flag_) return;
  auto address = selection_.CurrentAddress();
  context_.Display("Target in Controller program memory is highlighted");
  // A target that does not fit has no conflicts to report: the upload refuses it.
  if (startStep_ < 1 || startStep_ > link::kStepCount) {
    context_.Display("Start Address is out of range 1 - 64");
    return;
  }
  if (compiled_.LastStep() > link::kStepCount) {
    context_.Display("WARNING: The program runs from step " + Text(startStep_) + " to step " +
                     Text(compiled_.LastStep()) + ", past step 64: the upload will refuse it");
    return;
  }
  if (compiled_.LastStep() == link::kStepCount) context_.Display(kReachesStepSixtyFour);
  if (address && CheckMemoryConflict(*address, startStep_, static_cast<int>(compiled_.steps.size()))) {
    context_.Display("WARNING: Upload will overwrite program memory");
    context_.Display("To avoid select unused memory");
  } else {
    context_.Display("No conflicts in controller program memory");
  }
}

bool ProfileProgram::CheckMemoryConflict(int address, int start, int count) {
  const int end = start + count - 1;
  for (const auto& row : context_.store.Log(address).value_or({}))
    if (end >= row.start && start <= row.stop) return true;
  return false;
}

}  // namespace tarvel::console
