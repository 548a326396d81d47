#pragma once
// tarvel: the console's line. When the home's line service serves the console's port, the
// console's commands go through it -- the same workflows, messages and progress bar, between
// the service's sweep exchanges; without a service the console owns the port, as before.

#include <memory>
#include <string>
#include <vector>

#include "link/modbus_rtu_line.h"
#include "service/event_feed.h"
#include "service/remote_line.h"
#include "util/app_folder.h"
#include "watch/line_watch.h"

namespace tarvel::app {

// The ports the home's line service serves, as it maps them; none when no service runs.
std::vector<std::string> ServedPorts(const AppFolder& folder);

class ConsoleLine {
 public:
  // own: the console's port as start-up opened it, or failed to because the service holds it.
  // That failure is taken back from problems (and deviceGone) when the service serves device.
  ConsoleLine(const AppFolder& folder, const std::string& device, link::ModbusRtuLine& own,
              std::vector<std::string>& problems, bool& deviceGone);

  link::Line& Line() { return remote_ ? static_cast<link::Line&>(*remote_) : own_; }
  bool Served() const { return remote_ != nullptr; }
  service::RemoteLine* Remote() { return remote_.get(); }
  // The console's line watch. Served, it reads nothing and records nothing: it shows the
  // readings of the service's sweep and leaves the records to the service (one writer each).
  void Watch(watch::LineWatch& lineWatch);

 private:
  link::ModbusRtuLine& own_;
  std::unique_ptr<service::RemoteLine> remote_;
  std::string socket_;
  std::unique_ptr<service::EventFeed> feed_;
};

}  // namespace tarvel::app
