#include "sim/simulated_line.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <thread>

#include "sim/controller.h"
#include "sim/pty_line.h"
#include "sim/rtu_codec.h"

namespace tarvel::sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::nanoseconds;

// The real-time clock moves the units this often while the line serves.
constexpr auto kTick = std::chrono::milliseconds(20);
// What a half-duplex slave's receive buffer holds; a longer burst is no frame anyway.
constexpr std::size_t kMaxFrame = 256;
constexpr std::uint8_t kStrayByte = 0x00;

// One character of 8N1 (start, 8 data, stop) on the wire.
nanoseconds CharTime(int baud) { return baud > 0 ? nanoseconds(10'000'000'000LL / baud) : nanoseconds(0); }

// Silence that ends a frame: 3.5 characters, fixed at 1.75 ms above 19200 baud as usual.
nanoseconds FrameSilence(int baud) {
  if (baud > 0 && baud <= 19200) return CharTime(baud) * 7 / 2;
  return std::chrono::microseconds(1750);
}

timespec ToTimespec(nanoseconds span) {
  const auto count = std::max<long long>(0, span.count());
  return timespec{static_cast<time_t>(count / 1'000'000'000), static_cast<long>(count % 1'000'000'000)};
}

std::uint8_t OtherAddress(std::uint8_t address) { return static_cast<std::uint8_t>(address % 247 + 1); }

// The length of a whole sound request at the start of `frame` when more bytes follow it; 0 when
// there is none, or when the whole of `frame` is one frame. A request's length follows from its
// function, so no prefix of one request passes for another.
std::size_t SoundRequestAhead(std::span<const std::uint8_t> frame) {
  if (frame.size() < 8 || DecodeRequest(frame).kind != DecodedFrame::Kind::Ignore) return 0;
  const std::size_t length = frame[1] == 0x10 ? 9u + frame[6] : 8u;
  if (length >= frame.size()) return 0;
  return DecodeRequest(frame.first(length)).kind == DecodedFrame::Kind::Request ? length : 0;
}

// A frame on its way out, one byte at a time at the baud rate.
struct Transmission {
  std::vector<std::uint8_t> bytes;
  Clock::time_point start;  // the first byte starts on the wire here
  std::size_t sent = 0;
  bool answer = true;  // the unit's own answer: it does not listen until this is out
  std::optional<std::pair<std::uint8_t, std::uint8_t>> addressChange;  // old, new
  std::optional<std::vector<std::uint8_t>> secondFrame;                // sent secondFrameDelay after this one
};

// The frame coming in, and when its bytes would have left a real wire.
struct Reception {
  bool receiving = false;
  std::vector<std::uint8_t> frame;
  Clock::time_point wireEnd;
};

// The value a write puts into reg, when the controller stores it under this model.
std::optional<std::uint16_t> WrittenValue(const Request& request, std::uint16_t reg, WriteModel model) {
  if (request.function != FunctionCode::WriteMultipleRegisters || reg < request.start) return std::nullopt;
  const std::size_t index = reg - request.start;
  const std::size_t stored = model == WriteModel::Both ? request.values.size() : 1;
  if (index >= stored || index >= request.values.size()) return std::nullopt;
  return request.values[index];
}

}  // namespace

struct SimulatedLine::Impl {
  explicit Impl(Options opts) : options(std::move(opts)), turnaround(options.turnaround) {
    std::sort(options.addresses.begin(), options.addresses.end());
    options.addresses.erase(std::unique(options.addresses.begin(), options.addresses.end()), options.addresses.end());
    for (std::uint8_t address : options.addresses) {
      if (address == 0 || address > 247) continue;  // 0 is broadcast: no unit lives there
      UnitState unit;
      unit.address = address;
      units.push_back(unit);
    }
    charTime = CharTime(options.baud);
    silence = FrameSilence(options.baud);
    random.seed(options.seed);
  }

  UnitState* Find(std::uint8_t address) {
    auto it = std::find_if(units.begin(), units.end(), [&](const UnitState& u) { return u.address == address; });
    return it == units.end() ? nullptr : &*it;
  }
  void SortUnits() {
    std::sort(units.begin(), units.end(), [](const UnitState& a, const UnitState& b) { return a.address < b.address; });
  }

  void Serve();
  Clock::time_point Deadline(const Reception& in);
  void Receive(int master, Reception& in);  // the bytes the master sent, taken in as frames
  void SendDueFrames();
  bool Answering() const {
    return std::any_of(outgoing.begin(), outgoing.end(), [](const Transmission& t) { return t.answer; });
  }
  std::optional<Transmission> HandleFrame(const std::vector<std::uint8_t>& frame, Clock::time_point frameEnd);
  std::optional<Fault> NextFault();  // under the lock
  bool SendDue(Transmission& tx, Clock::time_point now);
  void Echo(const std::uint8_t* bytes, std::size_t count);  // the adapter's echo, at once
  void FinishTransmission(const Transmission& tx);
  void Queue(Transmission tx);                  // in start order, never ahead of a frame already going out
  void AdvanceRealTime(Clock::time_point now);  // under the lock
  Clock::time_point DueTime(const Transmission& tx, std::size_t index) const {
    return tx.start + charTime * static_cast<long long>(index + 1);
  }

  Options options;
  nanoseconds charTime{};
  nanoseconds silence{};

  mutable std::mutex mutex;  // guards everything below except the descriptors and the thread
  mutable std::condition_variable requestArrived;
  std::vector<UnitState> units;  // ascending addresses
  std::vector<std::vector<std::uint8_t>> requests;
  std::deque<Fault> faults;
  std::mt19937 random;
  std::chrono::microseconds turnaround;
  Clock::time_point lastTick;
  std::map<std::uint8_t, std::vector<std::uint8_t>> lastReply;  // per unit: what a Stale fault repeats
  std::vector<std::pair<std::size_t, std::uint8_t>> stepEnds;   // request number, unit

  // Serving thread only.
  std::deque<Transmission> outgoing;
  std::optional<PseudoTerminal> pty;
  int wakeFd = -1;
  std::atomic<bool> stopping{false};
  std::thread server;
};

void SimulatedLine::Impl::AdvanceRealTime(Clock::time_point now) {
  if (options.clock != Options::Clock::RealTime) return;
  const double seconds = std::chrono::duration<double>(now - lastTick).count() * options.speed;
  lastTick = now;
  for (UnitState& unit : units) Advance(unit, seconds);
}

void SimulatedLine::Impl::Queue(Transmission tx) {
  auto at = outgoing.begin();
  if (at != outgoing.end() && at->sent > 0) ++at;  // a frame half out stays first
  while (at != outgoing.end() && at->start <= tx.start) ++at;
  outgoing.insert(at, std::move(tx));
}

// The next moment the serving thread must act without a byte coming: a frame's closing silence,
// the next byte out, the real-time clock's tick.
Clock::time_point SimulatedLine::Impl::Deadline(const Reception& in) {
  Clock::time_point deadline = Clock::time_point::max();
  if (in.receiving) deadline = std::min(deadline, in.wireEnd + silence);
  if (!outgoing.empty()) deadline = std::min(deadline, DueTime(outgoing.front(), outgoing.front().sent));
  if (options.clock == Options::Clock::RealTime) {
    std::lock_guard lock(mutex);
    deadline = std::min(deadline, lastTick + kTick);
  }
  return deadline;
}

void SimulatedLine::Impl::Receive(int master, Reception& in) {
  std::uint8_t buffer[512];
  const ssize_t got = ::read(master, buffer, sizeof buffer);
  const Clock::time_point arrival = Clock::now();
  if (got > 0 && options.echo) Echo(buffer, static_cast<std::size_t>(got));
  // Bytes after the silence that ended a frame begin the next one, however late this
  // thread woke: the frame before is taken in first. So do bytes after a whole sound
  // request: this thread reckons wire time from when it read the bytes, which a loaded
  // machine delays, while the master kept its silence by its own clock.
  if (in.receiving && got > 0 &&
      (arrival >= in.wireEnd + silence || DecodeRequest(in.frame).kind != DecodedFrame::Kind::Ignore)) {
    in.receiving = false;
    if (auto reply = HandleFrame(in.frame, in.wireEnd + silence)) Queue(std::move(*reply));
  }
  // A half-duplex slave does not listen while it answers (or waits to answer).
  if (got <= 0 || Answering()) return;
  if (!in.receiving) {
    in.receiving = true;
    in.frame.clear();
    in.wireEnd = arrival;
  }
  // The pseudo-terminal delivers at once; a real wire would still be carrying them.
  in.wireEnd = std::max(in.wireEnd, arrival) + charTime * got;
  const std::size_t room = kMaxFrame - std::min(kMaxFrame, in.frame.size());
  in.frame.insert(in.frame.end(), buffer, buffer + std::min<std::size_t>(room, static_cast<std::size_t>(got)));
  // Two requests in one read: this thread woke after both had come, as a loaded machine
  // makes it. By the rule above, what follows a whole sound request begins the next frame.
  while (in.receiving && !Answering()) {
    const std::size_t first = SoundRequestAhead(in.frame);
    if (first == 0) break;
    const std::vector<std::uint8_t> head(in.frame.begin(), in.frame.begin() + static_cast<std::ptrdiff_t>(first));
    in.frame.erase(in.frame.begin(), in.frame.begin() + static_cast<std::ptrdiff_t>(first));
    if (auto reply = HandleFrame(head, arrival + charTime * static_cast<long>(first) + silence))
      Queue(std::move(*reply));
  }
  if (Answering()) in.receiving = false;  // the rest came while it answers: a half-duplex slave never hears it
}

void SimulatedLine::Impl::SendDueFrames() {
  while (!outgoing.empty()) {
    Transmission& tx = outgoing.front();
    if (!SendDue(tx, Clock::now())) break;
    const Transmission done = std::move(tx);
    outgoing.pop_front();
    FinishTransmission(done);
    const Clock::time_point end = Clock::now();
    // A frame held back by this one goes out right after it: on a real bus the two would collide.
    if (!outgoing.empty() && outgoing.front().sent == 0 && outgoing.front().start < end) outgoing.front().start = end;
    if (done.secondFrame) {
      Transmission second;
      second.bytes = *done.secondFrame;
      second.start = end + options.secondFrameDelay;
      second.answer = false;
      Queue(std::move(second));
    }
  }
}

void SimulatedLine::Impl::Serve() {
  // Byte pacing and frame silences are a few milliseconds: ask for prompt wake-ups.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  const int master = pty->MasterFd();
  Reception in;
  while (!stopping.load()) {
    const Clock::time_point deadline = Deadline(in);
    timespec timeout{};
    const timespec* timeoutPtr = nullptr;
    if (deadline != Clock::time_point::max()) {
      timeout = ToTimespec(deadline - Clock::now());
      timeoutPtr = &timeout;
    }
    pollfd fds[2] = {{master, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (ppoll(fds, 2, timeoutPtr, nullptr) < 0 && errno != EINTR) break;
    if (stopping.load()) break;
    if (fds[0].revents & POLLIN) Receive(master, in);

    const Clock::time_point now = Clock::now();
    if (in.receiving && now >= in.wireEnd + silence) {
      in.receiving = false;
      if (auto reply = HandleFrame(in.frame, in.wireEnd + silence)) Queue(std::move(*reply));
    }
    SendDueFrames();
    if (options.clock == Options::Clock::RealTime) {
      std::lock_guard lock(mutex);
      if (now >= lastTick + kTick) AdvanceRealTime(now);
    }
  }
}

std::optional<Fault> SimulatedLine::Impl::NextFault() {
  if (!faults.empty()) {
    const Fault fault = faults.front();
    faults.pop_front();
    return fault;
  }
  if (options.faultRates.empty()) return std::nullopt;
  double draw = std::uniform_real_distribution<double>(0.0, 1.0)(random);
  for (const FaultRate& rate : options.faultRates) {
    if (draw < rate.rate) return rate.fault;
    draw -= rate.rate;
  }
  return std::nullopt;
}

std::optional<Transmission> SimulatedLine::Impl::HandleFrame(const std::vector<std::uint8_t>& frame,
                                                             Clock::time_point frameEnd) {
  std::lock_guard lock(mutex);
  requests.push_back(frame);
  requestArrived.notify_all();

  const DecodedFrame decoded = DecodeRequest(frame);
  if (decoded.kind == DecodedFrame::Kind::Ignore) return std::nullopt;
  UnitState* unit = Find(decoded.request.address);
  if (!unit) return std::nullopt;  // not on this line: someone else's frame
  AdvanceRealTime(Clock::now());
  for (auto it = stepEnds.begin(); it != stepEnds.end();) {
    if (it->first == requests.size() && it->second == unit->address) {
      EndCurrentStep(*unit);
      it = stepEnds.erase(it);
    } else {
      ++it;
    }
  }

  const std::optional<Fault> fault = NextFault();
  if (fault == Fault::NoReply) return std::nullopt;

  const auto function = static_cast<std::uint8_t>(decoded.request.function);
  const WriteModel model = unit->writeModel.value_or(options.writeModel);
  const auto newAddress = WrittenValue(decoded.request, reg::kUnitAddress, model);
  Handled handled;
  if (fault == Fault::Exception) {
    handled.reply = EncodeExceptionReply(unit->address, function, ExceptionCode::SlaveDeviceFailure);
  } else if (decoded.kind == DecodedFrame::Kind::Exception) {
    handled.reply = EncodeExceptionReply(unit->address, function, decoded.exception);
  } else if (decoded.request.function == FunctionCode::ReadHoldingRegisters &&
             decoded.request.quantity > options.maxRead) {
    handled.reply = EncodeExceptionReply(unit->address, function, ExceptionCode::IllegalDataValue);
  } else if (decoded.kind == DecodedFrame::Kind::Request && newAddress && *newAddress != unit->address &&
             *newAddress <= 0xFF && Find(static_cast<std::uint8_t>(*newAddress))) {
    // Two units on one address would garble every reply; the simulator refuses the change.
    handled.reply = EncodeExceptionReply(unit->address, function, ExceptionCode::IllegalDataValue);
  } else {
    handled = HandleRequest(*unit, decoded.request, options.autoStart, model);
  }

  Transmission out;
  out.bytes = std::move(handled.reply);
  const std::vector<std::uint8_t> before = lastReply.contains(unit->address) ? lastReply[unit->address] : out.bytes;
  lastReply[unit->address] = out.bytes;
  if (handled.newAddress) out.addressChange = std::make_pair(unit->address, *handled.newAddress);
  if (fault == Fault::BadCrc) {
    out.bytes.back() ^= 0xFF;
  } else if (fault == Fault::WrongAddress) {
    out.bytes[0] = OtherAddress(out.bytes[0]);
    out.bytes.resize(out.bytes.size() - 2);
    AppendCrc(out.bytes);
  } else if (fault == Fault::StrayByte) {
    out.bytes.insert(out.bytes.begin(), kStrayByte);
  } else if (fault == Fault::Duplicate) {
    out.secondFrame = out.bytes;
  } else if (fault == Fault::Stale) {
    out.secondFrame = before;
  }
  const auto delay = fault == Fault::LateReply ? std::chrono::duration_cast<nanoseconds>(options.lateReplyDelay)
                                               : std::chrono::duration_cast<nanoseconds>(turnaround);
  out.start = frameEnd + delay;
  return out;
}

// Writes every byte whose time has come; true when the whole reply is out.
bool SimulatedLine::Impl::SendDue(Transmission& tx, Clock::time_point now) {
  std::size_t due = tx.sent;
  while (due < tx.bytes.size() && DueTime(tx, due) <= now) ++due;
  while (tx.sent < due) {
    const ssize_t written = ::write(pty->MasterFd(), tx.bytes.data() + tx.sent, due - tx.sent);
    if (written < 0) {
      if (errno == EINTR) continue;
      tx.sent = tx.bytes.size();  // nobody drains the line: the reply is lost, as on a real wire
      break;
    }
    tx.sent += static_cast<std::size_t>(written);
  }
  return tx.sent >= tx.bytes.size();
}

void SimulatedLine::Impl::Echo(const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t done = 0; done < count;) {
    const ssize_t written = ::write(pty->MasterFd(), bytes + done, count - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // nobody drains the line: the echo is lost
    done += static_cast<std::size_t>(written);
  }
}

void SimulatedLine::Impl::FinishTransmission(const Transmission& tx) {
  if (!tx.addressChange) return;
  std::lock_guard lock(mutex);
  const auto [from, to] = *tx.addressChange;
  UnitState* unit = Find(from);
  if (unit && !Find(to)) {
    unit->address = to;
    SortUnits();
  }
}

SimulatedLine::SimulatedLine(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

SimulatedLine::~SimulatedLine() { Stop(); }

Result<std::string> SimulatedLine::Start() {
  if (impl_->server.joinable()) return Status::Failed("the simulated line is already serving");
  auto pty = PseudoTerminal::Open();
  if (!pty) return pty.status();
  impl_->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl_->wakeFd < 0) return Status::Failed("cannot create the simulator's wake-up event");
  impl_->pty.emplace(std::move(pty).value());
  {
    std::lock_guard lock(impl_->mutex);
    impl_->lastTick = Clock::now();
  }
  impl_->stopping = false;
  impl_->server = std::thread([this] { impl_->Serve(); });
  return impl_->pty->SlavePath();
}

void SimulatedLine::Stop() {
  if (impl_->server.joinable()) {
    impl_->stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(impl_->wakeFd, &one, sizeof one);
    impl_->server.join();
  }
  if (impl_->wakeFd >= 0) ::close(impl_->wakeFd);
  impl_->wakeFd = -1;
  impl_->pty.reset();
}

std::string SimulatedLine::DevicePath() const { return impl_->pty ? impl_->pty->SlavePath() : std::string(); }

bool SimulatedLine::HasUnit(std::uint8_t address) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->Find(address) != nullptr;
}

std::vector<std::uint8_t> SimulatedLine::Addresses() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<std::uint8_t> addresses;
  for (const UnitState& unit : impl_->units) addresses.push_back(unit.address);
  return addresses;
}

UnitState SimulatedLine::Unit(std::uint8_t address) const {
  std::lock_guard lock(impl_->mutex);
  if (const UnitState* unit = impl_->Find(address)) return *unit;
  UnitState missing;
  missing.address = 0;
  return missing;
}

void SimulatedLine::EditUnit(std::uint8_t address, const std::function<void(UnitState&)>& edit) {
  std::lock_guard lock(impl_->mutex);
  if (UnitState* unit = impl_->Find(address)) {
    edit(*unit);
    impl_->SortUnits();
  }
}

std::map<std::uint16_t, std::uint16_t> SimulatedLine::Registers(std::uint8_t address) const {
  std::lock_guard lock(impl_->mutex);
  if (const UnitState* unit = impl_->Find(address)) return sim::Registers(*unit);
  return {};
}

void SimulatedLine::EndStepAtRequest(std::uint8_t address, std::size_t request) {
  std::lock_guard lock(impl_->mutex);
  impl_->stepEnds.emplace_back(request, address);
}

void SimulatedLine::FrontPanelStart(std::uint8_t address) {
  std::lock_guard lock(impl_->mutex);
  if (UnitState* unit = impl_->Find(address)) sim::FrontPanelStart(*unit);
}

void SimulatedLine::AdvanceTime(std::chrono::duration<double> simulated) {
  std::lock_guard lock(impl_->mutex);
  for (UnitState& unit : impl_->units) Advance(unit, simulated.count());
}

std::vector<std::vector<std::uint8_t>> SimulatedLine::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

void SimulatedLine::ClearRequests() {
  std::lock_guard lock(impl_->mutex);
  impl_->requests.clear();
  impl_->stepEnds.clear();  // counted from the requests just forgotten
}

bool SimulatedLine::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->requestArrived.wait_for(lock, timeout, [&] { return impl_->requests.size() >= count; });
}

void SimulatedLine::InjectFault(Fault fault, int count) {
  std::lock_guard lock(impl_->mutex);
  for (int i = 0; i < count; ++i) impl_->faults.push_back(fault);
}

void SimulatedLine::SetTurnaround(std::chrono::microseconds turnaround) {
  std::lock_guard lock(impl_->mutex);
  impl_->turnaround = turnaround;
}

}  // namespace tarvel::sim
