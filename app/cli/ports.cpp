// tarvel-cli: the port set-up and the channel map's line work, on the console's own workflows.
#include <iomanip>

#include "cli/args.h"
#include "cli/cli.h"
#include "cli/service_line.h"
#include "console/channel_map.h"
#include "console/port_setup.h"
#include "link/modbus_rtu_line.h"
#include "service/exchange.h"
#include "store/config_store.h"

namespace tarvel::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarvel-cli [--home DIR] ports | port use N|DEVICE |"
    " --port DEVICE scan --add | --port DEVICE address OLD NEW\n";

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
  ctx.out << std::left << std::setw(6) << "Port" << std::setw(static_cast<int>(width) + 2) << "Device"
          << "State\n";
  for (const auto& port : ports)
    ctx.out << std::left << std::setw(6) << port.number << std::setw(static_cast<int>(width) + 2) << port.device
            << console::DescribeState(port) << "\n";
  return kExitOk;
}

int UsePort(Context& ctx, ArgReader& in, store::ConfigStore& db, const std::string& choice) {
  link::ModbusRtuLine line;
  PortView view(ctx.out);
  console::PortSetup setup(db, line, view);
  view.lines.SetQuiet(true);  // the instructions are the window's
  setup.Load();
  view.lines.SetQuiet(false);
  if (!choice.empty() && choice.find_first_not_of("0123456789") == std::string::npos) {
    auto number = in.Whole(choice, {"N", 1, link::kMaxPorts});
    if (!number || !setup.SelectPort(*number)) {
      in.Refuse("N must be a port number from 1 to " + std::to_string(link::kMaxPorts) + " that the list shows");
      return in.Usage();
    }
  } else {
    setup.SelectDevice(choice);
  }
  return setup.UseThisSetting() ? kExitOk : kExitFailed;
}

}  // namespace

int PortVerbs(Context& ctx, const Args& args) {
  ArgReader in(ctx.err, kUsage, args, 0, {"--add"}, {});
  const std::size_t n = in.Count();
  const std::string verb = n > 0 ? in.Word(0) : "";
  const bool scanAdd = n == 1 && verb == "scan" && in.Flag("--add");
  if (!in.ok() || (in.Flag("--add") && !scanAdd)) return in.Usage();
  store::ConfigStore db(ctx.folder.ConfigDatabase());
  if (n == 1 && verb == "ports") return Ports(ctx, db);
  if (n == 3 && verb == "port" && in.Word(1) == "use") return UsePort(ctx, in, db, in.Word(2));

  const bool address = n == 3 && verb == "address";
  if (!(scanAdd || address) || ctx.port.empty()) return in.Usage();
  if (address) {
    in.Whole(1, {"OLD", 1, 64});
    in.Whole(2, {"NEW", 1, 64});
    if (!in.ok()) return in.Usage();
  }

  // A scan or an address change on a port the line service serves goes through it.
  bool refused = false;
  auto remote = LineThroughService(ctx, refused);
  if (refused) return kExitFailed;
  link::ModbusRtuLine line;
  if (!remote) {
    if (auto opened = line.Open(ctx.port); !opened.ok()) {
      ctx.err << opened.message << "\n";
      return kExitFailed;
    }
  }
  MapView view(ctx.out);
  console::ChannelMap map(ctx.folder, db, line, view);
  if (auto* through = dynamic_cast<service::ExchangeLine*>(remote.get()))
    map.Through(*through, [through](std::uint8_t unit) { return through->ProbeUnit(unit); });
  map.ResolvePendingAddressChanges();
  if (address) return map.ChangeAddress(in.Word(1), in.Word(2)) ? kExitOk : kExitFailed;
  auto scan = map.ScanAddresses({.addNew = true});
  return scan.portFailure == link::Outcome::Ok ? kExitOk : kExitFailed;
}

}  // namespace tarvel::cli
