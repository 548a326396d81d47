#include "watch/line_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvel::watch {

Status AppendLine(const std::filesystem::path& file, std::string_view header, std::string_view line) {
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  if (ec) return Status::Failed("Cannot create " + file.parent_path().string() + ": " + ec.message());
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return Status::Failed("Cannot open " + file.string() + ": " + std::strerror(errno));
  struct stat st {};
  std::string bytes;
  if (::fstat(fd, &st) == 0 && st.st_size == 0 && !header.empty()) bytes.append(header).append("\r\n");
  bytes.append(line).append("\r\n");
  const off_t before = ::lseek(fd, 0, SEEK_END);
  std::size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (ok) ok = ::fdatasync(fd) == 0;
  const std::string why = ok ? "" : std::strerror(errno);
  // A line that did not get out whole is cut off again: the next one starts on a line of its own.
  if (!ok && before >= 0) (void)::ftruncate(fd, before);
  ::close(fd);
  if (!ok) return Status::Failed("Cannot write " + file.string() + ": " + why);
  return Status::Ok();
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string CsvText(std::string_view text) {
  if (text.empty() || std::string_view("=+-@\t\r").find(text.front()) == std::string_view::npos) return CsvField(text);
  std::string quoted = "\"'";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) line += (i ? "," : "") + CsvField(fields[i]);
  return line;
}

}  // namespace tarvel::watch
