#include "console/monitor.h"

#include <utility>

namespace tarvel::console {

using link::Outcome;
using link::Worst;

Outcome RunStateReading::outcome() const {
  Outcome all = Outcome::Ok;
  for (Outcome o : {programLowStep.outcome, programHighStep.outcome, currentStep.outcome, runMode.outcome,
                    stepTime.outcome, profileSetPoint.outcome, processValue.outcome, singleSetPoint.outcome,
                    relays.outcome})
    all = Worst(all, o);
  return all;
}

bool RunStateReading::complete() const { return outcome() == Outcome::Ok; }

namespace {

namespace reg = link::reg;
using PlannedRead = RunStateRead::PlannedRead;

// Two registers per read, the program limits taken as one pair.
constexpr PlannedRead kPairReads[] = {{reg::kProgramLowStep, 2}, {reg::kCurrentStep, 2},     {reg::kRunMode, 2},
                                      {reg::kStepTime, 2},       {reg::kProfileSetPoint, 2}, {reg::kProcessValue, 2},
                                      {reg::kSetValue, 2},       {reg::kRelayStates, 2}};
// The run mode and the program limits, neighbours in the map, in one block; the rest in pairs.
constexpr PlannedRead kModeBlockReads[] = {{reg::kRunMode, reg::kProgramHighStep - reg::kRunMode + 1},
                                           {reg::kCurrentStep, 2},
                                           {reg::kStepTime, 2},
                                           {reg::kProfileSetPoint, 2},
                                           {reg::kProcessValue, 2},
                                           {reg::kSetValue, 2},
                                           {reg::kRelayStates, 2}};
// While the block is untried: the limits first, then the block in place of the run mode's pair.
// A unit that is not there costs one window, and silence to the block after an answered pair
// means the unit does not read blocks.
constexpr PlannedRead kProbeReads[] = {{reg::kProgramLowStep, 2},
                                       {reg::kRunMode, reg::kProgramHighStep - reg::kRunMode + 1},
                                       {reg::kCurrentStep, 2},
                                       {reg::kStepTime, 2},
                                       {reg::kProfileSetPoint, 2},
                                       {reg::kProcessValue, 2},
                                       {reg::kSetValue, 2},
                                       {reg::kRelayStates, 2}};
constexpr int kFields = 9;

std::span<const PlannedRead> PlanFor(const link::FrameUse& frames) {
  if (frames.ModeBlock()) return kModeBlockReads;
  if (frames.ProbeModeBlock()) return kProbeReads;
  return kPairReads;
}

}  // namespace

RunStateRead::RunStateRead(std::uint8_t address, link::FrameUse frames)
    : address_(address), frames_(frames), probe_(frames.ProbeModeBlock()), plan_(PlanFor(frames)) {}

int RunStateRead::Exchanges(const link::FrameUse& frames) { return static_cast<int>(PlanFor(frames).size()); }

void RunStateRead::InPairs() {
  // The limits are in from the first read; the pair plan goes on after it, the run mode's pair included.
  plan_ = kPairReads;
  next_ = 1;
  probe_ = false;
}

Outcome RunStateRead::Next(link::CommandSet& commands) {
  if (next_ >= plan_.size()) return Outcome::NotSent;
  const bool probing = probe_ && next_ == 1;
  const PlannedRead& read = plan_[next_++];
  auto reply = commands.ReadBlock(address_, read.reg, read.count);
  if (probing) {
    probe_ = false;
    const Outcome outcome = reply.outcome;
    if (reply.ok()) {
      frames_.known.modeBlock = link::Known::Yes;
    } else if (outcome != Outcome::PortError && outcome != Outcome::PortClosed && outcome != Outcome::Cancelled) {
      // Refused, or unanswered by a unit that answered the read before: it does not read this
      // block, for good. Another fault of the line teaches nothing. This reading goes on in pairs.
      if (outcome == Outcome::Exception || outcome == Outcome::BadLength || outcome == Outcome::NoReply)
        frames_.known.modeBlock = link::Known::No;
      InPairs();
      return Outcome::Ok;
    }
  } else if (read.count > 2 && (reply.outcome == Outcome::Exception || reply.outcome == Outcome::BadLength)) {
    // A block known to be answered is refused: refused for good, and this reading goes on in
    // pairs, the limits with it.
    frames_.known.modeBlock = link::Known::No;
    plan_ = kPairReads;
    next_ = 0;
    return Outcome::Ok;
  } else if (probe_ && !reply.ok()) {
    InPairs();  // no answer to the limits: nothing to learn from the block's silence
  }
  Take(read, reply, commands);
  return reply.outcome;
}

void RunStateRead::Take(const PlannedRead& read, const link::Reply<std::vector<std::uint16_t>>& reply,
                        link::CommandSet& commands) {
  auto within = [&](std::uint16_t r) { return r >= read.reg && r < read.reg + read.count; };
  int field = 0;
  // Each field from the first read that covers its register.
  auto fill = [&](auto& reading, std::uint16_t r, auto convert) {
    const unsigned bit = 1u << field++;
    if ((filled_ & bit) || !within(r)) return;
    filled_ |= bit;
    reading.outcome = reply.outcome;
    if (reply.ok()) reading.value = convert(reply.value[static_cast<std::size_t>(r - read.reg)]);
  };
  RunStateReading& r = reading_;
  fill(r.programLowStep, reg::kProgramLowStep, link::ByteOf);
  fill(r.programHighStep, reg::kProgramHighStep, link::ByteOf);
  fill(r.currentStep, reg::kCurrentStep, link::ByteOf);
  fill(r.runMode, reg::kRunMode, link::ByteOf);
  fill(r.stepTime, reg::kStepTime, link::StepTimeOf);
  fill(r.profileSetPoint, reg::kProfileSetPoint, link::DecodeSigned);
  fill(r.processValue, reg::kProcessValue, link::DecodeSigned);
  fill(r.singleSetPoint, reg::kSetValue, link::DecodeSigned);
  fill(r.relays, reg::kRelayStates, link::RelaysOf);
  if (reply.ok() && within(reg::kProcessValue)) commands.KeepProcessValue(address_, r.processValue.value);
}

void RunStateRead::GiveUp() {
  RunStateReading& r = reading_;
  Outcome* fields[kFields] = {&r.programLowStep.outcome, &r.programHighStep.outcome, &r.currentStep.outcome,
                              &r.runMode.outcome,        &r.stepTime.outcome,        &r.profileSetPoint.outcome,
                              &r.processValue.outcome,   &r.singleSetPoint.outcome,  &r.relays.outcome};
  for (int field = 0; field < kFields; ++field)
    if (!(filled_ & (1u << field))) *fields[field] = Outcome::NotSent;
  probe_ = false;
  next_ = plan_.size();
}

RunStateReading ReadRunStateOf(link::CommandSet& commands, std::uint8_t address, link::FrameUse& frames) {
  RunStateRead read(address, frames);
  while (!read.Done()) read.Next(commands);
  frames = read.Frames();
  return read.Reading();
}

RunStateReading Monitor::ReadRunState() {
  auto address = selection_.CurrentAddress();
  if (!address) return {};
  context_.ClearDisplay();
  link::FrameUse frames = context_.FramesFor(*address);
  Exchanges exchanges(context_, RunStateRead::Exchanges(frames));
  context_.view.SetLed(Led::Busy);
  const RunStateReading reading = ReadRunStateOf(context_.commands, *address, frames);
  context_.Learnt(*address, frames);
  Take(*address, reading);
  return reading;
}

bool Monitor::ShowReading(int channel, std::uint8_t address, const RunStateReading& reading) {
  if (selection_.CurrentChannelText() != Text(channel)) return false;
  if (!monitoring_) {
    // The Run State frame and the trend follow the sweep all the same; the message area, the
    // link indicator and the stored run state are left to monitoring and to the watch.
    Show(reading, address);
    if (listener_) listener_(address, reading);
    return false;
  }
  // As a monitor tick: the last command's outcome stays above the reading's lines.
  BackgroundLines tick(context_.messages);
  context_.ClearDisplay();
  Take(address, reading);
  return true;
}

void Monitor::Take(std::uint8_t address, const RunStateReading& reading) {
  Show(reading, address);
  // A reading with a failed exchange is no restart point, nor is one of a paused or idle
  // controller: the stored run state stays the last one of the running program.
  storeFailed_ = false;
  if (reading.RestartPoint()) {
    const Status saved =
        context_.store.SaveRunState(address, reading.runMode.value, reading.currentStep.value, reading.stepTime.value);
    if (!saved) {
      storeFailed_ = true;
      ++storeFailures_;
      context_.Display("ERROR: The run state could not be stored: " + saved.message());
    }
  }
  if (reading.complete()) {
    log_.ShowExecutingProfile(address);
  }
  if (listener_) listener_(address, reading);
  context_.FinishExchanges(reading.outcome(), kCommsError);
  if (storeFailed_) context_.view.SetLed(Led::Error);
}

void Monitor::Show(const RunStateReading& r, std::uint8_t address) {
  if (r.programLowStep.ok()) context_.programLowStep = r.programLowStep.value;
  if (r.programHighStep.ok()) context_.programHighStep = r.programHighStep.value;
  context_.ShowField(Field::ProgramStepLow, Shown(r.programLowStep));
  context_.ShowField(Field::ProgramStepHigh, Shown(r.programHighStep));
  context_.ShowField(Field::CurrentStep, Shown(r.currentStep));
  if (r.programLowStep.ok() && r.programHighStep.ok())
    memory_.HighlightProgramRange(context_.programLowStep, context_.programHighStep - context_.programLowStep + 1);
  if (r.runMode.ok()) SetSelectedRunMode(r.runMode.value);
  context_.ShowField(Field::CurrentTime, Shown(r.stepTime));
  context_.ShowField(Field::ProfileSetPoint, Shown(r.profileSetPoint));
  // The value of the reading, which is the table's entry when this console read it, and the
  // line watch's value when the watch did.
  if (address <= link::kProcessValueTableSize)
    context_.ShowField(Field::ProcessTemperature, r.processValue.ok() ? Text(r.processValue.value) : std::string());
  context_.ShowField(Field::SingleSetPoint, Shown(r.singleSetPoint));
  context_.ShowField(Field::Relay1, r.relays.ok() ? (r.relays.value.relay1 == 1 ? "on" : "off") : "");
  context_.ShowField(Field::Relay2, r.relays.ok() ? (r.relays.value.relay2 == 1 ? "on" : "off") : "");
  context_.ShowField(Field::SetPoint,
                     context_.selectedRunMode == 0 ? Shown(r.singleSetPoint) : Shown(r.profileSetPoint));
  if (context_.selectedRunMode != 0 && r.currentStep.ok()) memory_.HighlightCurrentStep(r.currentStep.value);
}

void Monitor::ReadControllerRunMode() {
  auto address = selection_.CurrentAddress();
  if (!address) return;
  context_.ClearDisplay();
  Exchanges exchanges(context_, 1);
  context_.view.SetLed(Led::Busy);
  auto mode = context_.commands.ReadRunMode(*address);
  if (mode.ok()) SetSelectedRunMode(mode.value);
  context_.FinishExchanges(mode.outcome, kCommsError);
}

void Monitor::SetSelectedRunMode(int code) {
  context_.selectedRunMode = code;
  context_.view.SetProgramMode(code >= 0 && code <= 4 ? code : -1);
}

void Monitor::SetMonitoring(bool on) {
  monitoring_ = on;
  context_.view.SetMonitoring(on);
  if (on)
    ReadRunState();
  else
    memory_.HighlightProgramRange(context_.programLowStep, context_.programHighStep - context_.programLowStep + 1);
}

}  // namespace tarvel::console
