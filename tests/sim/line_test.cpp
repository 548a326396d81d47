// The simulated line on a pseudo-terminal, driven from the master's side with raw reads
// and writes: exact reply bytes, silence where a real slave keeps silent, faults, framing
// by silence, pacing, and the half-duplex rule.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "sim/rtu_codec.h"
#include "sim/simulated_line.h"
#include "wire.h"

namespace tarvel::sim {
namespace {

using testing::Bytes;
using testing::Wire;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kWait{5000};

Bytes WithCrc(Bytes frame) {
  AppendCrc(frame);
  return frame;
}

const Bytes kReadSetValue{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B};
const Bytes kSetValueReply{0x01, 0x03, 0x04, 0x00, 0x46, 0x00, 0x00, 0x1B, 0xE6};  // 70

class Line : public ::testing::Test {
 protected:
  static Options Defaults() {
    Options options;
    options.addresses = {1, 2};
    options.clock = Options::Clock::Manual;
    options.turnaround = std::chrono::microseconds(1000);
    return options;
  }
  void Serve(const Options& options = Defaults()) {
    line = std::make_unique<SimulatedLine>(options);
    auto path = line->Start();
    ASSERT_TRUE(path) << path.status().message();
    EXPECT_EQ(line->DevicePath(), path.value());
    wire = std::make_unique<Wire>(path.value());
    ASSERT_TRUE(wire->IsOpen());
  }
  Bytes Exchange(const Bytes& request, std::size_t replySize) {
    wire->Send(request);
    return wire->Receive(replySize);
  }

