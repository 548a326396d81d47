#include "controller/run_state_read.h"

namespace tarvel::controller {

using link::Outcome;
using link::Worst;

Outcome RunStateReading::outcome() const {
  Outcome all = Outcome::Ok;
  for (Outcome o :
       {programLowStep.outcome, programHighStep.outcome, currentStep.outcome, runMode.outcome, stepTime.outcome,
        profileSetPoint.outcome, processValue.outcome, singleSetPoint.outcome, relays.outcome})
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
constexpr PlannedRead kProbeReads[] = {
    {reg::kProgramLowStep, 2},  {reg::kRunMode, reg::kProgramHighStep - reg::kRunMode + 1},
    {reg::kCurrentStep, 2},     {reg::kStepTime, 2},
    {reg::kProfileSetPoint, 2}, {reg::kProcessValue, 2},
    {reg::kSetValue, 2},        {reg::kRelayStates, 2}};
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

}  // namespace tarvel::controller
