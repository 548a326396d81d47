#include "cli/console_host.h"

#include <algorithm>

#include "cli/service_line.h"
#include "console/address_change.h"

namespace tarvel::cli {
namespace {

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

ConsoleHost::~ConsoleHost() { line_.Close(); }

bool ConsoleHost::Open(const std::string& channel) {
  // A channel cannot be looked up in a database that cannot be read: say why, not "not mapped".
  if (auto channels = store_.Channels(); !channels) {
    ctx_.err << channels.status().message() << "\n";
    return false;
  }
  bool refused = false;
  remote_ = LineThroughService(ctx_, refused);
  if (refused) return false;
  if (!ctx_.port.empty() && !remote_) {
    if (auto opened = line_.Open(ctx_.port); !opened.ok()) {
      ctx_.err << ctx_.port << ": " << opened.message << "\n";
      return false;
    }
  }
  // An address change whose outcome was never stored is settled before the map is used.
  if (auto pending = store_.PendingAddressChanges(); !pending || !pending->empty()) {
    auto say = [this](const std::string& text) { ctx_.out << text << "\n"; };
    if (remote_ || line_.IsOpen())
      console::ResolvePendingAddressChanges(store_, remote_ ? static_cast<link::Line&>(*remote_) : line_, say);
    else
      for (const auto& change : pending.value_or({}))
        say("WARNING: The address change of unit #" + std::to_string(change.oldAddress) + " to " +
            std::to_string(change.newAddress) + " is not confirmed: a command with --port asks both addresses");
  }
  link::Line& line = remote_ ? static_cast<link::Line&>(*remote_) : line_;
  console_ = std::make_unique<console::Console>(ctx_.folder, store_, line, view_, console::LineInfo{true, false});
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
