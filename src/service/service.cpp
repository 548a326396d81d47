#include "service/service.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <limits>
#include <set>

#include "store/config_store.h"

namespace tarvel::service {
namespace {

std::filesystem::path Canonical(const std::filesystem::path& path) {
  std::error_code ec;
  auto canonical = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  return ec ? path : canonical;
}

std::string ShortHash(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a: the same on every build
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string(hex, 12);
}

// The holder's pid as it wrote it, for the refusal.
std::string HolderOf(int fd) {
  char text[32] = {};
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
  const std::string pid = n > 0 ? std::string(text, static_cast<std::size_t>(n)) : "";
  return pid.empty() || pid.back() != '\n' ? "unknown" : pid.substr(0, pid.size() - 1);
}

}  // namespace

std::filesystem::path SocketPath(const AppFolder& folder) {
  const std::filesystem::path home = Canonical(folder.Root());
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::filesystem::path(runtime) / "tarvel" / ("line-" + ShortHash(home.string()) + ".sock");
  return home / "line.sock";
}

void EventHub::Publish(const std::string& kind, const nlohmann::json& data) {
  {
    std::lock_guard lock(mutex_);
    events_.emplace_back(++last_, "event: " + kind + "\ndata: " +
                                      data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n\n");
    if (events_.size() > kKept) events_.pop_front();
  }
  changed_.notify_all();
}

long long EventHub::Last() const {
  std::lock_guard lock(mutex_);
  return last_;
}

long long EventHub::Since(long long after, std::vector<std::string>& events, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, wait, [&] { return closed_ || last_ > after; });
  for (const auto& [number, text] : events_)
    if (number > after) events.push_back(text);
  return last_;
}

void EventHub::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

bool EventHub::Closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

std::variant<std::unique_ptr<Service>, Service::Refusal> Service::Start(const AppFolder& folder,
                                                                        const PortOptions& options,
                                                                        const std::vector<std::string>& only) {
  // One service per home: a second would sweep the same controllers and fight for the ports.
  const std::filesystem::path lockFile = folder.Root() / "tarvel-line.lock";
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return Refusal{kExitRefused, "Cannot use " + lockFile.string() + ": " + std::strerror(errno)};
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    Refusal refusal{kExitRefused,
                    "Another tarvel-line serves the home " + folder.Root().string() + " (pid " + HolderOf(fd) + ")"};
    ::close(fd);
    return refusal;
  }
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    ::close(fd);
    return Refusal{kExitRefused, "Cannot write " + lockFile.string() + ": " + std::strerror(errno)};
  }
  std::unique_ptr<Service> service(new Service(folder, fd));

  store::ConfigStore store(folder.ConfigDatabase());
  auto channels = store.Channels();
  if (!channels) return Refusal{kExitConfig, channels.status().message()};
  std::vector<std::string> ports = only;
  if (!only.empty()) {
    service->Open(options, ports);
    return service;
  }
  if (channels->empty())
    return Refusal{kExitConfig, "The channel map of " + folder.Root().string() +
                                    " is empty: nothing to serve (tarvel-cli channel add ... --port DEVICE)"};
  // Each port once: two paths of one device (a by-id link and its ttyUSB node) would be two owners.
  std::map<std::filesystem::path, std::string> devices;
  for (const store::ChannelRow& row : *channels) {
    if (row.port.empty())
      return Refusal{kExitConfig, "Channel " + std::to_string(row.softwareChannel) +
                                      " has no port: map it again with tarvel-cli channel add ... --port DEVICE"};
    if (std::find(ports.begin(), ports.end(), row.port) != ports.end()) continue;
    auto [seen, added] = devices.emplace(Canonical(row.port), row.port);
    if (!added)
      return Refusal{kExitConfig, "The port " + row.port + " is given twice in the channel map: it is " + seen->second};
    ports.push_back(row.port);
  }
  service->Open(options, ports);
  return service;
}

void Service::Open(const PortOptions& options, const std::vector<std::string>& ports) {
  for (const std::string& port : ports)
    workers_.push_back(std::make_unique<PortWorker>(
        folder_, port, options, [this](const std::string& kind, nlohmann::json data) { Take(kind, std::move(data)); }));
}

Service::~Service() {
  events_.Close();
  workers_.clear();
  ::close(lockFd_);
}

void Service::Take(const std::string& kind, nlohmann::json data) {
  {
    std::lock_guard lock(mutex_);
    if (kind == "reading") statuses_[data["channel"].get<int>()] = data;
    if (tap_) tap_(kind, data);
  }
  events_.Publish(kind, data);
}

void Service::Tap(std::function<void(const std::string&, const nlohmann::json&)> tap) {
  std::lock_guard lock(mutex_);
  tap_ = std::move(tap);
}

nlohmann::json Service::Info() const {
  nlohmann::json ports = nlohmann::json::array();
  for (const auto& worker : workers_) ports.push_back(worker->State());
  return {
      {"home", folder_.Root().string()}, {"pid", getpid()}, {"socket", SocketPath(folder_).string()}, {"ports", ports}};
}

nlohmann::json Service::Channels() const {
  std::lock_guard lock(mutex_);
  nlohmann::json channels = nlohmann::json::array();
  for (const auto& [channel, status] : statuses_) channels.push_back(status);
  return channels;
}

PortWorker* Service::Port(const std::string& name) {
  for (const auto& worker : workers_)
    if (worker->Device() == name || Canonical(worker->Device()) == Canonical(name)) return worker.get();
  PortWorker* byLast = nullptr;
  for (const auto& worker : workers_)
    if (std::filesystem::path(worker->Device()).filename() == name) {
      if (byLast) return nullptr;  // two ports end alike: the whole path is needed
      byLast = worker.get();
    }
  return byLast;
}

bool Service::AllSettled() const {
  return std::all_of(workers_.begin(), workers_.end(), [](const auto& w) { return w->Settled(); });
}

bool Service::AnyGaveUp() const {
  return std::any_of(workers_.begin(), workers_.end(), [](const auto& w) { return w->GaveUp(); });
}

long long Service::SweepsFinished() const {
  long long fewest = workers_.empty() ? 0 : std::numeric_limits<long long>::max();
  for (const auto& worker : workers_) fewest = std::min(fewest, worker->SweepsFinished());
  return fewest;
}

}  // namespace tarvel::service
