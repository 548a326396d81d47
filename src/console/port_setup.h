#pragma once
// console: the serial port set-up "Communications Port Setup" -- the port scan, the port
// choice and "Use This Setting". Qt-free: it speaks to a PortSetupView.
// Depends on link, store and util.

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "console/message_lines.h"
#include "link/modbus_rtu_line.h"
#include "link/serial_ports.h"
#include "store/config_store.h"

namespace tarvel::console {

enum class PortState { NotProbed, NotInstalled, CannotOpen, NoController, ControllerFound };

struct PortEntry {
  int number = 0;  // 1..20, the number the user picks
  std::string device;
  PortState state = PortState::NotProbed;
  std::string reason;  // why a CannotOpen port cannot be opened
};

// "not installed", "cannot be opened: <reason>", "no controller seen on it", "controller found".
std::string DescribeState(const PortEntry& port);
// A line of the port list: "01  /dev/ttyUSB0  controller found" (the state once scanned).
std::string PortListText(const PortEntry& port);

// At start-up without a device on the command line: opens the device stored with the port
// settings. nullopt when none is stored; NotInstalled names a device that has gone. A stored
// pseudo-terminal (/dev/pts/N) is opened only while a running simulator publishes it: its name
// is handed to the next program that asks for one.
std::optional<link::OpenResult> OpenStoredPort(store::ConfigStore& store, link::ModbusRtuLine& line,
                                               const link::PortSources& sources = {});

class PortSetupView {
 public:
  virtual ~PortSetupView() = default;
  virtual void ShowMessages(const std::string& text) = 0;            // SerialPortPrompt, the whole text
  virtual void ShowPort(int number, const std::string& device) = 0;  // CommPortNumber and its device
  virtual void SetProgress(int done, int total) = 0;
  virtual void ShowPorts(const std::vector<PortEntry>& /*ports*/) {}  // the list to click in
};

class PortSetup {
 public:
  // line is the application's line: "Use This Setting" reopens it on the chosen device.
  PortSetup(store::ConfigStore& store, link::ModbusRtuLine& line, PortSetupView& view, link::PortSources sources = {});

  MessageLines& Messages() { return messages_; }

  // Lists the ports (without probing them), selects the line's device, or the stored one,
  // and shows the instructions.
  void Load();
  // Probes every port listed for a controller and shows one line each. The line stays on
  // its device; ports are opened beside it.
  std::vector<PortEntry> SerialPortScan();
  // From any thread: the scan stops before its next port.
  void Cancel() { cancel_ = true; }

  // ">" and "<": within 1..20. Callable from the UI thread while a command runs.
  void IncrementPort();
  void DecrementPort();
  // Selects a port by its number 1..20, or by device path (added to the list when absent).
  bool SelectPort(int number);
  void SelectDevice(const std::string& device);
  int SelectedPort() const;
  std::string SelectedDevice() const;  // empty when no device has the selected number
  std::vector<PortEntry> Ports() const;

  // Reopens the line on the selected device and stores number and device path in
  // CommunicationsPort. False when the device could not be opened (the choice is still
  // stored: the next start tries it again). The simulated line is used but never stored.
  bool UseThisSetting();
  // The pseudo-terminal of the built-in simulator (tarvel --simulate).
  void SetSimulatedDevice(std::string device) { simulatedDevice_ = std::move(device); }

 private:
  void Display(const std::string& text) { messages_.Display(text); }
  void ShowSelection();
  void ShowPorts() { view_.ShowPorts(Ports()); }
  std::vector<std::string> Listed() const;
  PortEntry Probe(int number, const std::string& device, const std::vector<std::uint8_t>& addresses);

  store::ConfigStore& store_;
  link::ModbusRtuLine& line_;
  PortSetupView& view_;
  link::PortSources sources_;
  MessageLines messages_;
  std::atomic<bool> cancel_{false};
  std::string simulatedDevice_;

  mutable std::mutex mutex_;  // the port list and the selection: "<" and ">" act from the UI thread
  std::vector<PortEntry> ports_;
  int selected_ = 1;
};

}  // namespace tarvel::console
