// The MQTT publisher against a real mosquitto broker that each test starts on a free loopback
// port: what a subscriber receives, a broker killed while the watch goes on, and
// tarvel-cli watch --mqtt against tarvel-sim, its credentials included.
#include <gmock/gmock.h>

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "profile/log_file.h"
#include "publish/mqtt_publisher.h"
#include "support/processes.h"
#include "watch/load_start.h"
#include "watch/watch_fixture.h"

namespace tarvel::publish {
namespace {

using namespace std::chrono_literals;
using tarvel::testing::Subscribe;
using ::testing::HasSubstr;

#define SKIP_WITHOUT_BROKER()                      \
  if (tarvel::testing::MosquittoProgram().empty()) \
  GTEST_SKIP() << "mosquitto is not installed"     \
                  " (scripts/deps.sh installs it)"

TEST(MqttUrl, HostPortPrefixAndTls) {
  auto plain = ParseMqttUrl("mqtt://broker.plant:1884/site/hall 2/");
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ(plain->host, "broker.plant");
  EXPECT_EQ(plain->port, 1884);
  EXPECT_EQ(plain->prefix, "site/hall 2");
  EXPECT_FALSE(plain->tls);
  auto tls = ParseMqttUrl("mqtts://10.0.0.7");
  ASSERT_TRUE(tls.ok());
  EXPECT_EQ(tls->port, 8883);
  EXPECT_EQ(tls->prefix, "tarvel");
  EXPECT_TRUE(tls->tls);
  for (const char* bad : {"tcp://x", "mqtt://", "mqtt://x:0/a", "mqtt://x:99999", "mqtt://x/a/#", "mqtt://x:y"})
    EXPECT_FALSE(ParseMqttUrl(bad).ok()) << bad;
}

TEST(MqttPayload, ANoReplyChannelHasNullValuesTheFailureUnitsAndUtf8Names) {
  watch::ChannelStatus s;
  s.id = {3, 7, "Ofen \"\xE9\""};  // 8-bit, as the store has it
  s.state = watch::RunState::NoReply;
  s.failure = link::Outcome::NoReply;
  EXPECT_EQ(StateJson(s).substr(0, 59),
            "{\"channel\":3,\"nickname\":\"Ofen \\\"\u00e9\\\"\",\"address\":7,\"zone\":\"\"");
  EXPECT_THAT(StateJson(s), HasSubstr(R"("last_good":null,"failure":"no reply","units":{"temperature":null,)"));
  // Answered once, then silent: the values of the earlier reading are not published as now's.
  s.lastGood = s.at - 1min;
  s.processValue = 181;
  s.temperatureScale = 'C';
  s.timeScale = 'M';
  s.runMode = 1;
  EXPECT_THAT(StateJson(s),
              HasSubstr(R"("units":{"temperature":"°C","program_time":"min","step_time":"s"},"profile":null,)"
                        R"("run_mode":null,"step":null,"step_time":null,"set_point":null,"process_value":null,)"));
  s.state = watch::RunState::Running;
  s.lastGood = s.at;
  s.programTime = 12.345;
  EXPECT_THAT(StateJson(s), HasSubstr(R"("failure":null,)"));
  EXPECT_THAT(StateJson(s), HasSubstr(R"("process_value":181,"program_time":12.35,"design":null)"));
  EXPECT_EQ(Utf8("K\xC3\xA9 \xE9"), "K\xC3\x83\xC2\xA9 \xC3\xA9") << "not UTF-8 as a whole: every byte read as Latin-1";
  EXPECT_EQ(Utf8("K\xC3\xA9"), "K\xC3\xA9");
}

class MqttWatch : public watch::WatchFixture {
 protected:
  MqttWatch() : WatchFixture({1, 2}) {
    Map(1, 1, "Kiln");
    Map(2, 2, "Oven");
    Map(3, 3, "Dryer");  // no controller answers at 3
    RunCure(1);
    sim_.AdvanceTime(15min);  // 160, band 150..170
    SetPv(1, 300);
  }
  MqttOptions Options() {
    MqttOptions o;
    o.host = "127.0.0.1";
    o.port = broker_.Port();
    o.prefix = "plant/hall1";
    return o;
  }
  void Publish(MqttPublisher& publisher) {
    Watch().OnStatus([&publisher](const watch::ChannelStatus& s) { publisher.PublishState(s); });
    Watch().OnAlarm([&publisher](const watch::AlarmEvent& e) { publisher.PublishAlarm(e); });
    Watch().OnLoad([&publisher](const watch::LoadRecord& r) { publisher.PublishLoad(r); });
  }
  tarvel::testing::Broker broker_;
};

TEST_F(MqttWatch, EachReadingIsARetainedJsonStateEachAlarmAMessageAndEachLoadRetained) {
  SKIP_WITHOUT_BROKER();
  ASSERT_TRUE(broker_.Start());
  // Alarms are not retained: a subscriber listens from before the sweeps.
  tarvel::testing::Spawned alarms;
  ASSERT_TRUE(
      alarms.Start({"/usr/bin/stdbuf", "-oL", "mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(broker_.Port()),
                    "-t", "plant/hall1/+/alarm", "-v", "-i", "alarm-listener"}));
  ASSERT_TRUE(broker_.WaitForLog("Received SUBSCRIBE from alarm-listener"));

  MqttPublisher publisher(Options());
  ASSERT_TRUE(publisher.Start().ok());
  Publish(publisher);
  ASSERT_TRUE(watch::RequestLoadStart(folder_, store_, {1}, "Ann Smith", {{"Order", "4711"}}, "tarvel-cli",
                                      watch::SystemClock::now()));
  Watch().RunSweep();  // the load opens at the first reading of the program the client started
  ASSERT_TRUE(publisher.Flush(20s));
  const auto opened = nlohmann::json::parse(Subscribe(broker_.Port(), "plant/hall1/1/load", 1).out.substr(19));
  const std::string id = opened["id"];
  EXPECT_EQ(opened["operator"], "Ann Smith");
  EXPECT_EQ(opened["fields"], nlohmann::json({{"Order", "4711"}}));
  EXPECT_EQ(opened["channels"], nlohmann::json({1}));
  EXPECT_EQ(std::tuple(opened["ended"], opened["result"]), std::tuple(nullptr, nullptr));
  Watch().RunSweep();  // the second reading outside the band raises the alarm
  ASSERT_TRUE(store_.AcknowledgeAlarm(1, "Bo", 1'000).ok());
  ASSERT_TRUE(store_.AddLoadAction(watch::ActionRow(1, "cancel", "Bo", "", id, "", watch::SystemClock::now())));
  Watch().RunSweep();
  ASSERT_TRUE(publisher.Flush(20s));

  const auto states = Subscribe(broker_.Port(), "plant/hall1/+/state", 2);
  ASSERT_EQ(states.exitCode, 0) << states.err;
  EXPECT_THAT(states.out, HasSubstr(R"(plant/hall1/1/state {"channel":1,"nickname":"Kiln","address":1,"zone":"",)"
                                    R"("state":"running",)"));
  EXPECT_THAT(states.out, HasSubstr(R"("profile":"Cure.txt","run_mode":2,"step":1,"step_time":15,"set_point":160,)"
                                    R"("process_value":300,"program_time":15)"));  // and the seconds since
  EXPECT_THAT(states.out,
              HasSubstr(R"("design":160,"deviation":140,)"
                        R"("band":"above band","band_low":150,"band_high":170,"relay1":false,)"
                        R"("relay2":false,"alarm":true,"alarm_text":"PV 300 above band 150..170 for 2 readings",)"
                        R"("alarm_acknowledged_by":"Bo","alarm_acknowledged":")" +
                        watch::IsoTime(watch::SystemClock::time_point(1s)) + "\"}"));
  EXPECT_THAT(states.out, HasSubstr(R"(plant/hall1/2/state {"channel":2,"nickname":"Oven","address":2,"zone":"",)"
                                    R"("state":"idle")"));
  EXPECT_EQ(Subscribe(broker_.Port(), "plant/hall1/status", 1).out, "plant/hall1/status online\n");
  const auto closed = nlohmann::json::parse(Subscribe(broker_.Port(), "plant/hall1/1/load", 1).out.substr(19));
  EXPECT_EQ(std::tuple(closed["id"], closed["result"], closed["started"]),
            std::tuple(id, "CANCELLED", opened["started"]));
  EXPECT_TRUE(closed["ended"].is_string());
  ASSERT_TRUE(alarms.WaitFor("plant/hall1/1/alarm"));
  EXPECT_THAT(alarms.Lines().back(),
              HasSubstr(R"("alarm":"band","state":"raised","text":"PV 300 above band 150..170)"
                        R"( for 2 readings","process_value":300,"band_low":150,"band_high":170})"));
}

// What Home Assistant does with a discovery config: the state topic's JSON through the template.
std::string Rendered(const std::map<std::string, nlohmann::json>& retained, const nlohmann::json& config) {
  const auto state = retained.at(config["state_topic"].get<std::string>());
  std::string key = config["value_template"].get<std::string>();
  const bool onOff = key.starts_with("{{ 'ON' if ");
  key = key.substr(key.find("value_json.") + 11);
  key = key.substr(0, key.find(' '));
  const auto& value = state.at(key);
  if (onOff) return value.get<bool>() ? "ON" : "OFF";
  return value.is_string() ? value.get<std::string>() : value.dump();
}

TEST_F(MqttWatch, HomeAssistantFindsEachControllerItsUnitsAndAvailability) {
  SKIP_WITHOUT_BROKER();
  ASSERT_TRUE(broker_.Start());
  MqttPublisher publisher(Options());
  ASSERT_TRUE(publisher.Start().ok());
  Publish(publisher);
  Watch().RunSweep();
  Watch().RunSweep();
  ASSERT_TRUE(publisher.Flush(20s));

  std::map<std::string, nlohmann::json> retained;
  auto take = [&](const std::string& topic, int count) {
    const auto got = Subscribe(broker_.Port(), topic, count);
    std::istringstream lines(got.out);
    for (std::string line; std::getline(lines, line);) {
      const auto space = line.find(' ');
      const std::string payload = line.substr(space + 1);
      retained[line.substr(0, space)] =
          payload.starts_with("{") ? nlohmann::json::parse(payload) : nlohmann::json(payload);
    }
    return got.exitCode;
  };
  ASSERT_EQ(take("homeassistant/#", 18), 0);
  ASSERT_EQ(take("plant/hall1/+/state", 3), 0);
  ASSERT_EQ(take("plant/hall1/+/availability", 3), 0);
  std::set<std::string> uniqueIds;
  std::map<std::string, std::string> shown;  // unique id -> what Home Assistant shows
  for (const auto& [topic, config] : retained) {
    if (!topic.starts_with("homeassistant/")) continue;
    uniqueIds.insert(config["unique_id"].get<std::string>());
    shown[config["unique_id"].get<std::string>()] = Rendered(retained, config);
    const std::string channel = config["state_topic"].get<std::string>().substr(12, 1);
    EXPECT_EQ(config["device"]["identifiers"][0], "tarvel_plant_hall1_" + channel) << topic;
    for (const auto& availability : config["availability"])
      EXPECT_TRUE(retained.contains(availability["topic"].get<std::string>()) ||
                  availability["topic"] == "plant/hall1/status")
          << topic;
  }
  EXPECT_EQ(uniqueIds.size(), 18u);
  EXPECT_EQ(shown["tarvel_plant_hall1_1_process_value"], "300");
  EXPECT_EQ(shown["tarvel_plant_hall1_1_deviation"], "140");
  EXPECT_EQ(shown["tarvel_plant_hall1_1_step"], "1");
  EXPECT_EQ(shown["tarvel_plant_hall1_1_state"], "running");
  EXPECT_EQ(shown["tarvel_plant_hall1_1_alarm"], "ON");
  EXPECT_EQ(shown["tarvel_plant_hall1_3_process_value"], "null");
  EXPECT_EQ(retained["homeassistant/sensor/tarvel_plant_hall1_1/process_value/config"]["unit_of_measurement"], "°F");
  EXPECT_EQ(retained["homeassistant/sensor/tarvel_plant_hall1_1/set_point/config"]["device"]["name"], "Kiln");
  EXPECT_EQ(retained["plant/hall1/1/state"]["units"]["temperature"], "°F");
  EXPECT_EQ(retained["plant/hall1/1/state"]["units"]["step_time"], "min");
  EXPECT_EQ(retained["plant/hall1/1/availability"], "online");
  EXPECT_EQ(retained["plant/hall1/3/availability"], "offline");
  EXPECT_EQ(retained["plant/hall1/3/state"]["failure"], "no reply");

  // Home Assistant starts anew with an empty memory: its birth message gets the configs again.
  const std::string config = "homeassistant/binary_sensor/tarvel_plant_hall1_2/alarm/config";
  const std::string port = std::to_string(broker_.Port());
  ASSERT_EQ(tarvel::testing::RunProcess("mosquitto_pub", {"-p", port, "-t", config, "-r", "-n"}).exitCode, 0);
  ASSERT_EQ(
      tarvel::testing::RunProcess("mosquitto_pub", {"-p", port, "-t", "homeassistant/status", "-m", "online"}).exitCode,
      0);
  EXPECT_THAT(Subscribe(broker_.Port(), config, 1).out, HasSubstr(R"("unique_id":"tarvel_plant_hall1_2_alarm")"));

  // Channel 2 taken off the map: its retained topics go.
  publisher.ExpectSources(1);
  publisher.MappedChannels("line", {1, 3});
  ASSERT_TRUE(publisher.Flush(20s));
  const auto states = Subscribe(broker_.Port(), "plant/hall1/#", 7, 3);  // 5 are left
  EXPECT_THAT(states.out, HasSubstr("plant/hall1/3/availability offline"));
  EXPECT_THAT(states.out, ::testing::Not(HasSubstr("plant/hall1/2/")));
  EXPECT_THAT(Subscribe(broker_.Port(), "homeassistant/+/tarvel_plant_hall1_2/#", 1, 2).out, ::testing::IsEmpty());
}

TEST_F(MqttWatch, ABrokerKilledMidRunLosesNoRecordAndGetsTheNewestStateWhenBack) {
  SKIP_WITHOUT_BROKER();
  ASSERT_TRUE(broker_.Start());
  MqttPublisher publisher(Options());
  ASSERT_TRUE(publisher.Start().ok());
  Publish(publisher);
  Watch().RunSweep();
  ASSERT_TRUE(publisher.Flush(20s)) << publisher.Connected() << " " << publisher.Queued();

  broker_.Kill();
  for (int sweep = 0; sweep < 3; ++sweep) {
    sim_.AdvanceTime(1min);
    Watch().RunSweep();
  }
  EXPECT_EQ(Watch().CurrentSweep().Completed(), 4);
  const auto logs = FilesIn(folder_.ChannelLogFolder(1));
  ASSERT_EQ(logs.size(), 1u);
  const auto points = profile::ReadLogFile(logs[0]).value();
  ASSERT_EQ(points.size(), 4u) << "every reading recorded while the broker was away";
  const std::string pv = std::to_string(std::lround(sim_.Unit(1).processTemperature));
  EXPECT_EQ(points.back().recordedTemperature, std::stoi(pv));
  EXPECT_GT(publisher.Queued(), 0u);

  ASSERT_TRUE(broker_.Start());  // the same port: the publisher finds it again by itself
  ASSERT_TRUE(publisher.Flush(60s));
  const auto state = Subscribe(broker_.Port(), "plant/hall1/1/state", 1);
  EXPECT_THAT(state.out, HasSubstr(R"("process_value":)" + pv));
  EXPECT_THAT(state.out, HasSubstr(R"("step_time":18)"));
}

// tarvel-cli watch as the systemd unit runs it, against tarvel-sim.
class CliWatch : public ::testing::Test {
 protected:
  void SetUp() override {
    if (tarvel::testing::MosquittoProgram().empty()) GTEST_SKIP() << "mosquitto is not installed";
    ASSERT_TRUE(sim_.Start({TARVEL_SIM, "--units", "1,2", "--turnaround", "1"}));
    device_ = ReadDevice();
    ASSERT_TRUE(device_.starts_with("/dev/pts/")) << device_;
    for (auto [channel, address, name] : {std::tuple{"1", "1", "Kiln"}, {"2", "2", "Oven"}})
      ASSERT_EQ(tarvel::testing::RunCli(home_.path(), {"channel", "add", channel, address, name}).exitCode, 0);
    ASSERT_TRUE(broker_.Start());
  }
  std::string ReadDevice() {
    sim_.WaitFor("/dev/pts/");
    return sim_.Lines().empty() ? "" : sim_.Lines().back();
  }
  std::string Url() { return "mqtt://127.0.0.1:" + std::to_string(broker_.Port()) + "/cli"; }

