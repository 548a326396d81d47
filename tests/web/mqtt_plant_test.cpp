// The plant view read from a real mosquitto: two PCs publishing the same channel numbers, one on
// the plant's broker and one on a second broker bridged to it, seen as two lines; removals,
// silent controllers and a PC gone from the broker. And the topic forms without a broker.
#include <gmock/gmock.h>

#include "publish/mqtt_publisher.h"
#include "support/processes.h"
#include "web/mqtt_plant.h"

namespace tarvel::web {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

publish::MqttOptions At(int port, const std::string& prefix) {
  publish::MqttOptions o;
  o.host = "127.0.0.1";
  o.port = port;
  o.prefix = prefix;
  o.discoveryPrefix.clear();
  return o;
}

watch::ChannelStatus Reading(int channel, int pv, watch::RunState state = watch::RunState::Running) {
  watch::ChannelStatus s;
  s.id = {channel, channel + 10, "Kiln " + std::to_string(channel)};
  s.at = watch::SystemClock::now();
  s.state = state;
  s.failure = state == watch::RunState::NoReply ? link::Outcome::NoReply : link::Outcome::Ok;
  if (state != watch::RunState::NoReply) s.lastGood = s.at;
  s.processValue = pv;
  s.setPoint = 500;
  s.step = 3;
  s.runMode = 1;
  s.temperatureScale = 'F';
  s.timeScale = 'M';
  s.design = 498;
  return s;
}

// The controller of line and channel, as the plant shows it now; null when it has none.
json Controller(const MqttPlant& plant, const std::string& line, int channel) {
  for (const json& c : plant.Controllers())
    if (c["line"] == line && c["channel"] == channel) return c;
  return nullptr;
}

// Follows the plant's events until done() holds, or 20 s have passed.
bool Until(MqttPlant& plant, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  long long last = 0;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::vector<std::string> events;
    last = plant.Since(last, events, 500ms);
  }
  return true;
}

class BridgedPlant : public ::testing::Test {
 protected:
  void SetUp() override {
    if (tarvel::testing::MosquittoProgram().empty()) GTEST_SKIP() << "mosquitto is not installed";
    ASSERT_TRUE(plantBroker_.Start());
    // The second hall's broker sends its plant topics on to the plant's, as a site would bridge them.
    ASSERT_TRUE(hallBroker_.Start("allow_anonymous true\nconnection plant\naddress 127.0.0.1:" +
                                  std::to_string(plantBroker_.Port()) + "\ntopic plant/# out 1\n"));
    ASSERT_TRUE(plantBroker_.WaitForLog("New bridge connected"));
  }
  tarvel::testing::Broker plantBroker_, hallBroker_;
};

TEST_F(BridgedPlant, OnePlantSeesBothPcsLinesTheirRemovalsAndTheirSilence) {
  MqttPlant plant(At(plantBroker_.Port(), "plant"));
  ASSERT_TRUE(plant.Start().ok());
  publish::MqttPublisher pc1(At(plantBroker_.Port(), "plant/hall1"));
  publish::MqttPublisher pc2(At(hallBroker_.Port(), "plant/hall2"));
  ASSERT_TRUE(pc1.Start().ok());
  ASSERT_TRUE(pc2.Start().ok());
  pc1.PublishState(Reading(1, 481));
  pc2.PublishState(Reading(1, 1203));
  pc2.PublishState(Reading(2, 77));
  pc1.PublishZone({"Kiln A", {1}, 470, 481, true}, watch::SystemClock::now());
  watch::AlarmEvent alarm{
      {2, 12, "Kiln 2"}, watch::SystemClock::now(), watch::AlarmKind::Band, true, "Kiln 2 below band", 77, 480, 520};
  pc2.PublishAlarm(alarm);

  ASSERT_TRUE(Until(plant, [&] { return plant.Controllers().size() == 3 && plant.Alarms().size() == 1; }))
      << plant.Controllers().dump() << plant.Alarms().dump();
  // Channel 1 of each PC, apart; the values as published, under the service's field names.
  const json one = Controller(plant, "plant/hall1", 1);
  EXPECT_EQ(one["processValue"], 481);
  EXPECT_EQ(one["setPoint"], 500);
  EXPECT_EQ(one["deviation"], -17);
  EXPECT_EQ(one["address"], 11);
  EXPECT_EQ(one["nickName"], "Kiln 1");
  EXPECT_EQ(one["state"], "running");
  EXPECT_EQ(one["units"]["temperature"], "°F");
  EXPECT_EQ(one["available"], true);
  EXPECT_EQ(Controller(plant, "plant/hall2", 1)["processValue"], 1203);
  const json open = plant.Alarms()[0];
  EXPECT_EQ(open["line"], "plant/hall2");
  EXPECT_EQ(open["channel"], 2);
  EXPECT_EQ(open["text"], "Kiln 2 below band");
  EXPECT_TRUE(open["cleared"].is_null());
  ASSERT_EQ(plant.Zones().size(), 1u);
  EXPECT_EQ(plant.Zones()[0]["line"], "plant/hall1");
  EXPECT_EQ(plant.Zones()[0]["spread"], 11);
  // The stream carries them as the service's does.
  std::vector<std::string> events;
  plant.Since(0, events, 0ms);
  EXPECT_THAT(events, ::testing::Contains(::testing::HasSubstr("event: reading\ndata: {")));
  EXPECT_THAT(events, ::testing::Contains(::testing::HasSubstr("event: alarm\ndata: {")));

  // The second PC no longer maps channel 2: its retained topics go, and so does the controller.
  pc2.MappedChannels("port", {1});
  pc2.ExpectSources(1);
  ASSERT_TRUE(Until(plant, [&] { return Controller(plant, "plant/hall2", 2).is_null(); }));
  EXPECT_FALSE(Controller(plant, "plant/hall2", 1).is_null());

  // A controller that stops answering shows no reply, without its last values as now's.
  pc1.PublishState(Reading(1, 481, watch::RunState::NoReply));
  ASSERT_TRUE(Until(plant, [&] { return Controller(plant, "plant/hall1", 1)["state"] == "no reply"; }));
  EXPECT_EQ(Controller(plant, "plant/hall1", 1)["available"], false);
  EXPECT_TRUE(Controller(plant, "plant/hall1", 1)["processValue"].is_null());
  EXPECT_EQ(Controller(plant, "plant/hall1", 1)["failure"], "no reply");
}

