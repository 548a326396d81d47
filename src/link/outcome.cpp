#include "link/outcome.h"

namespace tarvel::link {

std::string_view Describe(Outcome outcome) {
  switch (outcome) {
    case Outcome::Ok: return "ok";
    case Outcome::NotSent: return "not sent";
    case Outcome::PortClosed: return "port not open";
    case Outcome::NoReply: return "no reply";
    case Outcome::Incomplete: return "incomplete reply";
    case Outcome::BadCrc: return "bad CRC";
    case Outcome::WrongAddress: return "reply from another address";
    case Outcome::WrongFunction: return "reply with another function";
    case Outcome::BadLength: return "reply of the wrong length";
    case Outcome::BadEcho: return "write not echoed";
    case Outcome::Ambiguous: return "replies that cannot be told apart";
    case Outcome::Exception: return "exception reply";
    case Outcome::PortError: return "port error";
    case Outcome::Cancelled: return "cancelled";
  }
  return "unknown outcome";
}

}  // namespace tarvel::link
