#pragma once
// Runs a program of ours as a user would and captures what they would read.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace tarvel::testing {

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::string ShellQuote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Arguments written as one line, separated by spaces (none of them empty or holding a space).
inline std::vector<std::string> Args(const std::string& spaced) {
  std::vector<std::string> args;
  for (std::size_t at = 0, end = 0; at < spaced.size(); at = end + 1) {
    end = std::min(spaced.find(' ', at), spaced.size());
    if (end > at) args.push_back(spaced.substr(at, end - at));
  }
  return args;
}

inline ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args) {
  TempDir capture;
  std::string command = ShellQuote(program);
  for (const auto& a : args) command += " " + ShellQuote(a);
  command +=
      " >" + ShellQuote((capture / "out").string()) + " 2>" + ShellQuote((capture / "err").string()) + " </dev/null";
  int status = std::system(command.c_str());
  ProcessResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadAll(capture / "out");
  result.err = ReadAll(capture / "err");
  return result;
}

// Starts program with args, its output discarded, and returns at once: the test decides when
// it ends (see KillWhen). -1 when it could not be started.
inline pid_t SpawnProcess(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2})
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits with reached() (a blocking wait that returns once the child got that far), then kills
// pid with SIGKILL and reaps it. True when it was killed before it ended by itself.
template <class Wait>
bool KillWhen(pid_t pid, Wait reached) {
  const bool far = reached();
  int status = 0;
  if (far) kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return far && WIFSIGNALED(status);
}

#ifdef TARVEL_CLI
// tarvel-cli on an application folder, and on a line when one is given.
inline ProcessResult RunCli(const std::filesystem::path& home, std::vector<std::string> args,
                            const std::string& port = "") {
  if (!port.empty()) args.insert(args.begin(), {"--port", port});
  args.insert(args.begin(), {"--home", home.string()});
  return RunProcess(TARVEL_CLI, args);
}
// tarvel-cli started in the background (SpawnProcess), on an application folder and a line.
inline pid_t SpawnCli(const std::filesystem::path& home, std::vector<std::string> args, const std::string& port) {
  args.insert(args.begin(), {"--home", home.string(), "--port", port});
  return SpawnProcess(TARVEL_CLI, args);
}
#endif

}  // namespace tarvel::testing
