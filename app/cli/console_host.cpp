#include "cli/console_host.h"

#include <algorithm>
#include <functional>
#include <map>

#include "cli/service_line.h"
#include "console/address_change.h"

namespace tarvel::cli {
namespace {

// Each controller on its own port: the channel map says which (addresses are unique across the
// home); a port is opened at its first use, through the line service when it serves that port.
class PortsLine final : public link::Line {
 public:
  using Opener = std::function<std::unique_ptr<link::Line>(const std::string& port)>;
  PortsLine(std::map<int, std::string> portOf, std::string fallback, Opener open)
      : portOf_(std::move(portOf)), fallback_(std::move(fallback)), open_(std::move(open)) {}

  link::Reply<link::RegisterPair> ReadRegisterPair(std::uint8_t address, std::uint16_t reg) override {
    link::Line* line = For(address);
    return line ? line->ReadRegisterPair(address, reg) : link::Reply<link::RegisterPair>{link::Outcome::PortError, {}};
  }
  link::Outcome WriteRegisters(std::uint8_t address, std::uint16_t reg, std::uint16_t value,
                               std::uint16_t next) override {
    link::Line* line = For(address);
    return line ? line->WriteRegisters(address, reg, value, next) : link::Outcome::PortError;
  }
  link::Outcome WriteCoil(std::uint8_t address, std::uint16_t coil, bool on) override {
    link::Line* line = For(address);
    return line ? line->WriteCoil(address, coil, on) : link::Outcome::PortError;
  }
  link::Reply<std::vector<std::uint16_t>> ReadRegisterBlock(std::uint8_t address, std::uint16_t reg,
                                                            int count) override {
    link::Line* line = For(address);
    return line ? line->ReadRegisterBlock(address, reg, count)
                : link::Reply<std::vector<std::uint16_t>>{link::Outcome::PortError, {}};
  }

 private:
  link::Line* For(std::uint8_t address) {
    auto mapped = portOf_.find(address);
    const std::string& port = mapped == portOf_.end() || mapped->second.empty() ? fallback_ : mapped->second;
    auto [line, added] = lines_.try_emplace(port);
    if (added) line->second = open_(port);  // a port that cannot be opened is said once, then fails each time
    return line->second.get();
  }

  std::map<int, std::string> portOf_;
  std::string fallback_;
  Opener open_;
  std::map<std::string, std::unique_ptr<link::Line>> lines_;
};

std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

}  // namespace

void TerminalView::ShowMessages(const std::string& text) {
  // The area only grows by appended lines until it is cleared: print what is new.
  if (text.starts_with(shown_))
    out_ << WithoutCarriageReturns(text.substr(shown_.size()));
  else
    out_ << WithoutCarriageReturns(text);
  out_.flush();
  shown_ = text;
}

void TerminalView::SetLed(console::Led led) {
  if (led == console::Led::Error) sawError_ = true;
}

void TerminalView::ShowWarning(const std::string& title, const std::string& text) {
  out_ << "[" << title << "] " << WithoutCarriageReturns(text) << "\n";
}

bool TerminalView::Confirm(const std::string& title, const std::string& text) {
  const bool ok = assumeYes_ || std::any_of(okTitles_.begin(), okTitles_.end(),
                                            [&title](const std::string& prefix) { return title.starts_with(prefix); });
  out_ << "[" << title << "] " << WithoutCarriageReturns(text) << (ok ? " -> OK\n" : " -> Cancel (no --yes)\n");
  return ok;
}

ConsoleHost::ConsoleHost(Context& ctx, bool assumeYes)
    : ctx_(ctx), store_(ctx.folder.ConfigDatabase()), view_(ctx.out, assumeYes) {}

ConsoleHost::~ConsoleHost() {
  console_.reset();
  ports_.reset();
  line_.Close();
}

link::Line& ConsoleHost::Line() {
  if (ports_) return *ports_;
  return remote_ ? static_cast<link::Line&>(*remote_) : line_;
}

bool ConsoleHost::Open(const std::string& channel) {
  // A channel cannot be looked up in a database that cannot be read: say why, not "not mapped".
  if (auto channels = store_.Channels(); !channels) {
    ctx_.err << channels.status().message() << "\n";
    return false;
  }
  bool refused = false;
  if (spanPorts_) {
    std::map<int, std::string> portOf;
    for (const store::ChannelRow& row : store_.Channels().value_or({})) portOf[row.modbusAddress] = row.port;
    ports_ = std::make_unique<PortsLine>(std::move(portOf), ctx_.port, [this](const std::string& port) {
      Context on{ctx_.folder, port, ctx_.blockReads, ctx_.out, ctx_.err, ctx_.serviceLine};
      bool failed = false;
      if (auto line = LineThroughService(on, failed); line || failed) return line;
      auto own = std::make_unique<link::ModbusRtuLine>();
      if (auto opened = own->Open(port); !opened.ok()) {
        ctx_.err << port << ": " << opened.message << "\n";
        return std::unique_ptr<link::Line>();
      }
      return std::unique_ptr<link::Line>(std::move(own));
    });
  } else {
    remote_ = LineThroughService(ctx_, refused);
  }
  if (refused) return false;
  if (!ctx_.port.empty() && !remote_ && !ports_) {
    if (auto opened = line_.Open(ctx_.port); !opened.ok()) {
      ctx_.err << ctx_.port << ": " << opened.message << "\n";
      return false;
    }
  }
  // An address change whose outcome was never stored is settled before the map is used.
  if (auto pending = store_.PendingAddressChanges(); !pending || !pending->empty()) {
    auto say = [this](const std::string& text) { ctx_.out << text << "\n"; };
    if (ports_ || remote_ || line_.IsOpen())
      console::ResolvePendingAddressChanges(store_, Line(), say);
    else
      for (const auto& change : pending.value_or({}))
        say("WARNING: The address change of unit #" + std::to_string(change.oldAddress) + " to " +
            std::to_string(change.newAddress) + " is not confirmed: a command with --port asks both addresses");
  }
  console_ = std::make_unique<console::Console>(ctx_.folder, store_, Line(), view_, console::LineInfo{true, false});
  console_->SetBlockReads(ctx_.blockReads);
  auto& selection = console_->Selection();
  selection.LoadChannelLists();
  const auto& channels = selection.Current().channels;
  auto found = std::find(channels.begin(), channels.end(), channel);
  if (found == channels.end()) {
    ctx_.err << "Channel " << channel << " is not in the channel map\n";
    return false;
  }
  selection.SelectIndex(static_cast<int>(found - channels.begin()));
  selection.SetStartupComplete(true);
  return true;
}

}  // namespace tarvel::cli
