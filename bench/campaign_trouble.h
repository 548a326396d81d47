#pragma once
// What the fault campaign does to a command: a line that spoils a chosen exchange; another
// program on the configuration database (holding its write lock, or refusing every write as a
// read-only folder or a full disk would), begun at a chosen exchange and ended after the
// command; and tarvel-cli on the same database and line, killed with SIGKILL at a chosen exchange.

#include <SQLiteCpp/SQLiteCpp.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/line.h"

namespace tarvel::bench {

// Brings the planned trouble just before exchange `at` of the command under way.
class FaultingLine final : public link::Line {
 public:
  explicit FaultingLine(link::Line& line) : line_(line) {}
  // Runs action just before exchange at (0: never).
  void Plan(int at, std::function<void()> action, std::string planned) {
    planned_ = std::move(planned);
    at_ = at;
    action_ = std::move(action);
    count_ = 0;
    injected_ = false;
  }
  bool Injected() const { return injected_; }
  const std::string& Planned() const { return planned_; }
  link::Reply<link::RegisterPair> ReadRegisterPair(std::uint8_t a, std::uint16_t r) override {
    Before();
    return line_.ReadRegisterPair(a, r);
  }
  link::Outcome WriteRegisters(std::uint8_t a, std::uint16_t r, std::uint16_t v, std::uint16_t n) override {
    Before();
    return line_.WriteRegisters(a, r, v, n);
  }
  link::Outcome WriteCoil(std::uint8_t a, std::uint16_t c, bool on) override {
    Before();
    return line_.WriteCoil(a, c, on);
  }
  link::Reply<std::vector<std::uint16_t>> ReadRegisterBlock(std::uint8_t a, std::uint16_t r, int n) override {
    Before();
    return line_.ReadRegisterBlock(a, r, n);
  }

 private:
  void Before() {
    if (++count_ == at_ && action_) {
      action_();
      injected_ = true;
    }
  }
  link::Line& line_;
  int at_ = 0, count_ = 0;
  bool injected_ = false;
  std::function<void()> action_;
  std::string planned_;
};

enum class DbTrouble { None, Locked, ReadOnly };

class DatabaseTrouble {
 public:
  explicit DatabaseTrouble(std::filesystem::path file) : file_(std::move(file)) {}
  ~DatabaseTrouble() { End(); }
  DatabaseTrouble(const DatabaseTrouble&) = delete;
  DatabaseTrouble& operator=(const DatabaseTrouble&) = delete;

  // From now until End every write of another connection fails (reads still work). False
  // with why when the trouble could not be made.
  bool Begin(DbTrouble kind, std::string& why) {
    End();
    try {
      db_ = std::make_unique<SQLite::Database>(file_.string(), SQLite::OPEN_READWRITE, 2000);
      if (kind == DbTrouble::Locked) {
        db_->exec("BEGIN EXCLUSIVE");
      } else {
        for (const char* table : kTables)
          for (const char* op : {"INSERT", "UPDATE", "DELETE"})
            db_->exec(std::string("CREATE TRIGGER IF NOT EXISTS \"refuse_") + table + "_" + op + "\" BEFORE " + op +
                      " ON \"" + table + "\" BEGIN SELECT RAISE(ABORT, 'attempt to write a readonly database'); END");
      }
      kind_ = kind;
      return true;
    } catch (const std::exception& e) {
      why = e.what();
      db_.reset();
      return false;
    }
  }

  void End() {
    if (!db_) return;
    try {
      if (kind_ == DbTrouble::Locked) {
        db_->exec("ROLLBACK");
      } else {
        for (const char* table : kTables)
          for (const char* op : {"INSERT", "UPDATE", "DELETE"})
            db_->exec(std::string("DROP TRIGGER IF EXISTS \"refuse_") + table + "_" + op + "\"");
      }
    } catch (const std::exception&) {
      // The campaign reports what the console left behind; the connection goes either way.
    }
    db_.reset();
    kind_ = DbTrouble::None;
  }

 private:
  static constexpr const char* kTables[] = {"ControllerMemory",    "TarvelLog",     "ControllerConfiguration",
                                            "TarvelConfiguration", "AddressChange", "ChannelMap"};
  std::filesystem::path file_;
  std::unique_ptr<SQLite::Database> db_;
  DbTrouble kind_ = DbTrouble::None;
};

// A program started with its output discarded: its pid, -1 when it could not be.
inline pid_t Spawn(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2})
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  pid_t pid = -1;
  const bool started = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return started ? pid : -1;
}

// Runs program with args, its output discarded, until reached() returns true (a blocking wait:
// the child got that far) and then kills it with SIGKILL. True when it was killed before it
// ended by itself; false also when it could not be started.
template <class Wait>
bool RunUntilKilled(const std::string& program, const std::vector<std::string>& args, Wait reached) {
  const pid_t pid = Spawn(program, args);
  if (pid < 0) return false;
  const bool far = reached();
  if (far) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  return far && WIFSIGNALED(status);
}

}  // namespace tarvel::bench
