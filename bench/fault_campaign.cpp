// A fault campaign: uploads, downloads, select, start, pause, restart and jump through the
// console's workflows, on a controller that stores both registers of a write and on one that
// keeps the first only. Most commands meet trouble at a random exchange: the simulator spoils
// it (no reply, bad CRC, a reply 250 or 380 ms late, wrong address, exception, stray byte, a
// duplicate or a stale frame 20 ms after the reply), or another program locks the database
// or makes it refuse writes from then to the end of the command; and some commands are
// tarvel-cli uploads, clears and downloads killed with SIGKILL at a random exchange, and uploads
// by tarvel-cli through a running tarvel-line whose service is killed so. After
// each command it compares EVERY memory-map row and log row with the controller and counts
//   rows that disagree without a mark: an unmarked map row (neither Unknown nor a jump's
//     Modified) whose words differ from the controller's;
//   log rows whose steps do not hold their program;
//   successes after a failure: a command that reported success while the controller or the
//     database does not hold what it says;
//   collateral register changes: a register of the controller's full dump that the command
//     changed although it had no business with it.
// The target is 0 for each.
//
//   fault_campaign [COMMANDS] [SEED]      default 320 commands per write model, seed 1
//   fault_campaign --max-read N [--write-model both|first] [COMMANDS] [SEED]
//                                          controllers that answer reads of up to N registers
//                                          (default 2), on one write model or both
//   fault_campaign --lines all|KIND[,KIND...] [COMMANDS] [SEED]
//                                          over these lines (campaign_lines.h; default paced):
//                                          paced, unpaced, echoing, duplicates-5 ... duplicates-300
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <thread>

#include "bench_console.h"
#include "bench_line.h"
#include "campaign_lines.h"
#include "campaign_trouble.h"
#include "service/remote_line.h"
#include "service/service.h"
#include "sim/controller.h"

