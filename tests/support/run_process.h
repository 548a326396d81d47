#pragma once
// Runs a program of ours as a user would and captures what they would read.

#include <sys/wait.h>

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

inline ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args) {
  TempDir capture;
  std::string command = ShellQuote(program);
  for (const auto& a : args) command += " " + ShellQuote(a);
  command += " >" + ShellQuote((capture / "out").string()) + " 2>" + ShellQuote((capture / "err").string()) +
             " </dev/null";
  int status = std::system(command.c_str());
  ProcessResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadAll(capture / "out");
  result.err = ReadAll(capture / "err");
  return result;
}

#ifdef TARVEL_CLI
// tarvel-cli on an application folder, and on a line when one is given.
inline ProcessResult RunCli(const std::filesystem::path& home, std::vector<std::string> args,
                            const std::string& port = "") {
  if (!port.empty()) args.insert(args.begin(), {"--port", port});
  args.insert(args.begin(), {"--home", home.string()});
  return RunProcess(TARVEL_CLI, args);
}
#endif

}  // namespace tarvel::testing