TEST_F(BridgedPlant, APcGoneFromTheBrokerShowsItsControllersAsNoReply) {
  MqttPlant plant(At(plantBroker_.Port(), "plant"));
  ASSERT_TRUE(plant.Start().ok());
  {
    publish::MqttPublisher pc2(At(hallBroker_.Port(), "plant/hall2"));
    ASSERT_TRUE(pc2.Start().ok());
    pc2.PublishState(Reading(4, 300));
    ASSERT_TRUE(Until(plant, [&] { return Controller(plant, "plant/hall2", 4)["processValue"] == 300; }));
  }  // its goodbye: the status topic says offline
  ASSERT_TRUE(Until(plant, [&] { return Controller(plant, "plant/hall2", 4)["state"] == "no reply"; }));
  EXPECT_EQ(Controller(plant, "plant/hall2", 4)["failure"], "the line's PC is not on the broker");
  EXPECT_TRUE(Controller(plant, "plant/hall2", 4)["processValue"].is_null());
}

TEST(PlantTopics, ZonesChannelsAlarmsAndLoadsOfAPrefixEndingInZone) {
  MqttPlant plant(At(1, "site"));
  // A prefix whose last level is "zone" still has numbered channels; a zone named "5" is a zone.
  plant.Take("site/zone/5/state", R"({"channel":5,"nickname":"K5","address":5,"state":"idle","process_value":70})");
  plant.Take("site/a/zone/5/state", R"({"zone":"5","channels":[1,2],"low":60,"high":75,"spread":15})");
  plant.Take("other/1/state", R"({"channel":1})");  // not under the root
  plant.Take("site/a/1/alarm", R"({"channel":1,"alarm":"band","state":"raised","text":"high","time":"t1"})");
  plant.Take("site/a/1/state", R"({"channel":1,"alarm":true,"alarm_text":"high","alarm_acknowledged_by":"ann"})");
  const char* load = R"({"id":"L7","channels":[1],"zone":"5","profile":"Cure","started":"t0","ended":null})";
  plant.Take("site/a/1/load", load);
  plant.Take("site/a/zone/5/load", load);
  ASSERT_EQ(plant.Controllers().size(), 2u);
  EXPECT_EQ(Controller(plant, "site/zone", 5)["processValue"], 70);
  ASSERT_EQ(plant.Zones().size(), 1u);
  EXPECT_EQ(plant.Zones()[0]["line"], "site/a");
  ASSERT_EQ(plant.Alarms().size(), 1u);
  EXPECT_EQ(plant.Alarms()[0]["ackedBy"], "ann");
  EXPECT_EQ(plant.Alarms()[0]["raised"], "t1");
  ASSERT_EQ(plant.Loads().size(), 1u) << "one load on its zone's topic and its controller's";
  EXPECT_EQ(plant.Loads()[0]["report"], false);

  plant.Take("site/a/1/alarm", R"({"channel":1,"alarm":"band","state":"cleared","text":"high","time":"t2"})");
  EXPECT_EQ(plant.Alarms()[0]["cleared"], "t2");
  plant.Take("site/a/zone/5/state", "");
  plant.Take("site/zone/5/state", "");
  EXPECT_EQ(plant.Zones().size(), 0u);
  EXPECT_TRUE(Controller(plant, "site/zone", 5).is_null());

  const Status ack = plant.Acknowledge("site/a", 1, "ann");
  EXPECT_EQ(ack.code(), Status::Code::ReadOnly);
  EXPECT_THAT(ack.message(), ::testing::HasSubstr("acknowledge its alarm on the PC that reads that line"));
  EXPECT_FALSE(plant.Report("site/a", "L7", "pdf").ok());
}

}  // namespace
}  // namespace tarvel::web
