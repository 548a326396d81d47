#include "link/serial_ports.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <set>

namespace tarvel::link {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Entries(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code ec;
  if (folder.empty() || !fs::is_directory(folder, ec)) return entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
  std::sort(entries.begin(), entries.end());
  return entries;
}

// ttyUSB10 after ttyUSB9: the number, or -1 when the name is not prefix + digits.
long NumberAfter(const std::string& name, const std::string& prefix) {
  if (!name.starts_with(prefix) || name.size() == prefix.size() || name.size() > prefix.size() + 6) return -1;
  const std::string digits = name.substr(prefix.size());
  if (digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stol(digits);
}

fs::path Resolved(const fs::path& path) {
  std::error_code ec;
  fs::path resolved = fs::canonical(path, ec);
  return ec ? path : resolved;
}

// Every ttyS node exists whether or not a UART is behind it; the kernel's port type says.
bool UartPresent(const fs::path& device, const fs::path& sysTty) {
  std::ifstream type(sysTty / device.filename() / "type");
  int code = 0;
  if (type >> code) return code != 0;
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return errno == EACCES || errno == EBUSY;  // there, only not ours to open
  termios attributes{};
  const bool serial = tcgetattr(fd, &attributes) == 0;
  close(fd);
  return serial;
}

bool PublisherRuns(const fs::path& link) {
  auto pid = PublisherOf(link.filename().string());
  if (!pid) return false;
  std::error_code ec;
  if (!fs::exists(link, ec)) return false;  // the pseudo-terminal has gone
  return kill(static_cast<pid_t>(*pid), 0) == 0 || errno == EPERM;
}

}  // namespace

std::vector<std::string> ListSerialPorts(const PortSources& sources) {
  std::vector<std::string> ports;
  std::set<fs::path> named;  // devices a by-id link stands for
  for (const fs::path& link : Entries(sources.dev / "serial" / "by-id")) {
    ports.push_back(link.string());
    named.insert(Resolved(link));
  }
  for (const std::string prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
    std::vector<std::pair<long, fs::path>> numbered;
    for (const fs::path& device : Entries(sources.dev))
      if (long n = NumberAfter(device.filename().string(), prefix); n >= 0) numbered.emplace_back(n, device);
    std::sort(numbered.begin(), numbered.end());
    for (const auto& [n, device] : numbered) {
      if (named.count(Resolved(device))) continue;
      if (prefix == "ttyS" && !UartPresent(device, sources.sysTty)) continue;
      ports.push_back(device.string());
    }
  }
  for (const fs::path& link : Entries(sources.published))
    if (PublisherRuns(link)) ports.push_back(link.string());
  if (ports.size() > static_cast<std::size_t>(kMaxPorts)) ports.resize(kMaxPorts);
  return ports;
}

}  // namespace tarvel::link
