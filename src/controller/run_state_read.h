#pragma once
// controller: the run-state reading of one controller -- taken as one value (five to eight
// exchanges), one exchange at a time where the caller wants to let a command in between.
// No view, no store. Depends on link.

#include <cstdint>
#include <span>
#include <vector>

#include "link/capabilities.h"
#include "link/commands.h"

namespace tarvel::controller {

// One reading of a controller's run state, each field with its exchange's outcome.
struct RunStateReading {
  link::Reply<std::uint8_t> programLowStep, programHighStep, currentStep, runMode;
  link::Reply<std::uint16_t> stepTime;
  link::Reply<std::int16_t> profileSetPoint, processValue, singleSetPoint;
  link::Reply<link::RelayStates> relays;

  bool complete() const;  // every exchange succeeded
  // A complete reading of a program that runs (run mode 1..4): where Restart resumes. A paused
  // or idle controller's reading never replaces the last one taken before the pause.
  bool RestartPoint() const { return complete() && runMode.value >= 1 && runMode.value <= 4; }
  link::Outcome outcome() const;  // the first failure, or Ok
  // The set point in force: the single set point in mode 0, else the program's.
  const link::Reply<std::int16_t>& setPoint() const {
    return runMode.ok() && runMode.value == 0 ? singleSetPoint : profileSetPoint;
  }
};

// The reads of a reading one exchange at a time, in the order the controller is asked, so
// that the line watch can let a user command in between two of them. Neighbouring registers
// come in one read: the program limits as a pair (eight reads); where the controller answers
// it, the run mode with the limits in one block (seven reads). A block covers only registers
// the map describes: the step and its time, the process value and the program's set point lie
// apart, with undescribed registers between. While that block is untried and blocks are
// allowed, the reading asks for it in place of the run mode's pair once the limits are
// answered: refused (an exception, a reply of the wrong length) or unanswered, it is never
// asked again, and the reading goes on in pairs.
class RunStateRead {
 public:
  explicit RunStateRead(std::uint8_t address, link::FrameUse frames = {{}, false});

  bool Done() const { return next_ == plan_.size(); }
  // The next read (one exchange) and its outcome; NotSent once Done. A block that fails while
  // the reading can go on in pairs gives Ok: what it teaches is learnt, it fails nothing.
  link::Outcome Next(link::CommandSet& commands);
  // The reads not made yet are given up as NotSent: a controller that did not answer is not
  // asked seven more times.
  void GiveUp();
  std::uint8_t Address() const { return address_; }
  const RunStateReading& Reading() const { return reading_; }
  // With what the reading learnt of the controller's frames, for the caller to keep.
  const link::FrameUse& Frames() const { return frames_; }
  // The exchanges of a whole reading with these frames.
  static int Exchanges(const link::FrameUse& frames);

  struct PlannedRead {
    std::uint16_t reg;
    int count;
  };

 private:
  void Take(const PlannedRead& read, const link::Reply<std::vector<std::uint16_t>>& reply, link::CommandSet& commands);
  void InPairs();  // the rest of this reading two registers at a time

  std::uint8_t address_;
  link::FrameUse frames_;
  bool probe_ = false;  // the second read tries the block
  std::span<const PlannedRead> plan_;
  std::size_t next_ = 0;
  unsigned filled_ = 0;  // the fields a read has given, one bit each
  RunStateReading reading_;
};

// The reads in the order the controller is asked; no view, no store. frames gets what the
// reading learnt.
RunStateReading ReadRunStateOf(link::CommandSet& commands, std::uint8_t address, link::FrameUse& frames);

}  // namespace tarvel::controller
