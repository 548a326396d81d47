// The line service over two simulated lines: both swept while tarvel-cli programs one and pauses
// the other through it; tarvel-cli watch as that service; workflow requests answered as the CLI
// prints them; the home held by one service; the API's guards; a line through the service
// failing as the port itself does.
#include <gmock/gmock.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cli/service_line.h"
#include "link/commands.h"
#include "service/api.h"
#include "service/remote_line.h"
#include "service/service.h"
#include "sim/simulated_line.h"
#include "store/config_store.h"
#include "store/home.h"
#include "support/line_home.h"
#include "support/processes.h"
#include "support/profiles.h"
#include "support/run_process.h"
#include "support/sim_line.h"

namespace tarvel::service {
namespace {

using ::testing::HasSubstr;

class LineService : public ::testing::Test {
 protected:
  LineService() {
    for (auto* sim : {&simA_, &simB_}) EXPECT_TRUE(sim->Start().ok());
    store::PrepareHome(folder_);
    EXPECT_TRUE(testing::WriteCureProfile(folder_.Profiles() / "cure.txt"));
    store::ConfigStore store(folder_.ConfigDatabase());
    EXPECT_TRUE(store.AddChannel({1, 1, "Kiln", "set64rs", simA_.DevicePath()}));
    EXPECT_TRUE(store.AddChannel({2, 2, "Dryer", "set64rs", simB_.DevicePath()}));
    EXPECT_TRUE(store.ResetControllerMemory(1));
    EXPECT_TRUE(store.ResetControllerMemory(2));
  }

  void StartService() {
    PortOptions options;
    options.watch.period = std::chrono::milliseconds(0);  // sweep after sweep
    auto started = Service::Start(folder_, options);
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<Service>>(started))
        << std::get<Service::Refusal>(started).message;
    service_ = std::move(std::get<std::unique_ptr<Service>>(started));
    api_ = std::make_unique<ApiServer>(*service_, cli::VerbRunner(folder_, true));
    ApiOptions api;
    api.socket = SocketPath(folder_);
    api.tcp = tcp_;
    api.token = token_;
    ASSERT_TRUE(api_->Start(api).ok());
  }

  // Waits (on the event stream, at most a minute) until every port has finished a sweep.
  void AwaitSweepOfEveryPort(long long after) {
    std::set<std::string> swept;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (swept.size() < service_->Ports().size() && std::chrono::steady_clock::now() < deadline) {
      std::vector<std::string> events;
      after = service_->Events().Since(after, events, std::chrono::seconds(1));
      for (const std::string& e : events)
        if (e.starts_with("event: sweep\n"))
          swept.insert(nlohmann::json::parse(e.substr(e.find("data: ") + 6))["port"].get<std::string>());
    }
    ASSERT_EQ(swept.size(), service_->Ports().size());
  }

  // A workflow request on the service's socket: the status and the answer.
  std::pair<int, nlohmann::json> Workflow(const nlohmann::json& request) {
    httplib::Client local(SocketPath(folder_).string(), 80);
    local.set_address_family(AF_UNIX);
    local.set_read_timeout(std::chrono::minutes(1));
    auto res = local.Post("/v1/workflows", request.dump(), "application/json");
    if (!res) return {0, {}};
    return {res->status, nlohmann::json::parse(res->body, nullptr, false)};
  }

  // A free TCP port of loopback.
  static int FreePort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof any;
    EXPECT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    getsockname(probe, reinterpret_cast<sockaddr*>(&any), &size);
    close(probe);
    return ntohs(any.sin_port);
  }

  testing::ProcessResult Cli(std::vector<std::string> args, const std::string& port) {
    return testing::RunCli(dir_.path(), std::move(args), port);
  }

  testing::TempDir dir_;
  AppFolder folder_{dir_.path()};
  sim::SimulatedLine simA_{testing::QuickLine({1})}, simB_{testing::QuickLine({2})};
  std::optional<Listen> tcp_;
  std::string token_;
  std::unique_ptr<Service> service_;
  std::unique_ptr<ApiServer> api_;
};

