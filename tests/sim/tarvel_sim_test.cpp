// The tarvel-sim program as a user starts it from a shell.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "sim/rtu_codec.h"
#include "support/run_process.h"
#include "wire.h"

extern char** environ;

namespace tarvel::sim {
namespace {

TEST(TarvelSimProgram, RefusesBadArgumentsWithAUsageLine) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"--units", "0"}, {"--units", "1,1"},
                                               {"--units", "1,x"}, {"--units", "248"}, {"--units", "1", "--speed", "0"},
                                               {"--units", "1", "--turnaround", "-1"}, {"--units", "1", "--bogus"}}) {
    const auto result = tarvel::testing::RunProcess(TARVEL_SIM, args);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(args);
    EXPECT_NE(result.err.find("usage: tarvel-sim --units"), std::string::npos);
    EXPECT_TRUE(result.out.empty());
  }
}

TEST(TarvelSimProgram, PrintsItsDeviceServesItsUnitsAndEndsOnTerminate) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args{TARVEL_SIM, "--units", "4,12", "--speed", "60", "--turnaround", "2"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The simulator publishes its line for port scans under $XDG_RUNTIME_DIR/tarvel.
  tarvel::testing::TempDir runtime;
  std::vector<std::string> env{"XDG_RUNTIME_DIR=" + runtime.path().string()};
  for (char** e = environ; *e; ++e)
    if (!std::string_view(*e).starts_with("XDG_RUNTIME_DIR=")) env.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string device;
  for (char c = 0; read(out[0], &c, 1) == 1 && c != '\n';) device += c;
  close(out[0]);
  EXPECT_TRUE(device.starts_with("/dev/pts/")) << device;
  const auto published = runtime / "tarvel" / ("tarvel-sim-" + std::to_string(pid));
  EXPECT_EQ(std::filesystem::read_symlink(published).string(), device);
  {
    testing::Wire wire(device);
    wire.Send(EncodeReadRequest(12, 0x2011, 2));  // unit 12 reads its own address
    EXPECT_EQ(wire.Receive(9), EncodeReadReply(12, std::vector<std::uint16_t>{12, 0}));
  }
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(std::filesystem::is_symlink(published));
}

}  // namespace
}  // namespace tarvel::sim
