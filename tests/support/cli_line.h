#pragma once
// tarvel-cli on a fresh application folder and on a simulated line served from the test process:
// what a technician reads, and the exit codes a script relies on.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/simulated_line.h"
#include "support/run_process.h"
#include "support/sim_line.h"
#include "util/app_folder.h"

namespace tarvel::testing {

class CliLine : public ::testing::Test {
 protected:
  void Start(sim::Options options) {
    sim_ = std::make_unique<sim::SimulatedLine>(std::move(options));
    auto device = sim_->Start();
    ASSERT_TRUE(device.ok()) << device.status().message();
  }
  void Start(std::vector<std::uint8_t> addresses) { Start(InstantLine(std::move(addresses))); }

  ProcessResult Cli(std::vector<std::string> args, bool withPort = true) {
    return RunCli(home_.Root(), std::move(args), withPort ? sim_->DevicePath() : "");
  }

  TempDir dir_;
  AppFolder home_{dir_ / "home"};  // created by the first verb that needs it
  std::unique_ptr<sim::SimulatedLine> sim_;
};

}  // namespace tarvel::testing