TEST_F(LineService, SweepsTwoLinesWhileTheCliUploadsOnOneAndPausesTheOther) {
  {  // the dryer runs the cure profile, started at the front panel
    store::ConfigStore store(folder_.ConfigDatabase());
    testing::RunCure(store, simB_, 2, "cure.txt");
  }
  simB_.AdvanceTime(std::chrono::minutes(15));
  StartService();
  AwaitSweepOfEveryPort(0);

  // The service owns both ports: these run only through it.
  auto upload = Cli({"upload", "1", "cure.txt", "20"}, simA_.DevicePath());
  ASSERT_EQ(upload.exitCode, 0) << upload.out << upload.err;
  EXPECT_THAT(upload.out, HasSubstr("Read-back matches the compiled profile"));
  const auto kiln = simA_.Unit(1);
  EXPECT_EQ(std::tuple(kiln.steps[20].pidSet, kiln.steps[20].duration, kiln.steps[20].temperature),
            std::tuple(2, 45, 250));
  const int reached = simB_.Unit(2).profileSetPoint;
  auto pause = Cli({"pause", "2"}, simB_.DevicePath());
  ASSERT_EQ(pause.exitCode, 0) << pause.out << pause.err;
  EXPECT_EQ(simB_.Unit(2).setValue, reached);

  store::ConfigStore store(folder_.ConfigDatabase());
  auto log = store.LogEntry(1, "cure.txt");
  ASSERT_TRUE(log.ok() && log->has_value());
  EXPECT_EQ(std::pair((*log)->start, (*log)->stop), std::pair(20, 22));
  EXPECT_EQ(store.Memory(1)->at(20).temperature, 250);

  // Both lines are swept on after the commands; each reading is of its own line. (A sweep that
  // ends just after the commands may carry a reading from before them: the next one cannot.)
  AwaitSweepOfEveryPort(service_->Events().Last());
  AwaitSweepOfEveryPort(service_->Events().Last());
  auto channels = service_->Channels();
  ASSERT_EQ(channels.size(), 2u);
  EXPECT_EQ(channels[0]["port"], simA_.DevicePath());
  EXPECT_EQ(channels[1]["port"], simB_.DevicePath());
  EXPECT_EQ(channels[1]["state"], "held") << channels[1].dump();
}

TEST_F(LineService, WorkflowsAreTheCliVerbsRunByTheService) {
  StartService();
  const long long before = service_->Events().Last();
  auto [status, upload] = Workflow({{"args", {"upload", "1", "cure.txt", "20"}}, {"port", simA_.DevicePath()}});
  ASSERT_EQ(status, 200) << upload.dump();
  EXPECT_EQ(upload["exit"], 0) << upload.dump();
  EXPECT_THAT(upload["out"].get<std::string>(), HasSubstr("Read-back matches the compiled profile"));
  EXPECT_EQ(simA_.Unit(1).steps[20].temperature, 250);
  // Progress and the result on the event stream: each line as it was printed, then the exit.
  std::vector<std::string> events;
  service_->Events().Since(before, events, std::chrono::seconds(0));
  std::string printed;
  int exit = -1;
  for (const std::string& e : events) {
    if (!e.starts_with("event: workflow\n")) continue;
    const auto data = nlohmann::json::parse(e.substr(e.find("data: ") + 6));
    if (data.contains("out")) printed += data["out"].get<std::string>() + "\n";
    if (data.contains("exit")) exit = data["exit"].get<int>();
  }
  EXPECT_EQ(printed, upload["out"]);
  EXPECT_EQ(exit, 0);

  // Word for word what tarvel-cli prints, exit code included; a question the flags do not answer
  // is cancelled naming the flag that would.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"download", "1", "20", "22"},
                                               {"upload", "1", "cure.txt", "30"},
                                               {"alarm", "ack", "7"}}) {
    auto cli = Cli(args, simA_.DevicePath());
    auto [code, answer] = Workflow({{"args", args}, {"port", std::filesystem::path(simA_.DevicePath()).filename()}});
    ASSERT_EQ(code, 200);
    EXPECT_EQ(std::tuple(answer["exit"].get<int>(), answer["out"].get<std::string>(), answer["err"].get<std::string>()),
              std::tuple(cli.exitCode, cli.out, cli.err));
  }
  EXPECT_THAT(Workflow({{"args", {"upload", "1", "cure.txt", "30"}}, {"port", simA_.DevicePath()}})
                  .second["out"]
                  .get<std::string>(),
              HasSubstr("Proceed? -> Cancel (no --yes)"));

  for (const auto& [request, why] : std::vector<std::pair<nlohmann::json, std::string>>{
           {{{"args", {"watch"}}}, "\"watch\" is not a workflow of the service"},
           {{{"args", {"pause", "2", "--port", "/dev/ttyS0"}}}, "--port is not given in \"args\""},
           {{{"args", nlohmann::json::array()}}, "\"args\" must be the verb and its words"}}) {
    auto [code, answer] = Workflow(request);
    EXPECT_EQ(code, 400) << request.dump();
    EXPECT_THAT(answer["message"].get<std::string>(), HasSubstr(why));
  }
  EXPECT_EQ(Workflow({{"args", {"pause", "2"}}, {"port", "/dev/ttyS31"}}).first, 404);
}

