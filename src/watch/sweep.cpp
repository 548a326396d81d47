#include "watch/sweep.h"

namespace tarvel::watch {

using link::Outcome;

Sweep::Sweep(controller::Session& session, ChannelList channels, Clock clock)
    : session_(session), channels_(std::move(channels)), clock_(std::move(clock)) {}

void Sweep::Begin(SteadyClock::time_point now) {
  inProgress_ = true;
  started_ = true;
  sweepStart_ = now;
  nextStart_ = now + period_;
  index_ = 0;
  read_.reset();
  list_.clear();
  // Address 0 is broadcast and nothing above 247 can answer: such rows are never read.
  for (WatchedChannel& c : channels_())
    if (c.address >= 1 && c.address <= 247) list_.push_back(std::move(c));
}

SweepStep Sweep::EndSweep(SweepStep step, SteadyClock::time_point now) {
  inProgress_ = false;
  read_.reset();
  lastDuration_ = now - sweepStart_;
  saturated_ = lastDuration_ > period_;
  if (saturated_) nextStart_ = now;  // the next sweep starts at once, not a period later
  ++completed_;
  step.sweepEnded = true;
  step.again = true;
  return step;
}

SweepStep Sweep::Next() {
  SteadyClock::time_point now = clock_();
  if (!inProgress_) {
    if (started_ && now < nextStart_) {
      SweepStep idle;
      idle.wait = nextStart_ - now;
      return idle;
    }
    Begin(now);
  }
  SweepStep step;
  if (index_ >= list_.size()) return EndSweep(std::move(step), now);

  const WatchedChannel& channel = list_[index_];
  const auto address = static_cast<std::uint8_t>(channel.address);
  if (!read_) read_.emplace(address, session_.FramesFor(address));
  const Outcome outcome = read_->Next(session_.commands);
  step.exchanged = step.again = true;
  // A controller that does not answer is not asked seven more times: a dead unit would
  // otherwise cost the sweep eight reply windows.
  if (outcome == Outcome::NoReply) read_->GiveUp();
  if (read_->Done()) {
    step.learnt = session_.KeepLearnt(address, read_->Frames());
    step.reading = read_->Reading();
    step.of = channel;
    read_.reset();
    ++index_;
    if (index_ >= list_.size()) return EndSweep(std::move(step), clock_());
  }
  return step;
}

void Sweep::RestartReading() {
  if (read_) read_.emplace(read_->Address(), read_->Frames());
}

void Sweep::StartOver() {
  inProgress_ = false;
  read_.reset();
  nextStart_ = clock_();
}

}  // namespace tarvel::watch
