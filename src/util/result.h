#pragma once
// util: a failure the code must handle is a value. Status carries it, Result<T> adds a value.

#include <optional>
#include <string>
#include <utility>

namespace tarvel {

class Status {
 public:
  // The last five say why a file, a folder or the database could not be used: locked by another
  // program, read-only, the disk full, no permission, or a file that is not what it should be.
  enum class Code { Ok, NotFound, Duplicate, Invalid, Failed, Busy, ReadOnly, Full, Permission, Damaged };

  Status() = default;
  static Status Ok() { return {}; }
  static Status Error(Code code, std::string message) { return Status(code, std::move(message)); }
  static Status Failed(std::string message) { return Status(Code::Failed, std::move(message)); }

  bool ok() const { return code_ == Code::Ok; }
  explicit operator bool() const { return ok(); }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}
  Code code_ = Code::Ok;
  std::string message_;
};

template <class T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}            // NOLINT: implicit on purpose, like a return value
  Result(Status failure) : status_(std::move(failure)) {}  // NOLINT

  bool ok() const { return status_.ok() && value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Status& status() const { return status_; }
  const T& value() const& { return *value_; }
  T& value() & { return *value_; }
  T&& value() && { return std::move(*value_); }
  const T* operator->() const { return &*value_; }
  const T& operator*() const { return *value_; }
  // The value, or fallback when the operation failed: the documented default of a reader.
  T value_or(T fallback) const { return ok() ? *value_ : std::move(fallback); }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace tarvel