// A zone spanning both lines: each member is programmed on its own port, by the ports themselves
// and then through the service that owns them.
TEST_F(LineService, AZoneSpansPorts) {
  ASSERT_EQ(Cli({"zone", "set", "Furnace", "1", "2"}, "").exitCode, 0);
  const std::string cure = (folder_.Profiles() / "cure.txt").string();
  auto programmed = [this](int first) {  // both members, each on its own line
    return simA_.Unit(1).steps[first].temperature == 250 && simB_.Unit(2).steps[first].temperature == 250;
  };
  auto direct = Cli({"zone", "upload", "Furnace", cure, "20"}, simA_.DevicePath());
  EXPECT_EQ(direct.exitCode, 0) << direct.out << direct.err;
  EXPECT_TRUE(programmed(20));
  StartService();
  auto served = Cli({"zone", "upload", "Furnace", "cure.txt", "30", "--yes"}, simA_.DevicePath());  // a bare name
  EXPECT_EQ(served.exitCode, 0) << served.out << served.err;
  EXPECT_TRUE(programmed(30));
  // A file named from the client's working folder, not the service's.
  auto [status, workflow] = Workflow({{"args", {"zone", "upload", "Furnace", "Profiles/cure.txt", "40", "--yes"}},
                                      {"port", simB_.DevicePath()},
                                      {"cwd", dir_.path().string()}});
  EXPECT_EQ(workflow["exit"], 0) << workflow.dump();
  EXPECT_TRUE(programmed(40));
}

// tarvel-cli watch is the home's service on its one port: other commands go through it rather
// than being refused the port, and the home has no room for a second service.
TEST_F(LineService, AWatchIsTheServiceInTheForeground) {
  testing::Spawned watch;
  ASSERT_TRUE(
      watch.Start({TARVEL_CLI, "--home", dir_.path().string(), "--port", simA_.DevicePath(), "watch", "--every", "1"}));
  ASSERT_TRUE(watch.WaitFor("ch 1 Kiln @1  idle"));
  auto state = Cli({"state", "1"}, simA_.DevicePath());
  EXPECT_EQ(state.exitCode, 0) << state.err;
  EXPECT_THAT(state.out, HasSubstr("Process value:"));
  // A scan too: each address probed by the service, with its short window.
  auto scan = Cli({"scan"}, simA_.DevicePath());
  EXPECT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_THAT(scan.out, HasSubstr("Unit #1 Detected\nUnit #2 Not Found\n"));
  EXPECT_THAT(scan.out, HasSubstr("1 Found\nFollowing ModBus Addresses Detected:  1\n"));
  // And an address change: the unit answers at its new address and its channel follows it.
  auto moved = Cli({"address", "1", "5"}, simA_.DevicePath());
  EXPECT_EQ(moved.exitCode, 0) << moved.out << moved.err;
  EXPECT_THAT(moved.out, HasSubstr("Unit at 1 set to new address at 5"));
  EXPECT_EQ(Cli({"state", "5"}, simA_.DevicePath()).exitCode, 0);
  auto kiln = store::ConfigStore(folder_.ConfigDatabase()).ChannelByAddress(5);
  ASSERT_TRUE(kiln.ok() && kiln->has_value());
  EXPECT_EQ((*kiln)->softwareChannel, 1);
  auto second = testing::RunProcess(TARVEL_LINE, {"--home", dir_.path().string()});
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_THAT(second.err, HasSubstr("Another tarvel-line serves the home"));
}

