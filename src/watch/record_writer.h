#pragma once
// watch: writing a load record. Lines go to the end of the file whole (O_APPEND), each framed
// with the hash of the line before it; events and the close reach the disk before the call
// returns. Lines that cannot be written (a full disk, a read-only file system) are kept in
// memory and written once writing works again, after an event that says from when to when it
// failed: no line is lost while the process runs. Qt-free; depends on util.

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.h"
#include "watch/load_record.h"

namespace tarvel::watch {

// The file under a record: appends go to its end, whole or reported as failed. Tests put failures
// in here.
class RecordFile {
 public:
  virtual ~RecordFile() = default;
  [[nodiscard]] virtual Status Append(std::string_view bytes) = 0;
  [[nodiscard]] virtual Status Sync() = 0;
  [[nodiscard]] virtual Status Truncate(std::uint64_t size) = 0;
};
// create: a new file, refused (Code::Duplicate) when it exists; else an existing one.
using RecordOpener = std::function<Result<std::unique_ptr<RecordFile>>(const std::filesystem::path&, bool create)>;
Result<std::unique_ptr<RecordFile>> OpenRecordFile(const std::filesystem::path& file, bool create);

class RecordWriter {
 public:
  // A new record; fails when the file exists or cannot be made.
  static Result<std::unique_ptr<RecordWriter>> Create(const std::filesystem::path& file, const RecordOpener& open);
  // An existing record, continued after its last whole line. A part line left by a crash is cut
  // off (its length in cutBytes).
  static Result<std::unique_ptr<RecordWriter>> Continue(const std::filesystem::path& file, const RecordOpener& open,
                                                        std::size_t* cutBytes = nullptr);

  // One line body (from the functions above). It reaches the file now, or is kept, with every
  // line after it, until writing works again; then a "could not write" event from the time of
  // the first kept line to at goes before them. sync: on the disk before the call returns (an
  // event, the close). seal: the closing line, given the hash of everything before it.
  void Add(std::string body, SystemClock::time_point at, bool sync, bool seal = false);
  // Tries again to write the lines kept.
  void Retry(SystemClock::time_point now);

  bool Holding() const { return !held_.empty(); }
  std::size_t Held() const { return held_.size(); }
  const Status& Failure() const { return failure_; }  // the first failure of the writing under way
  const std::string& Head() const { return head_; }   // SHA-256 of the last line written
  long long Lines() const { return lines_; }
  // Told of each failure to write and of the writing working again.
  void OnMessage(std::function<void(const std::string&)> listener) { message_ = std::move(listener); }

 private:
  struct Line {
    std::string body;
    SystemClock::time_point at;
    bool seal = false;
    bool notice = false;  // the "could not write" event, made anew at each try
  };
  RecordWriter(std::unique_ptr<RecordFile> file, std::filesystem::path path)
      : file_(std::move(file)), path_(std::move(path)) {}
  std::string Framed(const Line& line, std::string& head, Sha256& content) const;
  void Flush(SystemClock::time_point at, bool sync);
  // Writes lines after the last line written; false when they did not all get there. When a
  // sync fails, the lines written since the last good one are cut off again and given back.
  bool Write(const std::vector<Line>& lines, bool sync, std::vector<Line>& takenBack);
  void Say(const std::string& text) const;

  std::unique_ptr<RecordFile> file_;
  std::filesystem::path path_;
  std::uint64_t size_ = 0;
  long long lines_ = 0;
  std::string head_;
  Sha256 content_;
  // Where the file stood at the last good sync.
  std::uint64_t syncedSize_ = 0;
  long long syncedLines_ = 0;
  std::string syncedHead_;
  Sha256 syncedContent_;
  std::vector<Line> unsynced_;  // written since the last good sync
  std::deque<Line> held_;       // not written yet
  Status failure_;
  SystemClock::time_point lastTry_{};
  bool cutPending_ = false;  // a failed write may have left part of a line at the end
  std::function<void(const std::string&)> message_;
};

}  // namespace tarvel::watch
