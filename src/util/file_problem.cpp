#include "util/file_problem.h"

#include <cerrno>

namespace tarvel {

Status::Code CodeOfError(std::error_code ec) {
  if (ec.category() != std::generic_category() && ec.category() != std::system_category()) return Status::Code::Failed;
  switch (ec.value()) {
    case EACCES:
    case EPERM: return Status::Code::Permission;
    case EROFS: return Status::Code::ReadOnly;
    case ENOSPC:
    case EDQUOT: return Status::Code::Full;
    case EBUSY:
    case ETXTBSY: return Status::Code::Busy;
    case ENOENT: return Status::Code::NotFound;
    default: return Status::Code::Failed;
  }
}

std::string ReasonOfError(std::error_code ec) {
  if (ec.category() == std::generic_category() || ec.category() == std::system_category()) {
    switch (ec.value()) {
      case EACCES:
      case EPERM: return "permission denied";
      case EROFS: return "read-only file system";
      case ENOSPC: return "the disk is full";
      case EDQUOT: return "the disk quota is used up";
      case ENOTDIR:
      case EEXIST: return "a file stands where a folder should be";
      case ENOENT: return "no such file or folder";
      default: break;
    }
  }
  return ec.message();
}

Status FileProblem(std::string_view doing, const std::filesystem::path& path, std::error_code ec) {
  return Status::Error(CodeOfError(ec),
                       "Cannot " + std::string(doing) + " " + path.string() + ": " + ReasonOfError(ec));
}

}  // namespace tarvel