TEST_F(LineService, OneServicePerHomeAndTcpOnlyWithItsToken) {
  auto beyond = testing::RunProcess(TARVEL_LINE, {"--home", dir_.path().string(), "--listen", "0.0.0.0:8931"});
  EXPECT_EQ(beyond.exitCode, 2);
  EXPECT_THAT(beyond.err, HasSubstr("reaches beyond this computer: give --token-file FILE"));
  EXPECT_EQ(std::get<Listen>(ParseListen("8931")).address, "127.0.0.1") << "loopback unless told";
  // A configuration it cannot use: exit 2, saying why.
  auto noToken = testing::RunProcess(TARVEL_LINE, {"--home", dir_.path().string(), "--token-file", "/nonexistent"});
  EXPECT_EQ(noToken.exitCode, 2);
  EXPECT_THAT(noToken.err, HasSubstr("Cannot read a token from /nonexistent"));
  auto empty = testing::RunProcess(TARVEL_LINE, {"--home", (dir_.path() / "empty").string()});
  EXPECT_EQ(empty.exitCode, 2);
  EXPECT_THAT(empty.err, HasSubstr("is empty: nothing to serve"));

  tcp_ = Listen{"127.0.0.1", FreePort()};
  token_ = "s3cret";
  StartService();

  auto second = testing::RunProcess(TARVEL_LINE, {"--home", dir_.path().string()});
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_THAT(second.err, HasSubstr("Another tarvel-line serves the home " + dir_.path().string() + " (pid " +
                                    std::to_string(getpid()) + ")"));

  httplib::Client tcp("127.0.0.1", tcp_->port);
  auto refused = tcp.Get("/v1/service");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 401);
  auto allowed = tcp.Get("/v1/service", {{"Authorization", "Bearer s3cret"}});
  ASSERT_TRUE(allowed);
  EXPECT_EQ(allowed->status, 200);
  EXPECT_EQ(nlohmann::json::parse(allowed->body)["pid"], getpid());
  auto raw = tcp.Post("/v1/ports/ttyS0/session", {{"Authorization", "Bearer s3cret"}}, "", "application/json");
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->status, 403) << "no register access from the network, token or not";
  // Workflows check what they write: over TCP with the token, never without one.
  const std::string zones = R"({"args": ["zones"]})";
  auto guarded = tcp.Post("/v1/workflows", {{"Authorization", "Bearer s3cret"}}, zones, "application/json");
  ASSERT_TRUE(guarded);
  EXPECT_EQ(guarded->status, 200) << guarded->body;
  ApiServer open(*service_, cli::VerbRunner(folder_, true));
  const int openPort = FreePort();
  ASSERT_TRUE(open.Start({dir_.path() / "open.sock", Listen{"127.0.0.1", openPort}, ""}).ok());
  auto unguarded = httplib::Client("127.0.0.1", openPort).Post("/v1/workflows", zones, "application/json");
  ASSERT_TRUE(unguarded);
  EXPECT_EQ(unguarded->status, 403);

  // The socket needs no token: only its user can open it.
  EXPECT_EQ(std::filesystem::status(SocketPath(folder_)).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  auto found = FindService(folder_);
  ASSERT_TRUE(found);
  EXPECT_EQ(ServedPort(*found, simB_.DevicePath()), simB_.DevicePath());
  EXPECT_EQ(ServedPort(*found, "/dev/ttyS31"), "");

  httplib::Client local(found->socket, 80);
  local.set_address_family(AF_UNIX);
  auto bad = local.Post("/v1/ports/" + std::filesystem::path(simA_.DevicePath()).filename().string() + "/exchange",
                        R"({"op": "readPair", "address": 1})", "application/json");
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->status, 400);
  EXPECT_THAT(bad->body, HasSubstr("\\\"register\\\" must be a whole number"));
  auto unknown = local.Post("/v1/ports/ttyS31/session", "", "application/json");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 404);
}

