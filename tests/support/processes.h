#pragma once
// Programs the MQTT tests run beside them: a mosquitto broker of their own on a free loopback
// port, and any program whose output lines the test reads as they come.

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

extern char** environ;

namespace tarvel::testing {

// A program started with its standard output (and error, when asked) on a pipe.
class Spawned {
 public:
  Spawned() = default;
  Spawned(const Spawned&) = delete;
  Spawned& operator=(const Spawned&) = delete;
  ~Spawned() {
    Signal(SIGTERM);  // lets a program clean up after itself
    Wait();
  }

  bool Start(const std::vector<std::string>& args, bool withErrors = false) {
    int out[2];
    if (pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (withErrors)
      posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    else
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      pid_ = -1;
      return false;
    }
    out_ = fdopen(out[0], "r");
    return true;
  }

  // Reads lines as they come until one contains text; false at the end of the output.
  bool WaitFor(const std::string& text) {
    std::string line;
    for (int c; out_ && (c = std::fgetc(out_)) != EOF;) {
      if (c != '\n') {
        line += static_cast<char>(c);
        continue;
      }
      lines_.push_back(line);
      if (line.find(text) != std::string::npos) return true;
      line.clear();
    }
    return false;
  }
  const std::vector<std::string>& Lines() const { return lines_; }
  pid_t Pid() const { return pid_; }

  void Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
  }
  int Wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    if (out_) std::fclose(out_);
    out_ = nullptr;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Kill() {
    Signal(SIGKILL);
    Wait();
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  std::vector<std::string> lines_;
};

inline std::string MosquittoProgram() {
  for (const char* path : {"/usr/sbin/mosquitto", "/usr/bin/mosquitto", "/usr/local/sbin/mosquitto"})
    if (std::filesystem::exists(path)) return path;
  return {};
}

inline int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

// A mosquitto broker on a loopback port, its configuration in a folder of its own.
class Broker {
 public:
  // extra: configuration lines added to the listener's (a password file, ...). The same port
  // again when the broker is started anew.
  bool Start(const std::string& extra = "") {
    if (port_ == 0) port_ = FreeLoopbackPort();
    const auto config = dir_ / "mosquitto.conf";
    WriteAll(config, "listener " + std::to_string(port_) +
                         " 127.0.0.1\npersistence false\n"
                         // Started as root it would drop to a user who cannot read this folder.
                         "user " +
                         std::string(getuid() == 0 ? "root" : "mosquitto") + "\n" +
                         (extra.empty() ? "allow_anonymous true\n" : extra));
    if (!process_.Start({MosquittoProgram(), "-v", "-c", config.string()}, true)) return false;
    // It says so once it listens.
    return process_.WaitFor("Opening ipv4 listen socket on port " + std::to_string(port_)) &&
           process_.WaitFor(" running");
  }
  void Kill() { process_.Kill(); }
  // Reads the broker's log until a line holds text ("Received SUBSCRIBE from ID").
  bool WaitForLog(const std::string& text) { return process_.WaitFor(text); }
  int Port() const { return port_; }
  const TempDir& Dir() const { return dir_; }

 private:
  TempDir dir_;
  int port_ = 0;
  Spawned process_;
};

// mosquitto_sub: the first count messages on topic as "topic payload" lines, or what came
// within timeoutSeconds.
inline ProcessResult Subscribe(int port, const std::string& topic, int count, int timeoutSeconds = 20,
                               const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {"-h", "127.0.0.1",           "-p", std::to_string(port),          "-t", topic, "-v",
                                   "-C", std::to_string(count), "-W", std::to_string(timeoutSeconds)};
  args.insert(args.end(), extra.begin(), extra.end());
  return RunProcess("mosquitto_sub", args);
}

}  // namespace tarvel::testing
