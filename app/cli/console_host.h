#pragma once
// tarvel-cli: the console's workflows without a window. TerminalView prints what the console
// shows (each new message line, every box with the answer given); ConsoleHost opens the line
// and points a console at one channel without the window's start-up reading, so a verb runs
// exactly the workflow the console's button runs.

#include <memory>
#include <optional>
#include <string>

#include "cli/cli.h"
#include "console/console.h"
#include "link/modbus_rtu_line.h"
#include "store/config_store.h"

namespace tarvel::cli {

class TerminalView final : public console::TextView {
 public:
  // assumeYes answers every OK/Cancel box with OK; without it every box is cancelled.
  TerminalView(std::ostream& out, bool assumeYes) : out_(out), assumeYes_(assumeYes) {}

  bool SawError() const { return sawError_; }  // the link indicator turned red at least once
  // Boxes whose title starts with prefix are answered OK: the verb itself is that answer.
  void AnswerOk(std::string titlePrefix) { okTitles_.push_back(std::move(titlePrefix)); }

  void ShowMessages(const std::string& text) override;
  void SetLed(console::Led led) override;
  void ShowWarning(const std::string& title, const std::string& text) override;
  bool Confirm(const std::string& title, const std::string& text) override;

 private:
  std::ostream& out_;
  bool assumeYes_;
  bool sawError_ = false;
  std::string shown_;  // the message area as last printed
  std::vector<std::string> okTitles_;
};

class ConsoleHost {
 public:
  ConsoleHost(Context& ctx, bool assumeYes);
  ~ConsoleHost();

  // Opens the line of --port (through the home's line service when it serves that port) and
  // makes channel the console's current channel, reading nothing from the controller. Prints the
  // reason and returns false when either fails.
  bool Open(const std::string& channel);
  // Before Open: each controller is reached on its own channel's port (--port for a channel
  // mapped to none), each port opened at its first use -- a zone may span ports.
  void SpanPorts() { spanPorts_ = true; }

  console::Console& Console() { return *console_; }
  TerminalView& View() { return view_; }
  store::ConfigStore& Store() { return store_; }

 private:
  link::Line& Line();

  Context& ctx_;
  store::ConfigStore store_;
  link::ModbusRtuLine line_;
  std::unique_ptr<link::Line> remote_;  // the line through the service, when one serves --port
  bool spanPorts_ = false;
  std::unique_ptr<link::Line> ports_;  // with SpanPorts: the line to each controller's port
  TerminalView view_;
  std::unique_ptr<console::Console> console_;
};

}  // namespace tarvel::cli