TEST_F(LineService, ALineThroughTheServiceFailsAsThePortItselfDoes) {
  // What the port itself gives: a good read, a Modbus exception, no reply from an absent unit, a refusal.
  auto outcomes = [this](link::Line& line) {
    std::vector<link::Outcome> seen{line.ReadRegisterPair(1, link::reg::kProcessValue).outcome};
    simA_.InjectFault(sim::Fault::Exception);
    seen.push_back(line.ReadRegisterPair(1, link::reg::kProcessValue).outcome);
    seen.push_back(line.ReadRegisterPair(9, link::reg::kProcessValue).outcome);
    seen.push_back(line.WriteRegisters(0, 4, 1, 0));
    return seen;
  };
  std::vector<link::Outcome> direct;
  {
    link::ModbusRtuLine line;
    ASSERT_TRUE(line.Open(simA_.DevicePath()).ok());
    direct = outcomes(line);
  }
  ASSERT_EQ(direct,
            (std::vector{link::Outcome::Ok, link::Outcome::Exception, link::Outcome::NoReply, link::Outcome::NotSent}));
  StartService();
  const long long before = service_->Events().Last();
  RemoteLine remote(SocketPath(folder_).string(), simA_.DevicePath());
  ASSERT_FALSE(remote.Open());
  EXPECT_EQ(outcomes(remote), direct);

  // A session that ended under it (idle, or ended by hand here): the next exchange opens another.
  std::vector<std::string> events;
  service_->Events().Since(before, events, std::chrono::seconds(0));
  auto session = std::find_if(events.begin(), events.end(),
                              [](const std::string& e) { return e.starts_with("event: session\n"); });
  ASSERT_NE(session, events.end());
  const auto opened = nlohmann::json::parse(session->substr(session->find("data: ") + 6));
  ASSERT_EQ(opened["opened"], true);
  EXPECT_TRUE(service_->Port(simA_.DevicePath())->EndSession(opened["lease"].get<std::string>()));
  EXPECT_EQ(remote.ReadRegisterPair(1, link::reg::kProcessValue).outcome, link::Outcome::Ok);
  // A block read this line's units refuse comes back as refused, as on the port itself.
  EXPECT_EQ(remote.ReadRegisterBlock(1, link::reg::kProgramSteps, 3).outcome, link::Outcome::Exception);
  EXPECT_EQ(remote.ReadRegisterBlock(1, link::reg::kProgramSteps, 2).value.size(), 2u);

  // A quiet session gives way to one waiting (a console holding its line keeps no command out),
  // and its next exchange goes in a new one.
  const long long mark = service_->Events().Last();
  RemoteLine other(SocketPath(folder_).string(), simA_.DevicePath());
  ASSERT_FALSE(other.Open());
  EXPECT_EQ(other.ReadRegisterPair(1, link::reg::kProcessValue).outcome, link::Outcome::Ok);
  events.clear();
  service_->Events().Since(mark, events, std::chrono::seconds(0));
  EXPECT_TRUE(std::any_of(events.begin(), events.end(),
                          [](const std::string& e) { return e.find(R"("ended":"gave way")") != std::string::npos; }));
  EXPECT_EQ(remote.ReadRegisterPair(1, link::reg::kProcessValue).outcome, link::Outcome::Ok);
}

// A port that went away is tried again after 1, 2, 4 ... 30 s, and given up after the time set.
TEST(PortKeeper, TheReopenPauseGrowsToHalfAMinuteUntilItGivesUp) {
  auto sim = std::make_unique<sim::SimulatedLine>(testing::QuickLine({1}));
  ASSERT_TRUE(sim->Start().ok());
  const std::string device = sim->DevicePath();
  link::ModbusRtuLine line;
  ASSERT_TRUE(line.Open(device).ok());
  sim.reset();  // the adapter pulled out
  EXPECT_FALSE(line.ReadRegisterPair(1, link::reg::kProcessValue).ok());
  ASSERT_TRUE(line.PortLost());
  auto now = std::chrono::steady_clock::time_point{};
  std::vector<std::string> said;
  watch::PortKeeper keeper(
      line, device, std::chrono::seconds(120), [&](const std::string& text) { said.push_back(text); },
      [&] { return now; });
  std::vector<long long> pauses;
  while (!keeper.GaveUp() && pauses.size() < 20) {
    const auto wait = keeper.Tend();
    pauses.push_back(std::chrono::duration_cast<std::chrono::seconds>(wait).count());
    now += wait;
  }
  EXPECT_EQ(pauses, (std::vector<long long>{1, 2, 4, 8, 16, 30, 30, 30, 0}));
  EXPECT_EQ(said, (std::vector<std::string>{"Serial port " + device + " lost, reopening",
                                            "Serial port " + device + " did not come back within 120 s: giving up"}));
}

}  // namespace
}  // namespace tarvel::service
