#pragma once
// sim: a line of simulated controllers served on a pseudo-terminal, for demos without
// hardware and for tests that drive the real serial path. Has its own RTU codec and its
// own register map so that it and the master side check each other. Depends on util only.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "util/result.h"

namespace tarvel::sim {

struct ProgramStep {
  std::int16_t pidSet = 0;       // word 1
  std::int16_t duration = 0;     // word 2: time, or -n jump to step n, or an event code
  std::int16_t temperature = 0;  // word 3
};

// What the controller does with the second register of a function 16 write to R. Both: it
// stores R + 1 as well, as the register map describes ("a write to register R also writes
// to R + 1"), and refuses the whole write when either value is refused. First: it keeps
// the first register only and ignores the rest.
enum class WriteModel { Both, First };

// Everything one simulated controller holds. Plain data: tests read and edit it through
// SimulatedLine::Unit / EditUnit.
struct UnitState {
  std::uint8_t address = 1;
  std::int16_t setValue = 70;           // SV, register 0x0000
  double processTemperature = 70.0;     // the process; register 0x0164 reads it rounded
  std::int16_t profileSetPoint = 70;    // register 0x0168
  std::uint8_t currentStep = 1;         // register 0x018F
  double stepElapsed = 0;               // in the step's time unit; register 0x0191 reads it whole
  std::uint8_t relay1 = 0, relay2 = 0;  // event outputs J1 / J2, register 0x01D8
  bool heaterOn = false;
  std::uint8_t alarm1Type = 1, alarm2Type = 2;
  std::uint8_t inputType = 0;  // sensor menu Index (0 = K)
  std::uint8_t runMode = 0;    // 0 SV, 1 S-SV, 2 M-SV, 3 S-PV, 4 M-PV
  std::uint8_t programLowStep = 1, programHighStep = 64;
  std::uint8_t temperatureScale = 1;  // 1 Fahrenheit, 0 Celsius
  bool running = false;               // a ramp/soak program is executing
  bool held = false;        // a started program stopped by run mode 0; a ramp/soak mode resumes it where it stood
  bool ended = false;       // the program has ended; the profile set point holds where it stopped
  bool startArmed = false;  // the start code was entered in mode 0: the next ramp/soak mode starts the program
  bool autoTune = false;    // coil 1
  std::array<ProgramStep, 64> steps{};
  // Words the controller keeps just after a register of the map that is written, where the
  // map itself has none: a write stores its second register there (WriteModel::Both) and a
  // two-register read returns them as its second register. They cannot be addressed first.
  std::map<std::uint16_t, std::uint16_t> spareWords{{0x0001, 0}, {0x1001, 0}, {0x1003, 0}, {0x2012, 0}, {0x40C0, 0}};
  // A controller of another model than the line's Options::writeModel (one swapped in); none: the line's.
  std::optional<WriteModel> writeModel;
};

enum class Fault {
  NoReply,       // the request is swallowed
  BadCrc,        // the reply's CRC is wrong
  LateReply,     // a correct reply, sent after the master's reply window
  WrongAddress,  // a correct frame from another address
  Exception,     // a Modbus exception reply (code 4, slave device failure)
  StrayByte,     // one stray byte on the line before a correct reply
  Duplicate,     // a correct reply, and the same frame again a little later (Options::secondFrameDelay)
  Stale,         // a correct reply, and a little later the reply this unit gave the request before
};

// A fault drawn at random for each request addressed to a unit: rate 0..1.
struct FaultRate {
  Fault fault = Fault::NoReply;
  double rate = 0;
};

struct Options {
  std::vector<std::uint8_t> addresses{1};  // 1..247; 0, higher addresses and repeats are left out
  // Simulated seconds per real second while the line serves in real time.
  double speed = 1.0;
  // Manual: time moves only through AdvanceTime (deterministic tests). RealTime: a clock
  // on the serving thread moves every unit by real elapsed time x speed.
  enum class Clock { RealTime, Manual } clock = Clock::RealTime;
  // Time between the end of a request (after its 3.5-character silence) and the first reply byte.
  std::chrono::microseconds turnaround{10000};
  // Reply bytes are paced at this rate and requests are taken in as a wire this fast would
  // carry them. 0: unpaced, as a virtual null-modem pair, a buffering USB adapter or a serial
  // server delivers them: replies come as fast as the pseudo-terminal carries them.
  int baud = 9600;
  // Every byte the master sends comes back to it at once, before any reply: a two-wire adapter
  // without echo suppression hears its own request.
  bool echo = false;
  bool autoStart = false;                         // writing a ramp/soak run mode also presses start (demos)
  std::chrono::milliseconds lateReplyDelay{300};  // how late a LateReply fault answers (after the request)
  // How long after a reply the second frame of a Duplicate or Stale fault follows it. The
  // second frame is another sender's on the line (a repeater, a relay): it goes out when its
  // time comes, after the next request too, and the unit keeps listening meanwhile (or not,
  // while it waits to answer). Only a frame already going out holds it back: two frames never
  // interleave. A fault rate of Duplicate 1 makes a line that repeats every reply.
  std::chrono::milliseconds secondFrameDelay{20};
  WriteModel writeModel = WriteModel::Both;
  // The most registers one read may ask for: 2 answers only reads of two registers; a read of
  // more is refused with exception 03 (illegal data value: a quantity this controller does not
  // read), as a controller that knows only reads of two registers answers. Up to 125.
  int maxRead = 2;
  std::vector<FaultRate> faultRates;  // drawn per request when no injected fault is waiting
  unsigned seed = 1;                  // of the fault draws: a campaign can be repeated
};

class SimulatedLine {
 public:
  explicit SimulatedLine(Options options);
  ~SimulatedLine();  // stops serving and closes the pseudo-terminal
  SimulatedLine(const SimulatedLine&) = delete;
  SimulatedLine& operator=(const SimulatedLine&) = delete;

  // Opens the pseudo-terminal (raw mode) and serves on a thread of its own.
  // The value is the device path a master opens (/dev/pts/N).
  Result<std::string> Start();
  void Stop();
  std::string DevicePath() const;

  bool HasUnit(std::uint8_t address) const;
  std::vector<std::uint8_t> Addresses() const;  // in ascending order
  UnitState Unit(std::uint8_t address) const;   // a copy, taken under the lock; address 0 when absent
  // Every register the unit keeps (not the readings that follow its program): register -> value.
  std::map<std::uint16_t, std::uint16_t> Registers(std::uint8_t address) const;
  void EditUnit(std::uint8_t address, const std::function<void(UnitState&)>& edit);
  // The operator's front-panel start (code 5172): runs the program from the low step when
  // a ramp/soak mode is set. In mode 0 it arms the start: the next ramp/soak mode written
  // starts the program (the console has the code entered first, then writes the mode).
  void FrontPanelStart(std::uint8_t address);
  // Moves every unit by this much simulated time (both clocks).
  void AdvanceTime(std::chrono::duration<double> simulated);
  // The step the unit executes ends just before it handles the request-th frame counted
  // since the last ClearRequests (1 = the first): a race with the end of a step, on cue.
  void EndStepAtRequest(std::uint8_t address, std::size_t request);

  // Every request frame received, CRC included, in order of arrival.
  std::vector<std::vector<std::uint8_t>> Requests() const;
  void ClearRequests();  // also drops step ends not yet due (EndStepAtRequest)
  // Blocks until at least count frames have been received since the last ClearRequests.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

  // The next `count` requests addressed to a unit of this line get the fault.
  void InjectFault(Fault fault, int count = 1);
  void SetTurnaround(std::chrono::microseconds turnaround);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvel::sim