namespace {

namespace sim = tarvel::sim;
namespace store = tarvel::store;
using tarvel::link::ProgramStep;
using Registers = std::set<std::uint16_t>;
using tarvel::bench::FaultingLine;

int maxReadOption = 2;  // --max-read: the simulated controllers' largest read

std::uint16_t Word(int step, int word) { return static_cast<std::uint16_t>(0x4000 + 3 * (step - 1) + word - 1); }

Registers StepWords(int first, int last, std::initializer_list<int> words) {
  Registers registers;
  for (int step = first; step <= last; ++step)
    for (int word : words) registers.insert(Word(step, word));
  return registers;
}

ProgramStep Held(const sim::UnitState& unit, int step) {
  const auto& s = unit.steps[static_cast<std::size_t>(step - 1)];
  return {s.pidSet, s.duration, s.temperature};
}

// Keeps the message area, for the report of a command that went wrong.
struct MessagesView : tarvel::bench::NullView {
  std::string text;
  void ShowMessages(const std::string& shown) override { text = shown; }
};

enum class Kind {
  Upload,
  Download,
  Select,
  Start,
  Pause,
  Restart,
  Jump,
  Killed,
  Swapped,
  Readded,
  Forged,
  PauseLostStep,
  EmptyDatabase,  // CommandTroubles()
  KilledService,
};
constexpr const char* kKindNames[] = {"upload",          "download",      "select",         "start",
                                      "pause",           "restart",       "jump",           "killed cli",
                                      "swapped",         "re-added",      "forged profile", "pause, step read lost",
                                      "0-byte database", "killed service"};

// tarvel-cli run to its end, its output discarded: the exit code, -1 when it did not end by itself.
int RunToEnd(const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(TARVEL_CLI)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2})
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  pid_t pid = -1;
  const bool started = posix_spawn(&pid, TARVEL_CLI, &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (!started || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

struct Counts {
  std::map<Kind, int> commands;
  int faulted = 0, failedCleanly = 0, succeeded = 0, succeededDespiteFault = 0;
  int lineFaults = 0, locked = 0, readOnly = 0, kills = 0, serviceKills = 0;
  int unmarked = 0, badLogRows = 0, falseSuccesses = 0, collateral = 0;
};

class Campaign {
 public:
  Campaign(sim::WriteModel model, std::chrono::milliseconds lateDelay, const tarvel::bench::LineKind& line,
           unsigned seed)
      : model_(model),
        sim_(Options(model, lateDelay, line)),
        random_(seed),
        folder_(tarvel::bench::BenchHome("tarvel-fault-campaign")),
        store_(folder_.ConfigDatabase(), std::chrono::milliseconds(50)),
        trouble_(folder_.ConfigDatabase()) {}
  ~Campaign() { std::filesystem::remove_all(folder_.Root()); }

  bool Start() {
    auto device = tarvel::bench::StartLine(sim_, line_);
    if (!device) return false;
    device_ = *device;
    // The line is the channel's port, for a service of the home to serve.
    if (!store_.SetChannelField(1, store::ChannelField::Port, device_)) return false;
    // Every register of the unit holds a value of its own, so no change goes unseen.
    std::vector<store::MemoryRow> rows;
    sim_.EditUnit(1, [&](sim::UnitState& u) {
      for (int s = 1; s <= 64; ++s) {
        u.steps[s - 1] = {static_cast<std::int16_t>(1 + s % 4), static_cast<std::int16_t>(5 + s % 20),
                          static_cast<std::int16_t>(100 + 7 * s)};
        rows.push_back({1, s, u.steps[s - 1].duration, u.steps[s - 1].temperature, u.steps[s - 1].pidSet, 0});
      }
      u.spareWords = {{0x0001, 0x1111}, {0x1001, 0x2222}, {0x1003, 0x3333}, {0x2012, 0x4444}, {0x40C0, 0x5555}};
      u.alarm1Type = 3;
      u.alarm2Type = 4;
    });
    if (!store_.WriteMemorySteps(1, rows)) return false;
    console_ = std::make_unique<tarvel::console::Console>(folder_, store_, faulting_, view_,
                                                          tarvel::console::LineInfo{true, true});
    console_->Selection().LoadChannelLists();
    console_->Selection().SelectIndex(0);
    console_->RunControls().SetFrontPanelStart([this](std::uint8_t address) { sim_.FrontPanelStart(address); });
    return true;
  }

  void Run(int commands) {
    for (int n = 0; n < commands; ++n) {
      sim_.AdvanceTime(std::chrono::minutes(random_() % 8));  // the program moves between commands
      One(n, ChooseKind());
    }
  }
  const Counts& Result() const { return counts_; }
  tarvel::link::LineCounts Heard() const { return line_.Counts(); }

 private:
  static sim::Options Options(sim::WriteModel model, std::chrono::milliseconds lateDelay,
                              const tarvel::bench::LineKind& line) {
    sim::Options options;
    options.addresses = {1, 2};  // a second unit gives "wrong address" replies a sender
    options.clock = sim::Options::Clock::Manual;
    options.turnaround = std::chrono::milliseconds(1);  // paced at 9600 baud: a real master's timing holds
    options.writeModel = model;
    options.maxRead = maxReadOption;
    options.lateReplyDelay = lateDelay;
    tarvel::bench::ApplyLineKind(line, options);
    return options;
  }

  // What an operator would do next, given what the controller and the console hold.
  Kind ChooseKind() {
    const auto log = store_.Log(1).value_or({});
    if (random_() % 10 == 0) return random_() % 3 == 0 ? Kind::KilledService : Kind::Killed;
    if (auto trouble = CommandTrouble()) return *trouble;
    if (log.empty()) return Kind::Upload;
    const int pick = static_cast<int>(random_() % 100);
    if (pick < 12) return Kind::Upload;
    if (pick < 20) return Kind::Download;
    const auto held = sim_.Unit(1);
    const auto config = store_.ControllerConfig(1).value_or({}).value_or(store::ControllerConfigRow{});
    const bool selected = std::any_of(log.begin(), log.end(), [&](const store::LogRow& row) {
      return row.start == held.programLowStep && row.stop == held.programHighStep;
    });
    if (!selected || pick < 30) return Kind::Select;
    if (held.runMode == 0) return pick < 65 ? Kind::Start : (config.segmentExecuting > 0 ? Kind::Restart : Kind::Start);
    return pick < 60 ? Kind::Jump : Kind::Pause;
  }

  // About how many exchanges a command of this kind makes, for the point of its fault.
  static int Exchanges(Kind kind) {
    switch (kind) {
      case Kind::Upload: return 40;
      case Kind::Download: return 9;
      case Kind::Select: return 7;
      case Kind::Start: return 12;
      case Kind::Pause: return 13;
      case Kind::Restart: return 36;
      case Kind::Jump: return 32;
      case Kind::Killed:
      case Kind::KilledService: return 0;
      case Kind::Swapped: return 9;  // the clear of a few steps
      case Kind::Forged: return 1;   // the upload's probe
      case Kind::Readded:
      case Kind::PauseLostStep:
      case Kind::EmptyDatabase: return 0;  // their own trouble
    }
    return 10;
  }

  void Wrong(int& counter, int n, Kind kind, const std::string& what) {
    ++counter;
    std::fprintf(stderr, "command %d (%s, %s): %s\n", n, kKindNames[static_cast<int>(kind)],
                 faulting_.Injected() ? faulting_.Planned().c_str() : "no fault", what.c_str());
    if (std::getenv("TARVEL_CAMPAIGN_MESSAGES")) std::fprintf(stderr, "%s\n", view_.text.c_str());
  }

  void One(int n, Kind kind) {
    ++counts_.commands[kind];
    PlanTrouble(kind);
    const auto dumpBefore = sim_.Registers(1);
    const auto logBefore = store_.Log(1).value_or({});
    Registers allowed;
    std::function<std::string()> holds;  // after a success: what is wrong, empty when all is right
    const bool ok = kind == Kind::Killed          ? Killed(logBefore, allowed, false)
                    : kind == Kind::KilledService ? Killed(logBefore, allowed, true)
                                                  : Issue(kind, logBefore, allowed, holds);
    trouble_.End();

    if (faulting_.Injected()) ++counts_.faulted;
    if (ok) ++counts_.succeeded;
    if (!ok && faulting_.Injected()) ++counts_.failedCleanly;
    if (ok && faulting_.Injected()) ++counts_.succeededDespiteFault;

    const sim::UnitState unit = sim_.Unit(1);
    if (ok && holds) {
      if (const std::string wrong = holds(); !wrong.empty()) Wrong(counts_.falseSuccesses, n, kind, wrong);
    }
    for (std::uint16_t reg : sim::ChangedRegisters(dumpBefore, sim_.Registers(1)))
      if (!allowed.contains(reg)) Wrong(counts_.collateral, n, kind, "changed register " + std::to_string(reg));
    const auto memAfter = CheckMemoryMap(n, kind, unit);
    CheckLogRows(n, kind, unit, memAfter);
  }

  // Four commands in five meet trouble: three in five a line fault, one in ten each a locked
  // database and one that refuses writes.
  void PlanTrouble(Kind kind) {
    const auto exchanges = 1 + static_cast<int>(random_() % static_cast<unsigned>(Exchanges(kind)));
    const sim::Fault kinds[] = {sim::Fault::NoReply,      sim::Fault::BadCrc,    sim::Fault::LateReply,
                                sim::Fault::WrongAddress, sim::Fault::Exception, sim::Fault::StrayByte,
                                sim::Fault::Duplicate,    sim::Fault::Stale};
    const unsigned trouble = random_() % 20;
    const sim::Fault fault = kinds[random_() % std::size(kinds)];
    if (trouble < 4 || kind == Kind::Killed || kind == Kind::KilledService || Exchanges(kind) == 0) {
      faulting_.Plan(0, nullptr, "no trouble");
    } else if (trouble < 8) {
      const auto db = trouble < 6 ? tarvel::bench::DbTrouble::Locked : tarvel::bench::DbTrouble::ReadOnly;
      faulting_.Plan(
          exchanges,
          [this, db] {
            std::string why;
            if (!trouble_.Begin(db, why))
              std::fprintf(stderr, "the database trouble could not be made: %s\n", why.c_str());
            ++(db == tarvel::bench::DbTrouble::Locked ? counts_.locked : counts_.readOnly);
          },
          std::string(trouble < 6 ? "database locked" : "database refusing writes") + " from exchange " +
              std::to_string(exchanges));
    } else {
      faulting_.Plan(
          exchanges,
          [this, fault] {
            sim_.InjectFault(fault);
            ++counts_.lineFaults;
          },
          "fault " + std::to_string(static_cast<int>(fault)) + " at exchange " + std::to_string(exchanges));
    }
  }

  // Every map row holds what the controller holds, or carries a mark: Unknown, or a jump's
  // Modified (the row keeps the step's original on purpose). Whether this command changed it
  // or not: a row a command should have marked and did not is as wrong as one it stored.
  std::vector<store::MemoryRow> CheckMemoryMap(int n, Kind kind, const sim::UnitState& unit) {
    auto memory = store_.Memory(1);
    if (!memory || memory->size() != 64) Wrong(counts_.unmarked, n, kind, "the memory map cannot be read whole");
    const auto memAfter = memory.value_or({});
    for (const auto& a : memAfter) {
      const ProgramStep held = Held(unit, a.segment);
      if (a.unknown == 0 && a.modified == 0 && ProgramStep{a.pidSet, a.duration, a.temperature} != held) {
        Wrong(counts_.unmarked, n, kind,
              "unmarked map row of step " + std::to_string(a.segment) + " holds " + std::to_string(a.pidSet) + " " +
                  std::to_string(a.duration) + " " + std::to_string(a.temperature) + ", the controller " +
                  std::to_string(held.pidSet) + " " + std::to_string(held.duration) + " " +
                  std::to_string(held.temperature));
      }
    }
    return memAfter;
  }

  // Every log row points at exactly its compiled program, steps a jump changed taken as
  // the originals Start puts back.
  void CheckLogRows(int n, Kind kind, const sim::UnitState& unit, const std::vector<store::MemoryRow>& memAfter) {
    for (const auto& row : store_.Log(1).value_or({})) {
      const auto& compiled = compiledOf_[row.profileName];
      bool matches = static_cast<int>(compiled.size()) == row.stop - row.start + 1;
      for (int s = row.start; matches && s <= row.stop; ++s) {
        ProgramStep held = Held(unit, s);
        if (s - 1 < static_cast<int>(memAfter.size()) && memAfter[static_cast<std::size_t>(s - 1)].modified == 1) {
          const auto& stored = memAfter[static_cast<std::size_t>(s - 1)];
          held = {held.pidSet, stored.duration, stored.temperature};
        }
        matches = held == compiled[static_cast<std::size_t>(s - row.start)];
      }
      if (!matches)
        Wrong(counts_.badLogRows, n, kind,
              "log row " + row.profileName + " (steps " + std::to_string(row.start) + " to " +
                  std::to_string(row.stop) + ") points at steps that do not hold its program");
    }
  }

  // tarvel-cli on the same database and line, killed with SIGKILL at a random exchange of an
  // upload, a clear or a download; or, throughService, an upload by tarvel-cli through a
  // tarvel-line of the home, the service killed so. Never a success: the checks after it look
  // at what it left.
  bool Killed(const std::vector<store::LogRow>& log, Registers& allowed, bool throughService) {
    const int verb = throughService ? 0 : static_cast<int>(random_() % 3);
    const int steps = 3 + static_cast<int>(random_() % 5);
    const int first = 1 + static_cast<int>(random_() % (65 - steps)), last = first + steps - 1;
    std::vector<std::string> args{"--home", folder_.Root().string(), "--port", device_};
    std::vector<ProgramStep> program;
    std::string name;
    int exchanges = 3 * steps;  // a download reads three words a step
    if (verb == 0) {
      name = "p" + std::to_string(random_() % 7) + ".txt";
      const auto file = tarvel::bench::WriteProfile(folder_, name, steps, random_);
      console_->Program().OpenProfile(file);
      console_->Program().SetStartStepText(std::to_string(first));
      console_->Program().BuildProgram();
      program = console_->Program().Compiled().steps;
      args.insert(args.end(), {"upload", "1", file.string(), std::to_string(first), "--yes"});
      exchanges = 4 + 6 * steps;  // the probe, the reads beside the range, the writes, the read-back
      for (const auto& row : log) {
        const auto words = StepWords(row.start, row.stop, {1, 2, 3});
        allowed.insert(words.begin(), words.end());
      }
    } else {
      args.insert(args.end(), {verb == 1 ? "clear" : "download", "1", std::to_string(first), std::to_string(last)});
      if (verb == 1) exchanges = 6 * steps;
    }
    if (verb != 2) {
      const auto own = StepWords(first, last, {1, 2, 3});
      allowed.insert(own.begin(), own.end());
    }
    const auto at = static_cast<std::size_t>(1 + random_() % static_cast<unsigned>(exchanges));
    faulting_.Plan(0, nullptr,
                   std::string(throughService ? "SIGKILL of the service under tarvel-cli " : "SIGKILL of tarvel-cli ") +
                       args[4] + " " + std::to_string(first) + ".." + std::to_string(last) + " at exchange " +
                       std::to_string(at));
    line_.Close();  // the port is the child's while it runs
    if (throughService) {
      if (KillServiceUnder(args, at)) ++counts_.serviceKills;
    } else {
      sim_.ClearRequests();
      if (tarvel::bench::RunUntilKilled(TARVEL_CLI, args,
                                        [&] { return sim_.WaitForRequests(at, std::chrono::seconds(10)); }))
        ++counts_.kills;
    }
    if (!line_.Open(device_).ok()) std::fprintf(stderr, "the line could not be opened again\n");
    // A killed upload that got as far as its log row logged what it compiled.
    if (auto entry = verb == 0 ? store_.LogEntry(1, name).value_or(std::nullopt) : std::nullopt;
        entry && entry->start == first && entry->stop == last) {
      bool holds = true;
      for (int s = first; s <= last; ++s)
        holds = holds && Held(sim_.Unit(1), s) == program[static_cast<std::size_t>(s - first)];
      if (holds) compiledOf_[name] = program;
    }
    return false;
  }

  // tarvel-line serving the home (its one sweep done), the client's command through it, and the
  // service killed with SIGKILL at exchange `at` of the command; the client ends on its own.
  bool KillServiceUnder(const std::vector<std::string>& client, std::size_t at) {
    const auto socket = tarvel::service::SocketPath(folder_);
    std::filesystem::remove(socket);
    // A channel re-added, or a database rebuilt, by an earlier trouble has lost its port: the
    // service would refuse a channel without one.
    if (!store_.SetChannelField(1, store::ChannelField::Port, device_)) return false;
    sim_.ClearRequests();
    const pid_t service = tarvel::bench::Spawn(
        TARVEL_LINE, std::vector<std::string>{"--home", folder_.Root().string(), "--every", "86400"});
    if (service < 0) return false;
    // Serving once its socket answers (its sweep waits while the client's session exchanges).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!tarvel::service::FindService(folder_) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const pid_t cli = tarvel::bench::Spawn(TARVEL_CLI, client);
    const bool far = cli >= 0 && sim_.WaitForRequests(at, std::chrono::seconds(10));
    if (std::getenv("TARVEL_CAMPAIGN_MESSAGES"))
      std::fprintf(stderr, "service %d, client %d, %zu exchanges reached: %d\n", service, cli, at, far);
    kill(service, SIGKILL);
    int status = 0;
    waitpid(service, &status, 0);
    const bool killed = far && WIFSIGNALED(status);
    if (cli >= 0) waitpid(cli, &status, 0);  // its line is gone: it fails and ends
    return killed;
  }

  bool Issue(Kind kind, const std::vector<store::LogRow>& log, Registers& allowed,
             std::function<std::string()>& holds) {
    switch (kind) {
      case Kind::Upload: return IssueUpload(log, allowed, holds);
      case Kind::Download: return IssueDownload(holds);
      case Kind::Select: return IssueSelect(log, allowed, holds);
      case Kind::Start: return IssueStart(allowed, holds);
      case Kind::Pause: return IssuePause(allowed, holds);
      case Kind::Restart: return IssueRestart(allowed, holds);
      case Kind::Jump: return IssueJump(allowed, holds);
      case Kind::Killed:
      case Kind::KilledService: break;  // a tarvel-cli run: Killed()
      case Kind::Swapped: return Swapped(log, allowed, holds);
      case Kind::Readded: return Readded(allowed, holds);
      case Kind::Forged: return Forged(holds);
      case Kind::PauseLostStep: return PauseLostStep(allowed, holds);
      case Kind::EmptyDatabase: return EmptyDatabase(holds);
    }
    return false;
  }

  static Registers Limits() { return {0x200E, 0x200F}; }

  // A jump borrows the duration and temperature words of steps, the limits and the mode.
  static Registers JumpWords() {
    const Registers limits = Limits();
    Registers jump = StepWords(1, 64, {2, 3});
    jump.insert(limits.begin(), limits.end());
    jump.insert(0x200D);
    return jump;
  }

  store::ControllerConfigRow StoredConfig() {
    return store_.ControllerConfig(1).value_or({}).value_or(store::ControllerConfigRow{});
  }

  bool IssueUpload(const std::vector<store::LogRow>& log, Registers& allowed, std::function<std::string()>& holds) {
    auto& console = *console_;
    const int steps = 3 + static_cast<int>(random_() % 5);
    const int first = 1 + static_cast<int>(random_() % (65 - steps));
    const std::string name = "p" + std::to_string(random_() % 7) + ".txt";
    const auto file = tarvel::bench::WriteProfile(folder_, name, steps, random_);
    console.Program().OpenProfile(file);
    console.Program().SetStartStepText(std::to_string(first));
    console.Program().BuildProgram();
    // It may clear the ranges of the entries it replaces, and writes its own.
    for (const auto& row : log) {
      const auto words = StepWords(row.start, row.stop, {1, 2, 3});
      allowed.insert(words.begin(), words.end());
    }
    const auto own = StepWords(first, first + steps - 1, {1, 2, 3});
    allowed.insert(own.begin(), own.end());
    const auto program = console.Program().Compiled().steps;
    const bool logged = console.ProfileUpload().Run({name, std::to_string(first), "SV"}).logged;
    if (logged) compiledOf_[name] = program;
    holds = [=, this] {
      for (int s = first; s < first + steps; ++s)
        if (Held(sim_.Unit(1), s) != program[static_cast<std::size_t>(s - first)]) return "step " + std::to_string(s);
      auto entry = store_.LogEntry(1, name).value_or({});
      return entry && entry->start == first ? std::string() : std::string("no log row");
    };
    return logged;
  }

  bool IssueDownload(std::function<std::string()>& holds) {
    const int first = 1 + static_cast<int>(random_() % 60), last = first + static_cast<int>(random_() % 5);
    holds = [=, this] {
      const auto held = sim_.Unit(1);
      for (const auto& row : store_.Memory(1).value_or({}))
        if (row.segment >= first && row.segment <= last && row.modified == 0 &&
            ProgramStep{row.pidSet, row.duration, row.temperature} != Held(held, row.segment))
          return "map row " + std::to_string(row.segment);
      return std::string();
    };
    return console_->Memory().DownloadProgramRange(first, last).has_value();
  }

  bool IssueSelect(const std::vector<store::LogRow>& log, Registers& allowed, std::function<std::string()>& holds) {
    const int row = 1 + static_cast<int>(random_() % log.size());
    const store::LogRow entry = log[static_cast<std::size_t>(row - 1)];
    console_->Log().Show(1);
    allowed = Limits();
    holds = [=, this] {
      const auto u = sim_.Unit(1);
      const auto s = StoredConfig();
      return u.programLowStep == entry.start && u.programHighStep == entry.stop && s.programLowAddress == entry.start &&
                     s.programHighAddress == entry.stop
                 ? std::string()
                 : std::string("limits or selection");
    };
    return console_->RunControls().SelectRunProfile(row);
  }

  bool IssueStart(Registers& allowed, std::function<std::string()>& holds) {
    allowed = StepWords(1, 64, {2, 3});  // the steps a jump changed go back
    allowed.insert(0x200D);
    holds = [this] {
      const auto u = sim_.Unit(1);
      if (u.runMode == 0) return std::string("run mode 0");
      if (!store_.ModifiedSteps(1).value_or({}).empty()) return std::string("a step left modified");
      return std::string();
    };
    return console_->RunControls().StartProfile();
  }

  bool IssuePause(Registers& allowed, std::function<std::string()>& holds) {
    allowed = {0x0000, 0x200D};
    console_->RunMonitor().ReadControllerRunMode();  // what the controller runs decides, as in tarvel-cli
    holds = [this] {
      const auto u = sim_.Unit(1);
      return u.runMode == 0 && u.setValue == u.profileSetPoint ? std::string() : std::string("not held");
    };
    return console_->RunControls().PauseProfile();
  }

  bool IssueRestart(Registers& allowed, std::function<std::string()>& holds) {
    allowed = JumpWords();
    console_->RunMonitor().ReadControllerRunMode();
    console_->RunMonitor().ReadRunState();  // the restart point, as the monitor stores it
    const int segment = StoredConfig().segmentExecuting;
    holds = [=, this] {
      const auto u = sim_.Unit(1);
      return u.runMode != 0 && u.currentStep == segment ? std::string() : "runs step " + std::to_string(u.currentStep);
    };
    return console_->RunControls().RestartProfile();
  }

  bool IssueJump(Registers& allowed, std::function<std::string()>& holds) {
    allowed = JumpWords();
    const auto s = StoredConfig();
    std::vector<store::MemoryRow> timed;
    for (const auto& row : store_.Memory(1).value_or({}))
      if (row.segment >= s.programLowAddress && row.segment <= s.programHighAddress && row.duration > 1)
        timed.push_back(row);
    if (timed.empty()) return false;
    const auto target = timed[random_() % timed.size()];
    const int time = 1 + static_cast<int>(random_() % static_cast<unsigned>(target.duration - 1));
    holds = [=, this] {
      const auto u = sim_.Unit(1);
      return u.currentStep == target.segment ? std::string() : "runs step " + std::to_string(u.currentStep);
    };
    return console_->RunControls().JumpToSegmentPoint(std::to_string(target.segment), std::to_string(time));
  }

  // --- troubles of the commands themselves: a controller swapped behind the console's back, a
  // channel given to another controller, forged profiles, a pause that loses its step read, an
  // empty database. About one command in six.

  std::optional<Kind> CommandTrouble() {
    const unsigned pick = random_() % 100;
    if (pick < 3) return Kind::Swapped;
    if (pick < 5) return Kind::Readded;
    if (pick < 10) return Kind::Forged;
    if (pick < 14 && sim_.Unit(1).runMode != 0) return Kind::PauseLostStep;
    if (pick < 16) return Kind::EmptyDatabase;
    return std::nullopt;
  }

  // The controller is swapped for one of the other write model holding the same words, so only
  // what the console learnt of its frames is stale; then the range of a logged profile, or a few
  // steps, is cleared, as Delete Profile does. A clear that leaves a word says so.
  bool Swapped(const std::vector<store::LogRow>& log, Registers& allowed, std::function<std::string()>& holds) {
    sim_.EditUnit(1, [this](sim::UnitState& u) {
      u.writeModel =
          u.writeModel.value_or(model_) == sim::WriteModel::Both ? sim::WriteModel::First : sim::WriteModel::Both;
    });
    int first = 1 + static_cast<int>(random_() % 60), last = first + 2;
    if (!log.empty()) {
      const auto& row = log[random_() % log.size()];
      first = row.start, last = row.stop;
    }
    allowed = StepWords(first, last, {1, 2, 3});
    holds = [=, this] {
      for (int step = first; step <= last; ++step)
        if (Held(sim_.Unit(1), step) != ProgramStep{}) return "step " + std::to_string(step) + " not cleared";
      return std::string();
    };
    return console_->Memory().ClearProgramRange(first, last);
  }

  // tarvel-cli channel remove and channel add put another controller, with words of its own, on
  // channel 1's address; then the operator tries Select and Start. Neither may run anything of
  // the controller before, and every row of the map is marked until read.
  bool Readded(Registers& allowed, std::function<std::string()>& holds) {
    allowed = StepWords(1, 64, {1, 2, 3});  // the other controller's own words, not the command's doing
    const std::string home = folder_.Root().string();
    const bool removed = RunToEnd({"--home", home, "channel", "remove", "1"}) == 0;
    sim_.EditUnit(1, [this](sim::UnitState& u) {
      for (auto& step : u.steps)
        step = {static_cast<std::int16_t>(1 + random_() % 4), static_cast<std::int16_t>(random_() % 90),
                static_cast<std::int16_t>(random_() % 900)};
    });
    const bool added =
        RunToEnd({"--home", home, "channel", "add", "1", "1", "Other" + std::to_string(random_() % 1000)}) == 0;
    if (!removed || !added) std::fprintf(stderr, "the channel could not be re-added\n");
    auto& run = console_->RunControls();
    console_->Log().Show(1);
    const bool selected = !console_->Log().Rows().empty() && run.SelectRunProfile(1);
    const bool started = run.StartProfile();
    holds = [] { return std::string("ran the program of the controller before"); };
    return selected || started;
  }

  // A profile whose checksum matches but that profile check refuses -- a temperature the sensor
  // cannot reach, a Duration left empty mid-profile, or a segment that does not start where the
  // one before ended -- opened, compiled and uploaded: nothing is compiled, nothing written.
  bool Forged(std::function<std::string()>& holds) {
    const auto file = tarvel::bench::WriteProfile(folder_, "forged.txt", 4, random_);
    auto table = tarvel::profile::ParseProfileText(tarvel::profile::LoadProfileText(file));
    const unsigned variant = random_() % 3;
    if (variant == 0) table.at(2, tarvel::profile::kEndTemp) = table.at(3, tarvel::profile::kStartTemp) = "30000";
    if (variant == 1) table.at(2, tarvel::profile::kDuration).clear();
    if (variant == 2) table.at(3, tarvel::profile::kStartTemp) = "901";  // never an End Temp of WriteProfile
    (void)tarvel::profile::SaveProfileText(file, tarvel::profile::BuildProfileText(table, {}));
    auto& console = *console_;
    console.Program().OpenProfile(file);
    console.Program().SetStartStepText(std::to_string(1 + random_() % 60));
    console.Program().BuildProgram();
    const bool compiled = console.Program().ProfileCompiled();
    const bool logged = console.ProfileUpload().Run({"forged.txt", std::to_string(1 + random_() % 60), "SV"}).logged;
    holds = [] { return std::string("a forged profile was compiled or uploaded"); };
    return compiled || logged;
  }

  // Pause with the reading's executing-step read lost: Restart
  // resumes from what that reading stores, so the pause must hold nothing. A pause that succeeds
  // must have stored the step and time it holds the program at.
  bool PauseLostStep(Registers& allowed, std::function<std::string()>& holds) {
    allowed = {0x0000, 0x200D};  // a pause that goes through holds the set point in run mode 0
    auto& console = *console_;
    console.RunMonitor().ReadControllerRunMode();
    const int mode = sim_.Unit(1).runMode;
    // The reading's second read is the step's, third when the block probe comes after its first.
    const bool probe = !store_.Capabilities(1).value_or(store::CapabilityRow{}).blockReads.has_value();
    faulting_.Plan(
        probe ? 3 : 2,
        [this] {
          sim_.InjectFault(sim::Fault::NoReply);
          ++counts_.lineFaults;
        },
        "the pause's executing-step read lost");
    holds = [=, this] {
      const auto u = sim_.Unit(1);
      const auto c = store_.ControllerConfig(1).value_or({}).value_or(store::ControllerConfigRow{});
      const int time = static_cast<int>(std::floor(u.stepElapsed + 1e-6));  // as the register reads it
      const bool stored = c.runMode == mode && c.segmentExecuting == u.currentStep && c.segmentElapsedTime == time;
      return stored ? std::string() : std::string("paused without its restart point");
    };
    return console.RunControls().PauseProfile();
  }

  // A home whose configuration database is an empty file: neither a listing nor an upload makes
  // a new map there or talks to the line; both exit 1 and leave the file as it is.
  bool EmptyDatabase(std::function<std::string()>& holds) {
    const std::filesystem::path home = folder_.Root().string() + "-empty";
    const tarvel::AppFolder empty(home);
    std::filesystem::create_directories(empty.Setup());
    { std::ofstream truncate(empty.ConfigDatabase(), std::ios::trunc); }
    line_.Close();  // the port is the child's
    sim_.ClearRequests();
    const int listed = RunToEnd({"--home", home.string(), "channels"});
    const int uploaded = RunToEnd({"--home", home.string(), "--port", device_, "upload", "1", "x.txt", "1", "--yes"});
    if (!line_.Open(device_).ok()) std::fprintf(stderr, "the line could not be opened again\n");
    const bool untouched = std::filesystem::file_size(empty.ConfigDatabase()) == 0 && sim_.Requests().empty();
    std::filesystem::remove_all(home);
    holds = [=] { return untouched ? std::string("a command exited 0") : std::string("made a new map or talked"); };
    return listed == 0 || uploaded == 0 || !untouched;
  }

  sim::WriteModel model_;  // the line's; a swapped controller has the other
  sim::SimulatedLine sim_;
  tarvel::link::ModbusRtuLine line_;
  FaultingLine faulting_{line_};
  std::mt19937 random_;
  tarvel::AppFolder folder_;
  store::ConfigStore store_;
  tarvel::bench::DatabaseTrouble trouble_;
  std::string device_;
  MessagesView view_;
  std::unique_ptr<tarvel::console::Console> console_;
  std::map<std::string, std::vector<ProgramStep>> compiledOf_;  // what each logged name was compiled to
  Counts counts_;
};

}  // namespace

int main(int argc, char** argv) {
  // The controller model: --max-read N and --write-model M come first.
  std::string_view onlyModel;
  auto lines = tarvel::bench::ParseLineKinds("paced");
  for (; argc > 2 && std::string_view(argv[1]).starts_with("--"); argc -= 2, argv += 2) {
    if (std::string_view(argv[1]) == "--max-read") maxReadOption = std::clamp(std::atoi(argv[2]), 2, 125);
    if (std::string_view(argv[1]) == "--write-model") onlyModel = argv[2];
    if (std::string_view(argv[1]) == "--lines") lines = tarvel::bench::ParseLineKinds(argv[2]);
  }
  if (!lines) {
    std::fprintf(stderr,
                 "--lines takes all or a list of: paced, unpaced, echoing, duplicates-5, -20, -50, -100, -300\n");
    return 2;
  }
  std::printf("controllers answer reads of up to %d registers\n", maxReadOption);
  const int commands = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 320;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u;
  int failures = 0;
  // Late replies come 250 ms after the request on the one controller, 380 ms on the other.
  for (const auto& line : *lines)
    for (auto [model, name, late] : {std::tuple{sim::WriteModel::Both, "both", std::chrono::milliseconds(250)},
                                     std::tuple{sim::WriteModel::First, "first", std::chrono::milliseconds(380)}}) {
      if (!onlyModel.empty() && onlyModel != name) continue;
      Campaign campaign(model, late, line, seed);
      if (!campaign.Start()) {
        std::fprintf(stderr, "could not start the simulated line\n");
        return 1;
      }
      const auto started = std::chrono::steady_clock::now();
      campaign.Run(commands);
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      const Counts& c = campaign.Result();
      std::printf("line %s, write model %s: %d commands (", line.name.c_str(), name, commands);
      for (const auto& [kind, count] : c.commands)
        std::printf("%s%s %d", kind == c.commands.begin()->first ? "" : ", ", kKindNames[static_cast<int>(kind)],
                    count);
      std::printf(") in %.1f s\n", seconds);
      std::printf(
          "  troubles met: line faults %d, database locked %d, database refusing writes %d, kills %d, "
          "services killed under a client %d\n",
          c.lineFaults, c.locked, c.readOnly, c.kills, c.serviceKills);
      const auto heard = campaign.Heard();
      std::printf("  the line heard: strays %lld, echoes %lld, copies %lld; requests sent again %lld\n", heard.strays,
                  heard.echoes, heard.copies, heard.resends);
      std::printf("  commands that met trouble %d, failed cleanly %d; succeeded %d (%d of them despite trouble)\n",
                  c.faulted, c.failedCleanly, c.succeeded, c.succeededDespiteFault);
      std::printf("  map rows that disagree without a mark       %d\n", c.unmarked);
      std::printf("  log rows whose steps do not hold their program %d\n", c.badLogRows);
      std::printf("  successes after a failure                   %d\n", c.falseSuccesses);
      std::printf("  collateral register changes                 %d\n", c.collateral);
      std::printf("  %d / %d / %d / %d\n", c.unmarked, c.badLogRows, c.falseSuccesses, c.collateral);
      failures += c.unmarked + c.badLogRows + c.falseSuccesses + c.collateral;
    }
  return failures == 0 ? 0 : 1;
}
