#pragma once
// console: what every workflow room of the console shares -- the controller session (store,
// counted line, command set, frames learnt), the view, the message area, and what was last read
// of the current controller. Qt-free; one command uses it at a time (the GUI's command runner),
// except the message area and Cancel, which the UI thread may touch while a command runs.
// Depends on controller.

#include <cstdint>
#include <string>

#include "console/message_area.h"
#include "console/view.h"
#include "controller/session.h"

namespace tarvel::console {

inline constexpr const char* kAddressLookupError =
    "Error: Could not retrieve modbus address of software channel in database";
inline constexpr const char* kCommsError = "ERROR: Commmunications error";
inline constexpr const char* kCommError = "ERROR: Communication error";
// A cancel is the user's doing, never a line failure.
inline constexpr const char* kCancelled = "Command cancelled: nothing more was sent to the controller";

// A number as the grids and read-outs show it.
inline std::string Text(int value) { return std::to_string(value); }

struct LineInfo {
  bool configured = false;  // a line was given (simulated or --port): no port warning at activation
  bool simulated = false;
};

struct Context : controller::Session {
  Context(AppFolder appFolder, store::ConfigStore& configStore, link::Line& rawLine, ConsoleView& consoleView,
          LineInfo info)
      : Session(std::move(appFolder), configStore, rawLine), view(consoleView), lineInfo(info), messages(consoleView) {}
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  void Display(const std::string& text) { messages.Display(text); }
  void ClearDisplay() { messages.ClearDisplay(); }
  void ShowField(Field field, const std::string& text) { view.SetField(field, text); }
  // Keeps the program limits just read from the controller and shows them.
  void SetProgramLimits(int low, int high) {
    programLowStep = low;
    programHighStep = high;
    ShowField(Field::ProgramStepLow, Text(low));
    ShowField(Field::ProgramStepHigh, Text(high));
  }
  // LED after a command's exchanges: grey when all succeeded (or the user cancelled, which
  // is said as such), else red with the message.
  void FinishExchanges(link::Outcome outcome, const char* failureMessage);
  // Keeps what a transfer or reading learnt of the controller; a refusal of the database is said.
  void Learnt(std::uint8_t address, const link::FrameUse& use);
  // The same, when a controller transfer kept it: its refusal is said.
  void Learnt(std::uint8_t address, const Status& kept);
  // "Unit #1 is running its program Demo drying.txt (run mode 2)." while the console last read
  // a ramp/soak mode; empty otherwise. The guards of commands that would spoil a run name it.
  std::string RunningProgramLine(std::uint8_t address);
  // Every write workflow reads back what it wrote. A difference means the controller does not
  // keep what it is sent the way it was learnt (another controller at the address, one that
  // keeps only the first register of a write): the difference is said, the LED turns red, and
  // what was learnt of the controller's frames is forgotten, to be learnt again.
  void DidNotKeep(std::uint8_t address, const std::string& difference);

  ConsoleView& view;
  LineInfo lineInfo;
  MessageArea messages;

  // What the console last read of the current controller.
  int programLowStep = 0;
  int programHighStep = 0;
  int selectedRunMode = 0;
  int exchangeDepth = 0;  // nesting of Exchanges: only the outermost command counts
};

// Moves the progress bar with every exchange of one command; nested workflows share the
// outermost command's count.
class Exchanges {
 public:
  Exchanges(Context& context, int expected);
  ~Exchanges();
  Exchanges(const Exchanges&) = delete;
  Exchanges& operator=(const Exchanges&) = delete;

 private:
  Context& context_;
};

// A read-out after a read: the value, or blank when the exchange failed, so a failure is
// never shown as a plausible 0.
template <class T>
std::string Shown(const link::Reply<T>& reply) {
  return reply.ok() ? std::to_string(reply.value) : std::string();
}

}  // namespace tarvel::console
