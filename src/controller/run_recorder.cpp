#include "controller/run_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "profile/log_file.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "util/text.h"

namespace tarvel::controller {
namespace {

namespace fs = std::filesystem;

int Held(int value) { return std::clamp(value, -9999, 99999); }

std::string ErrnoText() { return std::strerror(errno); }

// Whole writes: a signal or a short write does not lose the rest of the record.
bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string FormatLogRecord(const RunPoint& point) {
  char record[64];
  const int sp = Held(point.setPoint), pv = Held(point.processValue);
  // Two decimals while they fit in 9 characters, whole numbers beyond.
  if (std::abs(point.time) < 999999.995)
    std::snprintf(record, sizeof record, "%9.2f%5d%5d\r\n", point.time, sp, pv);
  else
    std::snprintf(record, sizeof record, "%9.0f%5d%5d\r\n", std::clamp(point.time, -99999999.0, 999999999.0), sp, pv);
  return record;
}

std::string RunLogFileName(std::string_view profileName, std::chrono::system_clock::time_point start) {
  std::string stem(profileName);
  if (stem.size() > 4 && stem.ends_with(".txt")) stem.resize(stem.size() - 4);
  for (char& c : stem)
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '_';
  if (stem.empty() || stem == "." || stem == "..") stem = "No profile";
  std::time_t seconds = std::chrono::system_clock::to_time_t(start);
  std::tm local{};
  localtime_r(&seconds, &local);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H-%M-%S", &local);
  return stem + " " + when + ".log";
}

double ProgramTime(const std::vector<store::MemoryRow>& memory, int lowStep, int currentStep, double stepTime) {
  double time = stepTime;
  for (const store::MemoryRow& row : memory) {
    if (row.segment >= lowStep && row.segment < currentStep && row.duration > 0) time += row.duration;
    // The controller runs the jump's copy, whose step time starts at the jump point.
    if (row.segment == currentStep && row.modified == 1 && row.jumpTime > 0) time += row.jumpTime;
  }
  return time;
}

double ReadingProgramTime(const std::vector<store::MemoryRow>& memory, int lowStep, int highStep, int currentStep,
                          double stepTime, std::optional<std::pair<int, double>> previous) {
  const double time = ProgramTime(memory, lowStep, currentStep, stepTime);
  if (!previous || currentStep < previous->first || time >= previous->second) return time;
  for (const store::MemoryRow& row : memory)
    if (row.segment > currentStep && row.segment <= highStep && row.duration >= 0)
      return ProgramTime(memory, lowStep, row.segment, stepTime);
  return time;
}

double ToProfileTime(double controllerTime, int runMode, char timeScale) {
  const bool seconds = runMode == 1 || runMode == 3 || (runMode == 0 && timeScale == 'S');
  const double inSeconds = seconds ? controllerTime : controllerTime * 60;
  switch (timeScale) {
    case 'S': return inSeconds;
    case 'H': return inSeconds / 3600;
    default: return inSeconds / 60;
  }
}

// --- RunRecording

Result<std::unique_ptr<RunRecording>> RunRecording::Open(const AppFolder& folder, int channel,
                                                         std::string_view profileName,
                                                         std::chrono::system_clock::time_point start) {
  const fs::path dir = folder.ChannelLogFolder(channel);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return Status::Failed("Cannot create " + dir.string() + ": " + ec.message());
  std::string name = RunLogFileName(profileName, start);
  // Two runs started within the same second get their own files.
  for (int n = 2; n < 100; ++n) {
    fs::path file = dir / name;
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) return std::unique_ptr<RunRecording>(new RunRecording(fd, file));
    if (errno != EEXIST) return Status::Failed("Cannot create " + file.string() + ": " + ErrnoText());
    name = RunLogFileName(profileName, start);
    name.insert(name.size() - 4, " (" + std::to_string(n) + ")");
  }
  return Status::Failed("Cannot create a log file in " + dir.string());
}

RunRecording::~RunRecording() { ::close(fd_); }

Status RunRecording::Append(const RunPoint& point) {
  const std::string record = FormatLogRecord(point);
  const off_t before = static_cast<off_t>(records_ * profile::kLogRecordSize);
  // A crash after this returns loses nothing written so far: the record is on its way to disk.
  if (!WriteAll(fd_, record) || ::fdatasync(fd_) != 0) {
    const std::string why = ErrnoText();
    if (::ftruncate(fd_, before) != 0) {
      // The file may now end in a partial record; the reader ignores it, the next ones would not line up.
      return Status::Failed("Cannot write " + file_.string() + ": " + why + "; the file is left as it stands");
    }
    return Status::Failed("Cannot write " + file_.string() + ": " + why);
  }
  ++records_;
  return Status::Ok();
}

// --- RunRecorder

RunTrace RunRecorder::TraceOf(int channel, std::uint8_t address) {
  RunTrace trace;
  trace.channel = channel;
  auto config = session_.store.ControllerConfig(address);
  if (config.ok() && config->has_value()) trace.profileName = (*config)->profileNameExecuting;
  if (trace_ && trace_->channel == channel && trace_->profileName == trace.profileName) return *trace_;
  if (trace.profileName.empty()) return trace;
  // The profile file, when it is in Profiles/, draws the design behind the trend and says its unit.
  const fs::path file = session_.folder.Profiles() / FileNameFromPath(trace.profileName);
  if (auto text = profile::LoadProfileFile(file); text.ok()) {
    trace.profileFile = file;
    trace.timeScale = profile::TimeScaleField(text.value());
    trace.temperatureScale = profile::TemperatureScaleField(text.value()) == 'F' ? 'F' : 'C';
  } else if (auto entry = session_.store.LogEntry(address, trace.profileName); entry.ok() && entry->has_value()) {
    if (!(*entry)->timeScaleType.empty()) trace.timeScale = (*entry)->timeScaleType.front();
    if (!(*entry)->temperatureScaleType.empty()) trace.temperatureScale = (*entry)->temperatureScaleType.front();
  }
  if (trace.timeScale != 'S' && trace.timeScale != 'H') trace.timeScale = 'M';
  return trace;
}

void RunRecorder::OnReading(int channel, std::uint8_t address, const RunStateReading& reading, bool monitoring) {
  RunTrace trace = TraceOf(channel, address);
  const auto now = clock_();
  if (!trace_ || !(*trace_ == trace)) {
    trace_ = trace;
    traceStart_ = now;
    lastStepAndTime_.reset();
    lastPoint_.reset();
    jumps_.clear();
    recording_.reset();
  }

  RunPoint point;
  point.setPoint = reading.setPoint().value;
  point.processValue = reading.processValue.value;
  const bool held = reading.runMode.value == 0;
  point.breakBefore = breakNext_ || !lastPoint_ || held != lastHeld_;
  breakNext_ = false;
  lastHeld_ = held;
  if (trace.profileName.empty()) {
    point.time = std::chrono::duration<double>(now - traceStart_).count() / 60;
  } else {
    auto memory = session_.store.Memory(address).value_or({});
    // A jump since the last reading (a restart is one): the step time read belongs to the copy
    // it left, not to a step the program moved on into.
    std::vector<std::pair<int, int>> jumps;
    for (const store::MemoryRow& row : memory)
      if (row.modified == 1) jumps.emplace_back(row.segment, row.jumpTime);
    if (jumps != jumps_) {
      jumps_ = std::move(jumps);
      lastStepAndTime_.reset();
      point.breakBefore = true;
    }
    const double controllerTime =
        ReadingProgramTime(memory, reading.programLowStep.value, reading.programHighStep.value,
                           reading.currentStep.value, reading.stepTime.value, lastStepAndTime_);
    lastStepAndTime_ = {reading.currentStep.value, controllerTime};
    point.time = ToProfileTime(controllerTime, reading.runMode.value, trace.timeScale);
  }
  if (lastPoint_ && point.time < lastPoint_->time) point.breakBefore = true;  // a new start, a jump back
  lastPoint_ = point;

  if (monitoring) {
    if (!recording_) {
      auto opened = RunRecording::Open(session_.folder, channel, trace.profileName, now);
      if (opened.ok()) {
        recording_ = std::move(opened).value();
        std::error_code ec;
        Tell({RecordingEvent::Kind::Opened, fs::relative(recording_->File(), session_.folder.Root(), ec), {}});
      } else {
        Tell({RecordingEvent::Kind::OpenFailed, {}, opened.status().message()});
      }
    }
    if (recording_) {
      if (Status written = recording_->Append(point); !written.ok())
        Tell({RecordingEvent::Kind::AppendFailed, recording_->File(), written.message()});
    }
  }
  if (listener_) listener_(trace, point);
}

}  // namespace tarvel::controller
