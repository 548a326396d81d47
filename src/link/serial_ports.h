#pragma once
// link: the serial devices of this machine, as a port set-up lists them.

#include <filesystem>
#include <string>
#include <vector>

#include "util/published_line.h"

namespace tarvel::link {

inline constexpr int kMaxPorts = 20;  // ports are numbered 1..20

struct PortSources {
  std::filesystem::path dev = "/dev";
  std::filesystem::path sysTty = "/sys/class/tty";
  std::filesystem::path published = PublishedLineFolder();
};

// In a stable order: /dev/serial/by-id/* by name; then ttyUSB*, ttyACM* and ttyS* by number,
// leaving out those a by-id link already names and the ttyS that have no UART behind them;
// then the lines simulators publish (while their simulator runs). At most kMaxPorts.
std::vector<std::string> ListSerialPorts(const PortSources& sources = {});

}  // namespace tarvel::link
