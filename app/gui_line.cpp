#include "gui_line.h"

namespace tarvel::app {

std::vector<std::string> ServedPorts(const AppFolder& folder) {
  std::vector<std::string> ports;
  if (auto found = service::FindService(folder))
    for (const auto& port : found->info["ports"])
      if (port.contains("port") && port["port"].is_string()) ports.push_back(port["port"].get<std::string>());
  return ports;
}

ConsoleLine::ConsoleLine(const AppFolder& folder, const std::string& device, link::ModbusRtuLine& own,
                         std::vector<std::string>& problems, bool& deviceGone)
    : own_(own) {
  if (own.IsOpen() || device.empty()) return;
  auto found = service::FindService(folder);
  if (!found) return;
  const std::string port = service::ServedPort(*found, device);
  if (port.empty()) return;
  auto remote = std::make_unique<service::RemoteLine>(found->socket, port);
  if (auto refused = remote->Open()) {
    problems.push_back(*refused);
    return;
  }
  // The port is the service's, not gone: its open's failure is no problem of the console.
  if (!problems.empty() && problems.back().find(device) != std::string::npos) problems.pop_back();
  deviceGone = false;
  remote_ = std::move(remote);
  socket_ = found->socket;
}

void ConsoleLine::Watch(watch::LineWatch& lineWatch) {
  if (!remote_) return;
  lineWatch.ObserveOnly();
  feed_ = std::make_unique<service::EventFeed>(socket_);
  lineWatch.FeedFrom([feed = feed_.get()] { return feed->Next(); });
}

}  // namespace tarvel::app
