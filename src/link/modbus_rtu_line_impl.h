#pragma once
// link: the inside of ModbusRtuLine, shared by its two files: the port's opening, closing and
// settings (modbus_rtu_line.cpp), and the exchange of a request and the matching of its reply
// on the wire (modbus_rtu_exchange.cpp). For those two only.

#include <modbus/modbus.h>
#include <sys/stat.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "link/modbus_rtu_line.h"
#include "link/port_hold.h"
#include "link/reply_frames.h"

namespace tarvel::link {

// The one speed the controllers speak.
inline constexpr int kBaud = 9600;

struct ModbusRtuLine::Impl {
  using Clock = std::chrono::steady_clock;

  struct Heard {
    Clock::time_point at;
    Frame bytes;
  };
  // One try of a request: what was heard in answer.
  struct Answer {
    Outcome outcome = Outcome::NoReply;
    Frame reply;
    bool doubtful = false;    // the reply may be a copy: ask again
    std::vector<Frame> ours;  // every frame of the reply's shape heard
  };
  enum class Echoing { Unknown, Yes, No };

  mutable std::mutex mutex;
  modbus_t* ctx = nullptr;
  int fd = -1;
  std::string device;
  struct stat node {};
  PortHold hold;
  LineTiming timing;
  bool heardLate = false;  // see HeardLateReply
  bool portLost = false;
  LineCounts counts;
  std::deque<Heard> heard;             // frames heard within the duplicate horizon, oldest first
  Clock::time_point lastByte{};        // when the line last carried a byte we heard
  Clock::time_point sentEnd{};         // when our last request left the wire, at the latest
  Clock::time_point quietUntil{};      // handed over by another process: heard out until then
  Clock::time_point repeatingUntil{};  // a copy was heard lately: see Repeating
  Echoing echoing = Echoing::Unknown;

  // A line that repeats frames may hold several copies of one frame at once: there a reply
  // like a frame heard shortly before is taken only once no twin of it has come for a horizon,
  // never because it came again. Elsewhere the same reply again is the unit saying it again.
  bool Repeating() const;
  void CopyHeard();
  void CloseLocked();

  void Record(Clock::time_point at, const Frame& frame);
  bool HeardBefore(const Frame& frame) const;

  // Reads what came; false (and the port lost) when the port failed.
  bool Take(FrameCutter& cutter);
  // Keeps the sound frames the cutter holds, all but the request's echo. Heard again with no
  // request to answer, a frame is a copy.
  void KeepFrames(FrameCutter& cutter, const Frame& request, bool lastCall);

  // Hears the line out until it has been quiet for longer than a reply window and, when
  // given, the horizon has passed, so that no late byte is read as the next reply. The frames
  // heard are kept: a copy of one is known for what it is. True when something came.
  bool DrainUntilQuiet(const Frame& request, Clock::time_point horizon = {});

  // Before a request: what came since the last exchange is heard and kept, and the line
  // keeps 3.5 characters of silence after the last byte. Something unfinished on the line
  // would run into the reply: it is heard out first. False when the port failed.
  bool ClearTheLine(const Frame& request);

  bool Send(const Frame& request);

  // Listens for the reply to request, sent at `sent`. before: the frames of the reply's shape
  // heard in the tries before this one; one of them heard again is the unit saying it again.
  Answer Listen(const Frame& request, Clock::time_point sent, const std::vector<Frame>& before);

  // On a line that repeats frames, after a doubtful reply: hears the line out until no frame of
  // the reply's shape heard before has come for a horizon, so that the reply to the request sent
  // again is one not heard before. A reply not heard before that comes meanwhile answers the
  // request already.
  Answer WaitOutTwins(const Frame& request);

  // One request (address first, no CRC) and its reply, checked against the request.
  Outcome Exchange(const std::uint8_t* bytes, int length, Frame& reply);
};

}  // namespace tarvel::link