  std::unique_ptr<SimulatedLine> line;
  std::unique_ptr<Wire> wire;
};

TEST_F(Line, AnswersReadWriteAndCoilFramesWithTheExactBytes) {
  Options options = Defaults();
  options.addresses = {2, 0, 1, 2};
  Serve(options);
  EXPECT_EQ(line->Addresses(), (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(Exchange(kReadSetValue, 9), kSetValueReply);

  const Bytes writeSetValue{0x01, 0x10, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0xC8, 0x00, 0x00, 0x72, 0x51};
  EXPECT_EQ(Exchange(writeSetValue, 8), (Bytes{0x01, 0x10, 0x00, 0x00, 0x00, 0x02, 0x41, 0xC8}));
  EXPECT_EQ(line->Unit(1).setValue, 200);
  EXPECT_EQ(Exchange(kReadSetValue, 9), WithCrc({0x01, 0x03, 0x04, 0x00, 0xC8, 0x00, 0x00}));

  const Bytes autoTuneOn{0x01, 0x05, 0x00, 0x01, 0xFF, 0x00, 0xDD, 0xFA};
  EXPECT_EQ(Exchange(autoTuneOn, 8), autoTuneOn);
  EXPECT_TRUE(line->Unit(1).autoTune);
  EXPECT_FALSE(line->Unit(2).autoTune);

  EXPECT_EQ(line->Requests(), (std::vector<Bytes>{kReadSetValue, writeSetValue, kReadSetValue, autoTuneOn}));
  line->ClearRequests();
  EXPECT_TRUE(line->Requests().empty());
}

TEST_F(Line, KeepsSilentForOtherAddressesBadChecksumsAndNoiseButRecordsThem) {
  Serve();
  const Bytes toAbsentUnit = EncodeReadRequest(9, 0x0000, 2);
  Bytes corrupt = kReadSetValue;
  corrupt[6] ^= 0x01;
  const Bytes noise{0x55};
  wire->Send(toAbsentUnit);
  ASSERT_TRUE(line->WaitForRequests(1, kWait));
  wire->Send(corrupt);
  ASSERT_TRUE(line->WaitForRequests(2, kWait));
  wire->Send(noise);
  ASSERT_TRUE(line->WaitForRequests(3, kWait));
  // The first bytes that come back belong to the one request a unit could answer.
  EXPECT_EQ(Exchange(EncodeReadRequest(2, 0x0000, 2), 9), WithCrc({0x02, 0x03, 0x04, 0x00, 0x46, 0x00, 0x00}));
  EXPECT_EQ(line->Requests(), (std::vector<Bytes>{toAbsentUnit, corrupt, noise, EncodeReadRequest(2, 0x0000, 2)}));
}

TEST_F(Line, RefusesUnknownFunctionsAndRegistersWithExceptions) {
  Serve();
  EXPECT_EQ(Exchange(WithCrc({0x01, 0x06, 0x00, 0x00, 0x00, 0x01}), 5), WithCrc({0x01, 0x86, 0x01}));
  EXPECT_EQ(Exchange(EncodeReadRequest(1, 0x0001, 2), 5), (Bytes{0x01, 0x83, 0x02, 0xC0, 0xF1}));
  EXPECT_EQ(Exchange(EncodeCoilRequest(2, 0x0002, true), 5), WithCrc({0x02, 0x85, 0x02}));
}

TEST_F(Line, EachInjectedFaultSpoilsOneReplyAndTheNextExchangeIsClean) {
  Options options = Defaults();
  options.lateReplyDelay = milliseconds(80);
  Serve(options);

  // No reply: the request is lost, a write included.
  line->InjectFault(Fault::NoReply);
  wire->Send(EncodeWriteRequest(1, 0x0000, std::vector<std::uint16_t>{5, 0}));
  ASSERT_TRUE(line->WaitForRequests(1, kWait));
  EXPECT_EQ(Exchange(kReadSetValue, 9), kSetValueReply);

  line->InjectFault(Fault::BadCrc);
  Bytes reply = Exchange(kReadSetValue, 9);
  ASSERT_EQ(reply.size(), 9u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 7), Bytes(kSetValueReply.begin(), kSetValueReply.begin() + 7));
  EXPECT_FALSE(HasValidCrc(reply));

  line->InjectFault(Fault::WrongAddress);
  reply = Exchange(kReadSetValue, 9);
  ASSERT_EQ(reply.size(), 9u);
  EXPECT_NE(reply[0], 0x01);
  EXPECT_TRUE(HasValidCrc(reply));
  EXPECT_EQ(Bytes(reply.begin() + 1, reply.begin() + 7), Bytes(kSetValueReply.begin() + 1, kSetValueReply.begin() + 7));

  line->InjectFault(Fault::Exception);
  EXPECT_EQ(Exchange(kReadSetValue, 5), (Bytes{0x01, 0x83, 0x04, 0x40, 0xF3}));

  line->InjectFault(Fault::StrayByte);
  reply = Exchange(kReadSetValue, 10);
  ASSERT_EQ(reply.size(), 10u);
  EXPECT_EQ(Bytes(reply.begin() + 1, reply.end()), kSetValueReply);

  line->InjectFault(Fault::LateReply);
  const auto sent = Clock::now();
  EXPECT_EQ(Exchange(kReadSetValue, 9), kSetValueReply);
  EXPECT_GE(Clock::now() - sent, options.lateReplyDelay);

  // Two in a row, and a request for an absent unit does not use one up.
  line->InjectFault(Fault::Exception, 2);
  wire->Send(EncodeReadRequest(9, 0x0000, 2));
  const std::size_t seen = line->Requests().size();
  ASSERT_TRUE(line->WaitForRequests(seen + 1, kWait));
  EXPECT_EQ(Exchange(kReadSetValue, 5), (Bytes{0x01, 0x83, 0x04, 0x40, 0xF3}));
  EXPECT_EQ(Exchange(kReadSetValue, 5), (Bytes{0x01, 0x83, 0x04, 0x40, 0xF3}));
  EXPECT_EQ(Exchange(kReadSetValue, 9), kSetValueReply);
  EXPECT_EQ(line->Unit(1).setValue, 70);  // the lost write never happened
}

TEST_F(Line, IgnoresWhatArrivesWhileItIsStillAnswering) {
  Serve();  // late replies come 150 ms after the request
  line->InjectFault(Fault::LateReply);
  wire->Send(kReadSetValue);
  ASSERT_TRUE(line->WaitForRequests(1, kWait));
  const Bytes writeDuringWait = EncodeWriteRequest(1, 0x0000, std::vector<std::uint16_t>{123, 0});
  wire->Send(writeDuringWait);
  EXPECT_EQ(wire->Receive(9), kSetValueReply);
  const Bytes readMode = EncodeReadRequest(1, 0x200D, 2);
  EXPECT_EQ(Exchange(readMode, 9), WithCrc({0x01, 0x03, 0x04, 0x00, 0x00, 0x00, 0x01}));  // mode 0, low step 1
  EXPECT_EQ(line->Requests(), (std::vector<Bytes>{kReadSetValue, readMode}));
  EXPECT_EQ(line->Unit(1).setValue, 70);
}

TEST_F(Line, FramesByTheSilenceBetweenThemNotByTheWritesThatCarryThem) {
  Options options = Defaults();
  options.baud = 1200;  // 8.3 ms characters: a generous window for the two halves to join
  Serve(options);
  wire->Send(Bytes(kReadSetValue.begin(), kReadSetValue.begin() + 3));
  wire->Send(Bytes(kReadSetValue.begin() + 3, kReadSetValue.end()));
  EXPECT_EQ(wire->Receive(9), kSetValueReply);
  EXPECT_EQ(line->Requests(), (std::vector<Bytes>{kReadSetValue}));

  // The same halves with a silence between them are two broken frames: no reply to either.
  line->ClearRequests();
  wire->Send(Bytes(kReadSetValue.begin(), kReadSetValue.begin() + 3));
  ASSERT_TRUE(line->WaitForRequests(1, kWait));
  wire->Send(Bytes(kReadSetValue.begin() + 3, kReadSetValue.end()));
  ASSERT_TRUE(line->WaitForRequests(2, kWait));
  const Bytes readUnit2 = EncodeReadRequest(2, 0x0000, 2);
  EXPECT_EQ(Exchange(readUnit2, 9), WithCrc({0x02, 0x03, 0x04, 0x00, 0x46, 0x00, 0x00}));
  ASSERT_EQ(line->Requests().size(), 3u);
  EXPECT_EQ(line->Requests()[0], Bytes(kReadSetValue.begin(), kReadSetValue.begin() + 3));
}

TEST_F(Line, RepliesNeverArriveFasterThanTheWireWouldCarryThem) {
  Options options = Defaults();
  options.turnaround = std::chrono::microseconds(10000);
  Serve(options);
  const double charMs = 10.0 / 9600 * 1000;
  for (const auto& [request, replySize] : {std::pair{kReadSetValue, std::size_t{9}},
                                           std::pair{EncodeWriteRequest(1, 0x4000, std::vector<std::uint16_t>{3, 0}),
                                                     std::size_t{8}}}) {
    const auto sent = Clock::now();
    ASSERT_EQ(Exchange(request, replySize).size(), replySize);
    const double elapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
    // Request and reply bytes, the silence that ends the request, the turnaround.
    EXPECT_GE(elapsedMs, (static_cast<double>(request.size() + replySize) + 3.5) * charMs + 10.0);
  }
  // A slower turnaround set while serving applies to the next exchange.
  line->SetTurnaround(std::chrono::microseconds(60000));
  const auto sent = Clock::now();
  ASSERT_EQ(Exchange(kReadSetValue, 9).size(), 9u);
  EXPECT_GE(Clock::now() - sent, milliseconds(60));
}

TEST_F(Line, AnAddressChangeIsAnsweredFromTheOldAddressAndThenTakesEffect) {
  Serve();
  const Bytes moveTo7 = WithCrc({0x01, 0x10, 0x20, 0x11, 0x00, 0x02, 0x04, 0x00, 0x07, 0x00, 0x00});
  EXPECT_EQ(Exchange(moveTo7, 8), (Bytes{0x01, 0x10, 0x20, 0x11, 0x00, 0x02, 0x1A, 0x0D}));
  // Unit 1 is gone: its request goes unanswered, and the first reply is unit 7's.
  wire->Send(kReadSetValue);
  ASSERT_TRUE(line->WaitForRequests(2, kWait));
  EXPECT_EQ(Exchange(EncodeReadRequest(7, 0x0000, 2), 9), (Bytes{0x07, 0x03, 0x04, 0x00, 0x46, 0x00, 0x00, 0x7D, 0xE6}));
  EXPECT_EQ(line->Addresses(), (std::vector<std::uint8_t>{2, 7}));
  EXPECT_EQ(line->Unit(7).address, 7);
  EXPECT_EQ(line->Unit(1).address, 0);  // absent

  // Moving onto an address that is taken is refused; the unit stays where it is.
  EXPECT_EQ(Exchange(EncodeWriteRequest(7, 0x2011, std::vector<std::uint16_t>{2, 0}), 5), WithCrc({0x07, 0x90, 0x03}));
  EXPECT_EQ(line->Addresses(), (std::vector<std::uint8_t>{2, 7}));
}

TEST_F(Line, AMasterThatOpensAndClosesTheDeviceLeavesTheLineServing) {
  Serve();
  EXPECT_EQ(Exchange(kReadSetValue, 9), kSetValueReply);
  wire.reset();
  wire = std::make_unique<Wire>(line->DevicePath());
  EXPECT_EQ(Exchange(kReadSetValue, 9), kSetValueReply);
  // A newline byte goes through untouched: both ends are raw.
  EXPECT_EQ(Exchange(EncodeWriteRequest(1, 0x0000, std::vector<std::uint16_t>{0x0A0D, 0}), 8),
            EncodeWriteReply(1, 0x0000, 2));
  EXPECT_EQ(line->Unit(1).setValue, 0x0A0D);
}

TEST_F(Line, RealTimeClockRunsATwoHourProgramInSecondsAtHighSpeed) {
  Options options = Defaults();
  options.clock = Options::Clock::RealTime;
  options.speed = 7200;
  options.autoStart = true;
  Serve(options);
  line->EditUnit(1, [](UnitState& unit) {
    unit.steps[0] = {1, 60, 100};
    unit.steps[1] = {1, 60, 250};
    unit.steps[2] = {1, 0, 250};
  });
  EXPECT_EQ(Exchange(EncodeWriteRequest(1, 0x200D, std::vector<std::uint16_t>{2, 0}), 8), EncodeWriteReply(1, 0x200D, 2));
  // Poll the current step the way a monitor does, until the program has ended.
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  Bytes reply;
  do {
    reply = Exchange(EncodeReadRequest(1, 0x018F, 2), 9);
  } while (reply != WithCrc({0x01, 0x03, 0x04, 0x00, 0x03, 0x00, 0x00}) && Clock::now() < deadline);
  EXPECT_EQ(reply, WithCrc({0x01, 0x03, 0x04, 0x00, 0x03, 0x00, 0x00}));
  EXPECT_FALSE(line->Unit(1).running);
  EXPECT_EQ(line->Unit(1).profileSetPoint, 250);
}

}  // namespace
}  // namespace tarvel::sim
