// Other masters on the simulated line: libmodbus itself, and the tarvel-sim program as a
// user starts it from a shell.
#include <gtest/gtest.h>
#include <modbus.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "sim/rtu_codec.h"
#include "sim/simulated_line.h"
#include "support/run_process.h"
#include "wire.h"

extern char** environ;

namespace tarvel::sim {
namespace {

TEST(Interop, LibmodbusReadsWritesAndSeesExceptionsAndSilence) {
  Options options;
  options.addresses = {1};
  options.clock = Options::Clock::Manual;
  SimulatedLine line(options);
  auto path = line.Start();
  ASSERT_TRUE(path);

  modbus_t* ctx = modbus_new_rtu(path.value().c_str(), 9600, 'N', 8, 1);
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
  modbus_set_response_timeout(ctx, 0, 200000);
  modbus_set_slave(ctx, 1);

  std::uint16_t registers[2] = {};
  ASSERT_EQ(modbus_read_registers(ctx, 0x0164, 2, registers), 2) << modbus_strerror(errno);
  EXPECT_EQ(registers[0], 70);
  const std::uint16_t setValue[2] = {0xFFC0, 0x0000};  // -64
  ASSERT_EQ(modbus_write_registers(ctx, 0x0000, 2, setValue), 2) << modbus_strerror(errno);
  EXPECT_EQ(line.Unit(1).setValue, -64);
  ASSERT_EQ(modbus_write_bit(ctx, 1, TRUE), 1) << modbus_strerror(errno);
  EXPECT_TRUE(line.Unit(1).autoTune);

  EXPECT_EQ(modbus_read_registers(ctx, 0x0001, 2, registers), -1);
  EXPECT_EQ(errno, EMBXILADD);
  modbus_set_slave(ctx, 9);
  EXPECT_EQ(modbus_read_registers(ctx, 0x0000, 2, registers), -1);
  EXPECT_EQ(errno, ETIMEDOUT);

  EXPECT_EQ(line.Requests().front(), (std::vector<std::uint8_t>{0x01, 0x03, 0x01, 0x64, 0x00, 0x02, 0x84, 0x28}));
  modbus_close(ctx);
  modbus_free(ctx);
}

TEST(TarvelSimProgram, RefusesBadArgumentsWithAUsageLine) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"--units"}, {"--units", "0"},
                                               {"--units", "1,1"}, {"--units", "1,x"}, {"--units", "248"},
                                               {"--units", "1", "--speed", "0"}, {"--units", "1", "--turnaround", "-1"},
                                               {"--units", "1", "--bogus"}}) {
    const auto result = tarvel::testing::RunProcess(TARVEL_SIM, args);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(args);
    EXPECT_NE(result.err.find("usage: tarvel-sim --units"), std::string::npos);
    EXPECT_TRUE(result.out.empty());
  }
}

TEST(TarvelSimProgram, PrintsItsDeviceAndServesUntilTerminated) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string program = TARVEL_SIM;
  std::vector<std::string> args{program, "--units", "4,12", "--speed", "60", "--turnaround", "2"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);

  std::string device;
  char c = 0;
  while (read(out[0], &c, 1) == 1 && c != '\n') device += c;
  close(out[0]);
  EXPECT_TRUE(device.starts_with("/dev/pts/")) << device;

  {
    testing::Wire wire(device);
    ASSERT_TRUE(wire.IsOpen());
    wire.Send(EncodeReadRequest(12, 0x2011, 2));
    EXPECT_EQ(wire.Receive(9), EncodeReadReply(12, std::vector<std::uint16_t>{12, 0}));
  }

  ASSERT_EQ(kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace tarvel::sim
