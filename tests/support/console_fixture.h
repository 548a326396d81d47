#pragma once
// A console on a real line (support/line_home.h), talking through a hooked line and showing
// what it says in a recording view.

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "console/console.h"
#include "link/transfers.h"
#include "support/hooked_line.h"
#include "support/line_home.h"
#include "support/recording_view.h"

namespace tarvel::console {

// The unit runs a three-step program in minutes: 100 -> 200 over 60, hold 200 for 30, end.
inline void RunThreeStepProgram(sim::SimulatedLine& line, std::uint8_t address) {
  line.EditUnit(address, [](sim::UnitState& u) {
    u.steps[0] = {1, 60, 100};
    u.steps[1] = {1, 30, 200};
    u.steps[2] = {1, 0, 200};
    u.programLowStep = 1;
    u.programHighStep = 3;
    u.runMode = 2;
  });
  line.FrontPanelStart(address);
}

class ConsoleFixture : public testing::LineHome {
 protected:
  explicit ConsoleFixture(std::vector<std::uint8_t> units = {1, 2}, LineInfo info = {true, true},
                          sim::WriteModel model = sim::WriteModel::Both, int maxRead = 2)
      : LineHome(WithModel(testing::QuickLine(std::move(units)), model, maxRead), {}), info_(info) {}

  Console& Make() {
    console_ = std::make_unique<Console>(folder_, store_, hooked_, view_, info_);
    return *console_;
  }
  // The console as the user first sees it: loaded and its window activated.
  Console& Started() {
    Make().Load();
    console_->Activate();
    return *console_;
  }

  void RunProgramOnUnit1() { RunThreeStepProgram(sim_, 1); }
  // Steps first..last as controller `unit` holds them, and one step as its memory map keeps it.
  std::vector<link::ProgramStep> Held(int first, int last, int unit = 1) const {
    std::vector<link::ProgramStep> steps;
    const auto state = sim_.Unit(static_cast<std::uint8_t>(unit));
    for (int s = first; s <= last; ++s) {
      const auto& held = state.steps.at(static_cast<std::size_t>(s - 1));
      steps.push_back({held.pidSet, held.duration, held.temperature});
    }
    return steps;
  }
  std::optional<link::ProgramStep> Mapped(int step, int unit = 1) {
    const auto row = store_.MemoryStep(unit, step).value_or(std::nullopt);
    if (!row) return std::nullopt;
    return link::ProgramStep{row->pidSet, row->duration, row->temperature};
  }

  std::size_t Sent() const { return sim_.Requests().size(); }

  static sim::Options WithModel(sim::Options options, sim::WriteModel model, int maxRead = 2) {
    options.writeModel = model;
    options.maxRead = maxRead;
    return options;
  }

  HookedLine hooked_{line_};  // what the console talks through
  RecordingView view_;
  LineInfo info_;
  std::unique_ptr<Console> console_;
};

}  // namespace tarvel::console