  tarvel::testing::TempDir home_;
  tarvel::testing::Spawned sim_;
  std::string device_;
  tarvel::testing::Broker broker_;
};

TEST_F(CliWatch, CountTwoPrintsEachReadingPublishesItAndSaysOfflineAtTheEnd) {
  const auto run =
      tarvel::testing::RunCli(home_.path(), {"watch", "--every", "1", "--count", "2", "--mqtt", Url()}, device_);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(run.out.substr(at, end - at));
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_THAT(lines[0],
              ::testing::MatchesRegex(".*  ch 1 Kiln @1  idle  step 1 time 0  SP 70  PV 70  R1 off R2 off  mode 0"));
  EXPECT_THAT(lines[3], HasSubstr("  ch 2 Oven @2  idle"));
  const auto states = Subscribe(broker_.Port(), "cli/+/state", 2);
  EXPECT_THAT(states.out, HasSubstr(R"(cli/1/state {"channel":1,"nickname":"Kiln")"));
  EXPECT_THAT(states.out, HasSubstr(R"(cli/2/state {"channel":2,"nickname":"Oven")"));
  EXPECT_EQ(Subscribe(broker_.Port(), "cli/status", 1).out, "cli/status offline\n");
}

TEST_F(CliWatch, ARemovedChannelOrZoneIsClearedAndAFailedLoginFailsTheCount) {
  ASSERT_EQ(tarvel::testing::RunCli(home_.path(), {"zone", "set", "Furnace", "2"}).exitCode, 0);
  ASSERT_EQ(tarvel::testing::RunCli(home_.path(), {"watch", "--every", "1", "--count", "1", "--mqtt", Url()}, device_)
                .exitCode,
            0);
  EXPECT_THAT(Subscribe(broker_.Port(), "cli/zone/#", 1).out, HasSubstr("cli/zone/Furnace/state {"));
  ASSERT_EQ(tarvel::testing::RunCli(home_.path(), {"channel", "remove", "2"}).exitCode, 0);
  // The next watch finds channel 2's and the zone's states on the broker and clears them.
  ASSERT_EQ(tarvel::testing::RunCli(home_.path(), {"watch", "--every", "1", "--count", "1", "--mqtt", Url()}, device_)
                .exitCode,
            0);
  const auto left = Subscribe(broker_.Port(), "cli/+/+", 4, 3);
  EXPECT_THAT(left.out, HasSubstr("cli/1/availability online"));
  EXPECT_THAT(left.out, ::testing::Not(HasSubstr("cli/2/")));
  EXPECT_EQ(Subscribe(broker_.Port(), "cli/zone/#", 1, 2).out, "");

  const auto passwords = broker_.Dir() / "passwords";
  ASSERT_EQ(
      tarvel::testing::RunProcess("mosquitto_passwd", {"-b", "-c", passwords.string(), "tarvel", "s3cret"}).exitCode,
      0);
  broker_.Kill();
  ASSERT_TRUE(broker_.Start("allow_anonymous false\npassword_file " + passwords.string() + "\n"));
  const auto pwFile = home_.path() / "mqtt-password";
  for (auto [password, exitCode] : {std::pair{"guess", 1}, {"s3cret", 0}}) {
    tarvel::testing::WriteAll(pwFile, std::string(password) + "\n");
    const auto run = tarvel::testing::RunCli(home_.path(),
                                             {"watch", "--every", "1", "--count", "1", "--mqtt", Url(), "--username",
                                              "tarvel", "--pw-file", pwFile.string()},
                                             device_);
    EXPECT_EQ(run.exitCode, exitCode) << password << run.err;
    if (exitCode == 1) {
      EXPECT_THAT(run.err, HasSubstr("MQTT broker refused the connection: Connection Refused: not authorised."));
      EXPECT_THAT(run.err, HasSubstr("MQTT: nothing was delivered to 127.0.0.1:"));
    }
  }
}

TEST_F(CliWatch, AWatchThatDiesLeavesItsLastWillOffline) {
  tarvel::testing::Spawned watch;
  ASSERT_TRUE(watch.Start(
      {TARVEL_CLI, "--home", home_.path().string(), "--port", device_, "watch", "--every", "1", "--mqtt", Url()}));
  ASSERT_TRUE(watch.WaitFor("ch 2 Oven"));
  EXPECT_EQ(Subscribe(broker_.Port(), "cli/status", 1).out, "cli/status online\n");
  watch.Kill();  // no goodbye: the broker says it
  EXPECT_EQ(Subscribe(broker_.Port(), "cli/status", 1).out, "cli/status offline\n");
}

}  // namespace
}  // namespace tarvel::publish
