#include "console/port_setup.h"

#include <sys/stat.h>

#include <algorithm>

#include "link/line_scan.h"
#include "util/text.h"

namespace tarvel::console {
namespace {

constexpr std::uint8_t kProbeAddress = 1;

std::string ReasonOf(const std::string& openMessage) {
  const std::string key = "cannot be opened: ";
  auto at = openMessage.find(key);
  return at == std::string::npos ? openMessage : openMessage.substr(at + key.size());
}

// A link (by-id, a published simulator) and the device it names are one port.
// (std::filesystem::equivalent refuses device files.)
bool SameDevice(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {
  }, sb{};
  return !a.empty() && !b.empty() && stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

PortEntry Unprobed(int number, const std::string& device) { return {number, device, PortState::NotProbed, {}}; }

std::string PortLine(const PortEntry& port) {
  const std::string n = TwoDigits(port.number);
  switch (port.state) {
    case PortState::NotInstalled: return "Serial port #" + n + " not installed - " + port.device;
    case PortState::CannotOpen: return "Serial port #" + n + " cannot be opened: " + port.reason + " - " + port.device;
    case PortState::NoController: return "Serial Port #" + n + " Port seen > no controller seen on it - " + port.device;
    case PortState::ControllerFound:
      return "Serial Port #" + n + " Port seen > Device seen on this comm port - " + port.device;
    case PortState::NotProbed: break;
  }
  return "Serial Port #" + n + " - " + port.device;
}

}  // namespace

std::string DescribeState(const PortEntry& port) {
  switch (port.state) {
    case PortState::NotInstalled: return "not installed";
    case PortState::CannotOpen: return "cannot be opened: " + port.reason;
    case PortState::NoController: return "no controller seen on it";
    case PortState::ControllerFound: return "controller found";
    case PortState::NotProbed: break;
  }
  return "";
}

std::string PortListText(const PortEntry& port) {
  std::string text = TwoDigits(port.number) + "  " + port.device;
  if (port.state != PortState::NotProbed) text += "  " + DescribeState(port);
  return text;
}

std::optional<link::OpenResult> OpenStoredPort(store::ConfigStore& store, link::ModbusRtuLine& line,
                                               const link::PortSources& sources) {
  auto port = store.Port();
  if (!port.ok() || !port->has_value() || (*port)->devicePath.empty()) return std::nullopt;
  const std::string& device = (*port)->devicePath;
  if (device.starts_with("/dev/pts/")) {
    link::PortSources simulators;  // only the lines running simulators publish
    simulators.dev = simulators.sysTty = std::filesystem::path();
    simulators.published = sources.published;
    const std::vector<std::string> published = link::ListSerialPorts(simulators);
    if (std::none_of(published.begin(), published.end(), [&](const std::string& d) { return SameDevice(d, device); }))
      return link::OpenResult{link::OpenOutcome::NotInstalled,
                              "The stored port " + device +
                                  " is a pseudo-terminal no running simulator publishes; it was not opened, since "
                                  "another program may hold it now"};
  }
  return line.Open(device);
}

PortSetup::PortSetup(store::ConfigStore& store, link::ModbusRtuLine& line, PortSetupView& view,
                     link::PortSources sources)
    : store_(store),
      line_(line),
      view_(view),
      sources_(std::move(sources)),
      messages_([&view](const std::string& text) { view.ShowMessages(text); }) {}

// The devices present, plus the line's own device and the stored one when they have gone,
// so the user sees them named as not installed rather than silently missing.
std::vector<std::string> PortSetup::Listed() const {
  std::vector<std::string> devices = link::ListSerialPorts(sources_);
  std::vector<std::string> known{line_.DevicePath()};
  if (auto port = store_.Port(); port.ok() && port->has_value()) known.push_back((*port)->devicePath);
  for (const auto& device : known)
    if (!device.empty() &&
        std::none_of(devices.begin(), devices.end(), [&](const std::string& d) { return SameDevice(d, device); }) &&
        devices.size() < static_cast<std::size_t>(link::kMaxPorts))
      devices.push_back(device);
  return devices;
}

void PortSetup::Load() {
  std::string current = line_.DevicePath();
  if (current.empty())
    if (auto port = store_.Port(); port.ok() && port->has_value()) current = (*port)->devicePath;
  {
    std::lock_guard lock(mutex_);
    ports_.clear();
    for (const auto& device : Listed()) ports_.push_back(Unprobed(static_cast<int>(ports_.size()) + 1, device));
    selected_ = 1;
    for (auto it = ports_.rbegin(); it != ports_.rend(); ++it)
      if (SameDevice(it->device, current)) selected_ = it->number;
  }
  ShowPorts();
  ShowSelection();
  Display("Instructions:");
  Display("1- Verify your temperature controller communication is configured to:  ");
  Display("Controller Address = 1, Baud Rate=9600");
  Display("");
  Display(
      "2- Scan Ports: This tries to see what serial ports you have installed on your computer and if any of the "
      "correct type of controller is attached");
  Display(
      "Serial adapters show as /dev/serial/by-id/..., /dev/ttyUSBn, /dev/ttyACMn or /dev/ttySn; a running "
      "tarvel-sim is listed too,");
  Display("to see what comm ports your computer has.");
  Display("");
  Display(
      "3- Use the increment or decrement key to set the Comm Port number desired and click on `Use This Setting` "
      "button.\r\n");
}

PortEntry PortSetup::Probe(int number, const std::string& device, const std::vector<std::uint8_t>& addresses) {
  PortEntry entry = Unprobed(number, device);
  auto probeOn = [&](link::ModbusRtuLine& line) {
    entry.state = PortState::NoController;
    for (std::uint8_t address : addresses) {
      if (link::ProbeUnit(line, address).present()) {
        entry.state = PortState::ControllerFound;
        return;
      }
    }
  };
  // The application's own port is probed where it stands: opening it a second time would fail.
  if (line_.IsOpen() && SameDevice(line_.DevicePath(), device)) {
    probeOn(line_);
    return entry;
  }
  link::ModbusRtuLine other(line_.Timing());
  link::OpenResult opened = other.Open(device);
  if (opened.outcome == link::OpenOutcome::NotInstalled) {
    entry.state = PortState::NotInstalled;
  } else if (!opened.ok()) {
    entry.state = PortState::CannotOpen;
    entry.reason = ReasonOf(opened.message);
  } else {
    probeOn(other);
  }
  return entry;
}

std::vector<PortEntry> PortSetup::SerialPortScan() {
  cancel_ = false;
  messages_.ClearDisplay();
  Display("Scanning Serial Port # Range");
  Display("-----------------------------------");

  // Address 1 as the instructions ask, then the addresses of the channel map, so a line
  // whose units sit elsewhere is still recognised.
  std::vector<std::uint8_t> addresses{kProbeAddress};
  for (const auto& row : store_.Channels().value_or({}))
    if (row.modbusAddress >= 1 && row.modbusAddress <= 247 && row.modbusAddress != kProbeAddress)
      addresses.push_back(static_cast<std::uint8_t>(row.modbusAddress));

  const std::vector<std::string> devices = Listed();
  std::vector<PortEntry> scanned;
  const int total = static_cast<int>(devices.size());
  view_.SetProgress(0, total);
  bool cancelled = false;
  for (int i = 0; i < total; ++i) {
    if (cancel_) {
      cancelled = true;
      break;
    }
    scanned.push_back(Probe(i + 1, devices[static_cast<std::size_t>(i)], addresses));
    Display(PortLine(scanned.back()));
    view_.SetProgress(i + 1, total);
  }
  if (devices.empty()) Display("No serial ports found");
  Display("");
  Display(cancelled ? "Scan cancelled" : "Scan finished");

  {
    // The selection follows its device into the new list.
    std::lock_guard lock(mutex_);
    std::string selectedDevice =
        selected_ >= 1 && selected_ <= static_cast<int>(ports_.size()) ? ports_[selected_ - 1].device : "";
    ports_ = scanned;
    for (std::size_t i = scanned.size(); i < devices.size(); ++i)
      ports_.push_back(Unprobed(static_cast<int>(i) + 1, devices[i]));
    for (const auto& port : ports_)
      if (!selectedDevice.empty() && port.device == selectedDevice) selected_ = port.number;
  }
  ShowPorts();
  ShowSelection();
  return scanned;
}

void PortSetup::IncrementPort() {
  {
    std::lock_guard lock(mutex_);
    if (selected_ >= link::kMaxPorts) return;
    ++selected_;
  }
  ShowSelection();
}

void PortSetup::DecrementPort() {
  {
    std::lock_guard lock(mutex_);
    if (selected_ <= 1) return;
    --selected_;
  }
  ShowSelection();
}

bool PortSetup::SelectPort(int number) {
  if (number < 1 || number > link::kMaxPorts) return false;
  {
    std::lock_guard lock(mutex_);
    selected_ = number;
  }
  ShowSelection();
  return true;
}

void PortSetup::SelectDevice(const std::string& device) {
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(ports_.begin(), ports_.end(), [&](const PortEntry& p) { return p.device == device; });
    if (it == ports_.end()) {
      // A device the list does not show (a path typed by the user) takes the last number when the list is full.
      if (ports_.size() >= static_cast<std::size_t>(link::kMaxPorts)) ports_.pop_back();
      ports_.push_back(Unprobed(static_cast<int>(ports_.size()) + 1, device));
      it = ports_.end() - 1;
    }
    selected_ = it->number;
  }
  ShowPorts();
  ShowSelection();
}

int PortSetup::SelectedPort() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

std::string PortSetup::SelectedDevice() const {
  std::lock_guard lock(mutex_);
  return selected_ >= 1 && selected_ <= static_cast<int>(ports_.size()) ? ports_[selected_ - 1].device : "";
}

std::vector<PortEntry> PortSetup::Ports() const {
  std::lock_guard lock(mutex_);
  return ports_;
}

void PortSetup::ShowSelection() { view_.ShowPort(SelectedPort(), SelectedDevice()); }

bool PortSetup::UseThisSetting() {
  const int number = SelectedPort();
  const std::string device = SelectedDevice();
  if (device.empty()) {
    // Nothing to open or to store: a number without a device would open nothing at the next start.
    Display("Serial port #" + TwoDigits(number) + " not installed");
    return false;
  }
  line_.Close();
  link::OpenResult opened = line_.Open(device);
  if (opened.ok())
    Display("Serial Port Number set to #" + std::to_string(number) + " - " + device);
  else
    Display(opened.message);
  if (!simulatedDevice_.empty() && SameDevice(device, simulatedDevice_)) {
    // Stored, the name would send the next plain start's Modbus requests to whatever program
    // the system gives this pseudo-terminal then.
    Display("The simulated line " + device +
            " is not stored as the port setting: it exists only while this "
            "program runs, and another program may hold that name later");
    return opened.ok();
  }
  store::PortRow row;
  row.commPortNumber = number;
  row.devicePath = device;
  if (Status saved = store_.SavePortSettings(row); !saved)
    Display("The port setting was not stored: " + saved.message());
  return opened.ok();
}

}  // namespace tarvel::console
