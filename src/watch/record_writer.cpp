#include "watch/record_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "util/file_problem.h"

namespace tarvel::watch {
namespace {

namespace fs = std::filesystem;

// Lines written between two syncs at most, and the record's time they may span: a lost power
// takes no more than a minute of a load, and what is kept to write again after a failed sync
// stays small.
constexpr std::size_t kSyncEvery = 256;
constexpr std::chrono::seconds kSyncAfter{60};
// While writing fails, it is tried again after this pause, not at every line.
constexpr std::chrono::seconds kRetryPause{30};

class PosixRecordFile final : public RecordFile {
 public:
  PosixRecordFile(int fd, fs::path path) : fd_(fd), path_(std::move(path)) {}
  ~PosixRecordFile() override { ::close(fd_); }
  Status Append(std::string_view bytes) override {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Problem("write");
      done += static_cast<std::size_t>(n);
    }
    return Status::Ok();
  }
  Status Sync() override { return ::fdatasync(fd_) == 0 ? Status::Ok() : Problem("write"); }
  Status Truncate(std::uint64_t size) override {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? Status::Ok() : Problem("cut back");
  }

 private:
  Status Problem(std::string_view doing) const {
    return FileProblem(doing, path_, std::error_code(errno ? errno : EIO, std::generic_category()));
  }
  int fd_;
  fs::path path_;
};

}  // namespace

Result<std::unique_ptr<RecordFile>> OpenRecordFile(const fs::path& file, bool create) {
  std::error_code ec;
  if (create) fs::create_directories(file.parent_path(), ec);
  if (ec) return FileProblem("create", file.parent_path(), ec);
  const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0);
  const int fd = ::open(file.c_str(), flags, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return Status::Error(Status::Code::Duplicate, file.string() + " exists");
    return FileProblem(create ? "create" : "open", file, std::error_code(errno, std::generic_category()));
  }
  if (create) {
    // The new name reaches the disk with the folder.
    const int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      (void)::fsync(dir);
      ::close(dir);
    }
  }
  return std::unique_ptr<RecordFile>(std::make_unique<PosixRecordFile>(fd, file));
}

// --- the writer

Result<std::unique_ptr<RecordWriter>> RecordWriter::Create(const fs::path& file, const RecordOpener& open) {
  auto opened = open(file, true);
  if (!opened.ok()) return opened.status();
  std::unique_ptr<RecordWriter> writer(new RecordWriter(std::move(opened).value(), file));
  writer->head_ = writer->syncedHead_ = Sha256Hex(kRecordGenesis);
  return writer;
}

Result<std::unique_ptr<RecordWriter>> RecordWriter::Continue(const fs::path& file, const RecordOpener& open,
                                                             std::size_t* cutBytes) {
  auto text = ReadRecordText(file);
  if (!text.ok()) return text.status();
  auto opened = open(file, false);
  if (!opened.ok()) return opened.status();
  std::unique_ptr<RecordWriter> writer(new RecordWriter(std::move(opened).value(), file));
  const std::string_view bytes = text.value();
  const std::size_t whole = bytes.rfind('\n') == std::string_view::npos ? 0 : bytes.rfind('\n') + 1;
  if (cutBytes) *cutBytes = bytes.size() - whole;
  if (whole < bytes.size()) {
    if (Status cut = writer->file_->Truncate(whole); !cut.ok()) return cut;
  }
  writer->head_ = Sha256Hex(kRecordGenesis);
  for (std::size_t at = 0; at < whole;) {
    const std::size_t end = bytes.find('\n', at);
    writer->head_ = Sha256Hex(bytes.substr(at, end - at));
    ++writer->lines_;
    at = end + 1;
  }
  writer->content_.Add(bytes.substr(0, whole));
  writer->size_ = writer->syncedSize_ = whole;
  writer->syncedLines_ = writer->lines_;
  writer->syncedHead_ = writer->head_;
  writer->syncedContent_ = writer->content_;
  return writer;
}

