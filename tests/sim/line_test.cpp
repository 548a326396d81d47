// The simulated line on a pseudo-terminal, driven from the master's side with raw reads
// and writes: what only a raw view shows. The exact reply bytes, silence where a real
// slave keeps silent, framing by silence, pacing and the half-duplex rule. How the
// libmodbus master fares with each fault is in link/faults_test.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "sim/rtu_codec.h"
#include "sim/simulated_line.h"
#include "wire.h"

namespace tarvel::sim {
namespace {

using testing::Bytes;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

Bytes WithCrc(Bytes frame) {
  AppendCrc(frame);
  return frame;
}

const Bytes kReadSetValue{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B};
const Bytes kSetValueReply{0x01, 0x03, 0x04, 0x00, 0x46, 0x00, 0x00, 0x1B, 0xE6};  // 70
const Bytes kReadUnit2 = EncodeReadRequest(2, 0x0000, 2);
const Bytes kUnit2Reply = WithCrc({0x02, 0x03, 0x04, 0x00, 0x46, 0x00, 0x00});

class Line : public ::testing::Test {
 protected:
  void Serve(int baud = 9600, std::chrono::microseconds turnaround = std::chrono::microseconds(1000), bool echo = false,
             int maxRead = 2) {
    Options options;
    options.addresses = {2, 0, 1, 2};
    options.clock = Options::Clock::Manual;
    options.baud = baud;
    options.turnaround = turnaround;
    options.echo = echo;
    options.maxRead = maxRead;
    line = std::make_unique<SimulatedLine>(options);
    auto path = line->Start();
    ASSERT_TRUE(path) << path.status().message();
    wire = std::make_unique<testing::Wire>(path.value());
  }
  Bytes Exchange(const Bytes& request, std::size_t replySize) {
    wire->Send(request);
    return wire->Receive(replySize);
  }
  // Sends a frame and waits until the line has taken it in; a reply, if any, is left unread.
  void SendFrame(const Bytes& frame) {
    const std::size_t seen = line->Requests().size();
    wire->Send(frame);
    ASSERT_TRUE(line->WaitForRequests(seen + 1, milliseconds(5000)));
  }

