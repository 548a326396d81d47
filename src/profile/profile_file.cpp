#include "profile/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "profile/profile_text.h"
#include "profile/verify.h"

namespace tarvel::profile {
namespace {

namespace fs = std::filesystem;

Status Invalid(std::string message) { return Status::Error(Status::Code::Invalid, std::move(message)); }

std::string SystemError(int error) { return std::strerror(error); }

bool WriteAllBytes(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The rename is durable only once the folder's entry is on disk; a failure here loses nothing.
void SyncFolder(const fs::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

Result<std::string> LoadProfileFile(const fs::path& file) {
  std::error_code ec;
  fs::file_status status = fs::status(file, ec);
  if (!fs::exists(status)) return Status::Error(Status::Code::NotFound, "no such file");
  // A FIFO or a device would block or never end; a profile is always a plain file.
  if (!fs::is_regular_file(status)) return Invalid("not a regular file");
  std::ifstream in(file, std::ios::binary);
  if (!in) return Status::Failed("cannot open the file for reading");
  std::string bytes(kProfileFileSize + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return Status::Failed("cannot read the file");
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.size() > kProfileFileSize)
    return Invalid("the file is larger than a profile file (" + std::to_string(kProfileFileSize) + " bytes)");
  if (Status checked = CheckProfileBytes(bytes); !checked) return checked;
  bytes.resize(kProfileTextLength);
  // A whole file with a good checksum may still carry numbers no controller step can hold.
  if (Status numbers = CheckProfileNumbers(bytes); !numbers) return numbers;
  return bytes;
}

std::string LoadProfileText(const fs::path& file) { return LoadProfileFile(file).value_or(std::string()); }

Status SaveProfileText(const fs::path& file, std::string_view text) {
  Status checked = CheckProfileBytes(text);
  if (checked && text.size() != kProfileTextLength) checked = Invalid("it already ends with the empty line");
  if (checked) checked = CheckProfileNumbers(text);
  if (!checked) return Invalid("the profile text is not valid (" + checked.message() + "); nothing was written");
  fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  std::string temp = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return Status::Failed("cannot save " + file.string() + ": " + SystemError(errno));

  std::string bytes(text);
  bytes += "\r\n";
  bool written = ::fchmod(fd, 0644) == 0 && WriteAllBytes(fd, bytes) && ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && ::rename(temp.c_str(), file.c_str()) != 0) {
    written = false;
    error = errno;
  }
  if (!written) {
    ::unlink(temp.c_str());
    return Status::Failed("cannot save " + file.string() + ": " + SystemError(error));
  }
  SyncFolder(folder);
  return Status::Ok();
}

}  // namespace tarvel::profile