void RecordWriter::Say(const std::string& text) const {
  if (message_) message_(text);
}

std::string RecordWriter::Framed(const Line& line, std::string& head, Sha256& content) const {
  std::string text = "{\"prev\":\"" + head + "\"," + line.body.substr(1);
  if (line.seal) text.insert(text.size() - 1, ",\"final\":\"" + content.Hex() + "\"");
  head = Sha256Hex(text);
  text += '\n';
  content.Add(text);
  return text;
}

bool RecordWriter::Write(const std::vector<Line>& lines, bool sync, std::vector<Line>& takenBack) {
  if (cutPending_) {
    if (Status cut = file_->Truncate(size_); !cut.ok()) {
      if (failure_.ok()) failure_ = cut;
      return false;
    }
    cutPending_ = false;
  }
  std::string head = head_, bytes;
  Sha256 content = content_;
  for (const Line& line : lines) bytes += Framed(line, head, content);
  if (Status written = file_->Append(bytes); !written.ok()) {
    if (failure_.ok()) failure_ = written;
    cutPending_ = !file_->Truncate(size_).ok();
    return false;
  }
  size_ += bytes.size();
  lines_ += static_cast<long long>(lines.size());
  head_ = head;
  content_ = content;
  unsynced_.insert(unsynced_.end(), lines.begin(), lines.end());
  if (!sync && unsynced_.size() < kSyncEvery && unsynced_.back().at - unsynced_.front().at < kSyncAfter) return true;
  if (Status synced = file_->Sync(); !synced.ok()) {
    // What the disk holds of the lines since the last good sync is not known: they are cut off
    // and written again.
    if (failure_.ok()) failure_ = synced;
    cutPending_ = !file_->Truncate(syncedSize_).ok();
    size_ = syncedSize_;
    lines_ = syncedLines_;
    head_ = syncedHead_;
    content_ = syncedContent_;
    const std::size_t earlier = unsynced_.size() - lines.size();
    for (std::size_t i = 0; i < earlier; ++i)
      if (!unsynced_[i].notice) takenBack.push_back(unsynced_[i]);
    unsynced_.clear();
    return false;
  }
  syncedSize_ = size_;
  syncedLines_ = lines_;
  syncedHead_ = head_;
  syncedContent_ = content_;
  unsynced_.clear();
  return true;
}

void RecordWriter::Flush(SystemClock::time_point at, bool sync) {
  const bool recovering = !failure_.ok();
  if (recovering && at - lastTry_ < kRetryPause) return;
  lastTry_ = at;
  std::vector<Line> batch;
  if (recovering) {
    LoadEvent notice(at, event::kNotWritten);
    notice.from = held_.front().at;
    notice.to = at;
    notice.what = failure_.message() + "; " + std::to_string(held_.size()) + " lines kept and written after this one";
    batch.push_back({EventLine(notice), at, false, true});
  }
  batch.insert(batch.end(), held_.begin(), held_.end());
  std::vector<Line> takenBack;
  const bool firstFailure = failure_.ok();
  if (Write(batch, sync || recovering, takenBack)) {
    if (recovering)
      Say("Load record " + path_.string() + " is written again: " + std::to_string(held_.size()) + " lines kept from " +
          UtcTime(held_.front().at) + " to " + UtcTime(at) + " are in it now");
    held_.clear();
    failure_ = Status::Ok();
    return;
  }
  held_.insert(held_.begin(), takenBack.begin(), takenBack.end());
  if (firstFailure) Say(failure_.message() + "; the load's lines are kept and written as soon as writing works again");
}

void RecordWriter::Add(std::string body, SystemClock::time_point at, bool sync, bool seal) {
  held_.push_back({std::move(body), at, seal, false});
  Flush(at, sync);
}

void RecordWriter::Retry(SystemClock::time_point now) {
  if (Holding()) Flush(now, true);
}

}  // namespace tarvel::watch
