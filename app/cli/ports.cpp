// tarvel-cli: the port set-up and the channel map's line work, on the console's own workflows.
#include <iomanip>

#include "cli/cli.h"
#include "console/channel_map.h"
#include "console/port_setup.h"
#include "link/modbus_rtu_line.h"
#include "store/config_store.h"
#include "util/text.h"

namespace tarvel::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarvel-cli [--home DIR] ports | port use N|DEVICE |"
    " --port DEVICE scan --add | --port DEVICE address OLD NEW\n";

int Usage(Context& ctx) {
  ctx.err << kUsage;
  return kExitUsage;
}

// Prints each line a workflow adds to its message area as it comes.
class PrintedLines {
 public:
  explicit PrintedLines(std::ostream& out) : out_(out) {}
  void Show(const std::string& text) {
    if (!quiet_) {
      const std::size_t from = text.starts_with(shown_) ? shown_.size() : 0;
      for (std::size_t i = from; i < text.size(); ++i)
        if (text[i] != '\r') out_ << text[i];  // lines end in CR LF in the window, LF here
      out_ << std::flush;
    }
    shown_ = text;
  }
  void SetQuiet(bool quiet) { quiet_ = quiet; }

 private:
  std::ostream& out_;
  std::string shown_;
  bool quiet_ = false;
};

struct PortView final : console::PortSetupView {
  explicit PortView(std::ostream& out) : lines(out) {}
  void ShowMessages(const std::string& text) override { lines.Show(text); }
  void ShowPort(int, const std::string&) override {}
  void SetProgress(int, int) override {}
  PrintedLines lines;
};

struct MapView final : console::ChannelMapView {
  explicit MapView(std::ostream& out) : lines(out) {}
  void ShowMessages(const std::string& text) override { lines.Show(text); }
  void ShowRows(const std::vector<store::ChannelRow>&) override {}
  void SetProgress(int, int) override {}
  void ShowWarning(const std::string&, const std::string&) override {}
  bool Confirm(const std::string&, const std::string&) override { return false; }  // nobody to ask
  PrintedLines lines;
};

int Ports(Context& ctx, store::ConfigStore& db) {
  link::ModbusRtuLine line;
  PortView view(ctx.out);
  view.lines.SetQuiet(true);
  console::PortSetup setup(db, line, view);
  setup.Load();
  auto ports = setup.SerialPortScan();
  if (ports.empty()) {
    ctx.out << "No serial ports found\n";
    return kExitOk;
  }
  std::size_t width = 6;
  for (const auto& port : ports) width = std::max(width, port.device.size());
  ctx.out << std::left << std::setw(6) << "Port" << std::setw(static_cast<int>(width) + 2) << "Device" << "State\n";
  for (const auto& port : ports)
    ctx.out << std::left << std::setw(6) << port.number << std::setw(static_cast<int>(width) + 2) << port.device
            << console::DescribeState(port) << "\n";
  return kExitOk;
}

int UsePort(Context& ctx, store::ConfigStore& db, const std::string& choice) {
  link::ModbusRtuLine line;
  PortView view(ctx.out);
  console::PortSetup setup(db, line, view);
  view.lines.SetQuiet(true);  // the instructions are the window's
  setup.Load();
  view.lines.SetQuiet(false);
  if (!choice.empty() && choice.find_first_not_of("0123456789") == std::string::npos) {
    auto number = ToWholeNumber(choice, 1, link::kMaxPorts);
    if (!number || !setup.SelectPort(static_cast<int>(*number))) {
      ctx.err << "N must be a port number from 1 to " << link::kMaxPorts << "\n";
      return Usage(ctx);
    }
  } else {
    setup.SelectDevice(choice);
  }
  return setup.UseThisSetting() ? kExitOk : kExitFailed;
}

}  // namespace

int PortVerbs(Context& ctx, const Args& args) {
  store::ConfigStore db(ctx.folder.ConfigDatabase());
  if (args.size() == 1 && args[0] == "ports") return Ports(ctx, db);
  if (args.size() == 3 && args[0] == "port" && args[1] == "use") return UsePort(ctx, db, args[2]);

  const bool scanAdd = args.size() == 2 && args[0] == "scan" && args[1] == "--add";
  const bool address = args.size() == 3 && args[0] == "address";
  if (!(scanAdd || address) || ctx.port.empty()) return Usage(ctx);

  link::ModbusRtuLine line;
  if (auto opened = line.Open(ctx.port); !opened.ok()) {
    ctx.err << opened.message << "\n";
    return kExitFailed;
  }
  MapView view(ctx.out);
  console::ChannelMap map(ctx.folder, db, line, view);
  if (address) return map.ChangeAddress(args[1], args[2]) ? kExitOk : kExitFailed;
  auto scan = map.ScanAddresses({.addNew = true});
  return scan.portFailure == link::Outcome::Ok ? kExitOk : kExitFailed;
}

}  // namespace tarvel::cli