  std::unique_ptr<SimulatedLine> line;
  std::unique_ptr<testing::Wire> wire;
};

TEST_F(Line, AnswersReadWriteCoilAndRefusedFramesWithTheExactBytes) {
  Serve();
  EXPECT_EQ(line->Addresses(), (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(Exchange(kReadSetValue, 9), kSetValueReply);
  const Bytes writeSetValue{0x01, 0x10, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0xC8, 0x00, 0x00, 0x72, 0x51};
  EXPECT_EQ(Exchange(writeSetValue, 8), (Bytes{0x01, 0x10, 0x00, 0x00, 0x00, 0x02, 0x41, 0xC8}));
  EXPECT_EQ(Exchange(kReadSetValue, 9), WithCrc({0x01, 0x03, 0x04, 0x00, 0xC8, 0x00, 0x00}));
  const Bytes autoTuneOn{0x01, 0x05, 0x00, 0x01, 0xFF, 0x00, 0xDD, 0xFA};
  EXPECT_EQ(Exchange(autoTuneOn, 8), autoTuneOn);
  EXPECT_TRUE(line->Unit(1).autoTune);
  EXPECT_FALSE(line->Unit(2).autoTune);
  EXPECT_EQ(line->Requests(), (std::vector<Bytes>{kReadSetValue, writeSetValue, kReadSetValue, autoTuneOn}));
  // A read of register R also returns R + 1: here the run mode 0 and the low step 1.
  EXPECT_EQ(Exchange(EncodeReadRequest(2, 0x200D, 2), 9), WithCrc({0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x01}));

  // Exceptions: 01 for a function it lacks, 02 for a register it lacks, 03 for a malformed
  // request (quantity 0, a byte count or a length that does not fit the function).
  EXPECT_EQ(Exchange(WithCrc({0x01, 0x06, 0x00, 0x00, 0x00, 0x01}), 5), WithCrc({0x01, 0x86, 0x01}));
  EXPECT_EQ(Exchange(EncodeReadRequest(1, 0x0001, 2), 5), (Bytes{0x01, 0x83, 0x02, 0xC0, 0xF1}));
  EXPECT_EQ(Exchange(EncodeCoilRequest(2, 0x0002, true), 5), WithCrc({0x02, 0x85, 0x02}));
  EXPECT_EQ(Exchange(EncodeReadRequest(1, 0, 0), 5), WithCrc({0x01, 0x83, 0x03}));
  EXPECT_EQ(Exchange(WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00}), 5), WithCrc({0x01, 0x83, 0x03}));
  EXPECT_EQ(Exchange(WithCrc({0x01, 0x10, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x01}), 5), WithCrc({0x01, 0x90, 0x03}));
  EXPECT_EQ(Exchange(WithCrc({0x01, 0x10, 0x00, 0x00}), 5), WithCrc({0x01, 0x90, 0x03}));
}

TEST_F(Line, KeepsSilentForOtherAddressesBadChecksumsAndNoiseAndEachFaultSpoilsOneReply) {
  Serve();
  Bytes corrupt = kReadSetValue;
  corrupt[3] ^= 0x01;
  // FF FF is the CRC of no bytes: a two-byte "frame" must still not pass.
  for (const Bytes& frame : {EncodeReadRequest(9, 0x0000, 2), corrupt, Bytes{0x55}, Bytes{0xFF, 0xFF}})
    SendFrame(frame);
  // The first bytes that come back belong to the one request a unit could answer.
  EXPECT_EQ(Exchange(kReadUnit2, 9), kUnit2Reply);

  Bytes badCrc = kSetValueReply;
  badCrc.back() ^= 0xFF;
  Bytes stray{0x00};
  stray.insert(stray.end(), kSetValueReply.begin(), kSetValueReply.end());
  const Bytes exception{0x01, 0x83, 0x04, 0x40, 0xF3};
  for (const auto& [fault, reply] : {std::pair{Fault::BadCrc, badCrc},
                                     {Fault::WrongAddress, WithCrc({0x02, 0x03, 0x04, 0x00, 0x46, 0x00, 0x00})},
                                     {Fault::Exception, exception},
                                     {Fault::StrayByte, stray}}) {
    line->InjectFault(fault);
    EXPECT_EQ(Exchange(kReadSetValue, reply.size()), reply) << static_cast<int>(fault);
  }
  // A lost write never happens; two faults in a row; a request to an absent unit uses none.
  line->InjectFault(Fault::NoReply);
  SendFrame(EncodeWriteRequest(1, 0x0000, std::vector<std::uint16_t>{5, 0}));
  line->InjectFault(Fault::Exception, 2);
  SendFrame(EncodeReadRequest(9, 0x0000, 2));
  EXPECT_EQ(Exchange(kReadSetValue, 5), exception);
  EXPECT_EQ(Exchange(kReadSetValue, 5), exception);
  EXPECT_EQ(Exchange(kReadSetValue, 9), kSetValueReply);
}

TEST_F(Line, ASecondFrameFollowsTheReplyWhileTheUnitKeepsListening) {
  Serve();
  const Bytes readUnit1Pv = EncodeReadRequest(1, 0x0164, 2);
  const Bytes pvReply = WithCrc({0x01, 0x03, 0x04, 0x00, 0x46, 0x00, 0x00});
  // Duplicate: the reply, then the same frame again some 20 ms after it.
  line->InjectFault(Fault::Duplicate);
  EXPECT_EQ(Exchange(kReadSetValue, 9), kSetValueReply);
  const auto replied = Clock::now();
  EXPECT_EQ(wire->Receive(9), kSetValueReply);
  EXPECT_GE(Clock::now() - replied, milliseconds(15));
  // Stale: the reply, then the reply to the request before. Meanwhile the unit answers the
  // next request: the two frames leave one after the other, never interleaved.
  line->InjectFault(Fault::Stale);
  EXPECT_EQ(Exchange(readUnit1Pv, 9), pvReply);
  wire->Send(kReadSetValue);
  EXPECT_EQ(wire->Receive(18), [&] {
    Bytes both = kSetValueReply;  // the stale frame (the previous reply) and the reply come in either order
    both.insert(both.end(), kSetValueReply.begin(), kSetValueReply.end());
    return both;
  }());
  EXPECT_EQ(line->Requests(), (std::vector<Bytes>{kReadSetValue, readUnit1Pv, kReadSetValue}));
}

TEST_F(Line, IgnoresWhatArrivesWhileItIsStillAnswering) {
  Serve();  // late replies come 300 ms after the request
  line->InjectFault(Fault::LateReply);
  const auto sent = Clock::now();
  SendFrame(kReadSetValue);
  wire->Send(EncodeWriteRequest(1, 0x0000, std::vector<std::uint16_t>{123, 0}));
  EXPECT_EQ(wire->Receive(9), kSetValueReply);
  EXPECT_GE(Clock::now() - sent, milliseconds(300));
  EXPECT_EQ(Exchange(kReadSetValue, 9), kSetValueReply);  // the write was never taken in
  EXPECT_EQ(line->Requests(), (std::vector<Bytes>{kReadSetValue, kReadSetValue}));
}

TEST_F(Line, FramesByTheSilenceBetweenThemNotByTheWritesThatCarryThem) {
  Serve(1200);  // 8.3 ms characters: a generous window for the two halves to join
  const Bytes head(kReadSetValue.begin(), kReadSetValue.begin() + 3),
      tail(kReadSetValue.begin() + 3, kReadSetValue.end());
  wire->Send(head);
  wire->Send(tail);
  EXPECT_EQ(wire->Receive(9), kSetValueReply);
  // The same halves with a silence between them are two broken frames: no reply to either.
  SendFrame(head);
  SendFrame(tail);
  EXPECT_EQ(Exchange(kReadUnit2, 9), kUnit2Reply);
  // Two whole requests taken in by one read (its thread woke late) are two frames: the first,
  // to an address nobody has, gets no reply, the second its own.
  const Bytes absent = EncodeReadRequest(5, 0x0000, 2);
  Bytes both = absent;
  both.insert(both.end(), kReadSetValue.begin(), kReadSetValue.end());
  EXPECT_EQ(Exchange(both, 9), kSetValueReply);
  EXPECT_EQ(line->Requests(), (std::vector<Bytes>{kReadSetValue, head, tail, kReadUnit2, absent, kReadSetValue}));
}

TEST_F(Line, RepliesNeverArriveFasterThanTheWireWouldCarryThem) {
  Serve(9600, std::chrono::microseconds(10000));
  const double charMs = 10.0 / 9600 * 1000;
  auto sent = Clock::now();
  ASSERT_EQ(Exchange(EncodeWriteRequest(1, 0x4000, std::vector<std::uint16_t>{3, 0}), 8).size(), 8u);
  // Request and reply bytes, the silence that ends the request, the turnaround.
  const double elapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
  EXPECT_GE(elapsedMs, (13 + 8 + 3.5) * charMs + 10.0);
  line->SetTurnaround(std::chrono::microseconds(60000));  // applies to the next exchange
  sent = Clock::now();
  ASSERT_EQ(Exchange(kReadSetValue, 9).size(), 9u);
  EXPECT_GE(Clock::now() - sent, milliseconds(60));
}

// Unpaced, a reply comes as fast as the pseudo-terminal carries it: a read of 125 registers,
// 255 bytes that take 266 ms on a 9600 baud wire, comes whole far sooner. Echoing, every
// request comes back before its reply, also one no unit answers.
TEST_F(Line, UnpacedRepliesComeAtOnceAndAnEchoingLineHandsBackEachRequest) {
  Serve(0, std::chrono::microseconds(0), true, 125);
  const Bytes readAll = EncodeReadRequest(1, 0x4000, 125);
  const auto sent = Clock::now();
  const Bytes heard = Exchange(readAll, 8 + 255);
  EXPECT_LT(Clock::now() - sent, milliseconds(200));
  ASSERT_EQ(heard.size(), 8u + 255u);
  EXPECT_EQ(Bytes(heard.begin(), heard.begin() + 8), readAll);
  EXPECT_EQ(Bytes(heard.begin() + 8, heard.begin() + 11), (Bytes{0x01, 0x03, 250}));
  SendFrame(kReadUnit2);
  EXPECT_EQ(wire->Receive(8 + 9), [] {
    Bytes both = kReadUnit2;
    both.insert(both.end(), kUnit2Reply.begin(), kUnit2Reply.end());
    return both;
  }());
  const Bytes nobody = EncodeReadRequest(9, 0x0000, 2);
  EXPECT_EQ(Exchange(nobody, 8), nobody);
}

TEST_F(Line, AnAddressChangeIsAnsweredFromTheOldAddressAndThenTakesEffect) {
  Serve();
  const Bytes moveTo7 = WithCrc({0x01, 0x10, 0x20, 0x11, 0x00, 0x02, 0x04, 0x00, 0x07, 0x00, 0x00});
  EXPECT_EQ(Exchange(moveTo7, 8), (Bytes{0x01, 0x10, 0x20, 0x11, 0x00, 0x02, 0x1A, 0x0D}));
  SendFrame(kReadSetValue);  // unit 1 is gone
  EXPECT_EQ(Exchange(EncodeReadRequest(7, 0x0000, 2), 9),
            (Bytes{0x07, 0x03, 0x04, 0x00, 0x46, 0x00, 0x00, 0x7D, 0xE6}));
  EXPECT_EQ(line->Addresses(), (std::vector<std::uint8_t>{2, 7}));
  // Moving onto an address that is taken is refused; the unit stays where it is. A scale
  // write carries the address as its second register: another unit's address is refused too.
  EXPECT_EQ(Exchange(EncodeWriteRequest(7, 0x2011, std::vector<std::uint16_t>{2, 0}), 5), WithCrc({0x07, 0x90, 0x03}));
  EXPECT_EQ(Exchange(EncodeWriteRequest(7, 0x2010, std::vector<std::uint16_t>{0, 2}), 5), WithCrc({0x07, 0x90, 0x03}));
  EXPECT_EQ(line->Addresses(), (std::vector<std::uint8_t>{2, 7}));
  EXPECT_EQ(line->Unit(7).temperatureScale, 1);
}

}  // namespace
}  // namespace tarvel::sim
