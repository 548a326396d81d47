#pragma once
// link: the outcome of one exchange with a controller. Nothing is thrown across the link;
// every operation returns its outcome, readers together with their value.

#include <cstdint>
#include <string_view>

namespace tarvel::link {

enum class Outcome : std::uint8_t {
  Ok,
  NotSent,     // refused before anything went on the wire (address 0 or > 247, bad step/word, value out of range)
  PortClosed,  // no open port
  NoReply,     // nothing arrived within the reply window
  Incomplete,  // a reply started but did not complete within the window
  BadCrc,
  WrongAddress,  // a well-formed reply from another unit
  WrongFunction,
  BadLength,  // byte count or length does not fit the request
  BadEcho,    // a write's echo does not repeat the request
  Ambiguous,  // replies that may be copies of earlier frames, asked for again and still not told apart
  Exception,  // the controller answered with a Modbus exception
  PortError,  // the port failed while sending or receiving
  Cancelled,  // the user cancelled the command before this exchange: nothing was sent
};

// A short English text for messages and logs: "no reply", "bad CRC", ...
std::string_view Describe(Outcome outcome);

template <class T>
struct Reply {
  Outcome outcome = Outcome::NoReply;
  T value{};
  bool ok() const { return outcome == Outcome::Ok; }
};

// Several exchanges: the first failure wins, so a workflow reports a failure when ANY failed.
inline Outcome Worst(Outcome sofar, Outcome next) { return sofar == Outcome::Ok ? next : sofar; }

}  // namespace tarvel::link
