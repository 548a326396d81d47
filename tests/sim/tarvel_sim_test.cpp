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

using testing::Bytes;

TEST(TarvelSimProgram, RefusesBadArgumentsWithAUsageLine) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"--units", "0"},
                                               {"--units", "1,1"},
                                               {"--units", "1,x"},
                                               {"--units", "248"},
                                               {"--units", "1", "--speed", "0"},
                                               {"--units", "1", "--turnaround", "-1"},
                                               {"--units", "1", "--bogus"},
                                               {"--units", "1", "--write-model", "second"},
                                               {"--units", "1", "--fault", "late"},
                                               {"--units", "1", "--fault", "late:1.5"},
                                               {"--units", "1", "--fault", "late:0.6,no-reply:0.6"},
                                               {"--units", "1", "--fault", "late:0.1,late:0.1"},
                                               {"--units", "1", "--fault", "noise:0.1"},
                                               {"--units", "1", "--late-delay", "0"},
                                               {"--units", "1", "--duplicate-delay", "-5"},
                                               {"--units", "1", "--unpaced", "2"}}) {
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
  std::vector<std::string> args{TARVEL_SIM, "--units",       "4,12",  "--speed", "60",          "--turnaround",
                                "2",        "--write-model", "first", "--fault", "duplicate:1", "--duplicate-delay",
                                "5",        "--unpaced",     "--echo"};
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
    // The request echoed, then the reply twice.
    auto heard = [](Bytes request, const Bytes& reply) {
      request.insert(request.end(), reply.begin(), reply.end());
      request.insert(request.end(), reply.begin(), reply.end());
      return request;
    };
    const Bytes readAddress = EncodeReadRequest(12, 0x2011, 2);  // unit 12 reads its own address
    wire.Send(readAddress);
    EXPECT_EQ(wire.Receive(26), heard(readAddress, EncodeReadReply(12, std::vector<std::uint16_t>{12, 0})));
    // The first write model ignores the 0 a scale write carries for the unit's address.
    const std::uint16_t celsius[] = {0, 0};
    const Bytes writeScale = EncodeWriteRequest(12, 0x2010, celsius);
    wire.Send(writeScale);
    EXPECT_EQ(wire.Receive(29), heard(writeScale, EncodeWriteReply(12, 0x2010, 2)));
  }
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(std::filesystem::is_symlink(published));
}

}  // namespace
}  // namespace tarvel::sim
