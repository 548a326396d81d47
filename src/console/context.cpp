#include "console/context.h"

namespace tarvel::console {

void Context::FinishExchanges(link::Outcome outcome, const char* failureMessage) {
  if (outcome == link::Outcome::Ok) {
    view.SetLed(Led::Idle);
  } else if (outcome == link::Outcome::Cancelled) {
    view.SetLed(Led::Idle);
    Display(kCancelled);
  } else {
    view.SetLed(Led::Error);
    Display(failureMessage);
  }
}

std::string Context::RunningProgramLine(std::uint8_t address) {
  if (selectedRunMode < 1 || selectedRunMode > 4) return {};
  auto config = store.ControllerConfig(address);
  const std::string name = config.ok() && config->has_value() ? (*config)->profileNameExecuting : std::string();
  return "Unit #" + Text(address) + " is running " + (name.empty() ? std::string("a program") : "its program " + name) +
         " (run mode " + Text(selectedRunMode) + ").";
}

void Context::Learnt(std::uint8_t address, const link::FrameUse& use) { Learnt(address, KeepLearnt(address, use)); }

void Context::Learnt(std::uint8_t address, const Status& kept) {
  if (!kept.ok())
    Display("The database did not keep which frames controller " + Text(address) + " answers: " + kept.message());
}

void Context::DidNotKeep(std::uint8_t address, const std::string& difference) {
  view.SetLed(Led::Error);
  Display("ERROR: Unit #" + Text(address) + " did not keep what was written: " + difference);
  Learnt(address, link::FrameUse{{}, blockReads});
  Display("What was learnt of the frames unit #" + Text(address) +
          " takes is forgotten: the next transfer learns it again");
}

Exchanges::Exchanges(Context& context, int expected) : context_(context) {
  if (context_.exchangeDepth++ > 0) return;
  ConsoleView& view = context_.view;
  view.SetProgress(0, expected);
  context_.line.Begin(expected, [&view](int done, int total) { view.SetProgress(done, total); });
}

Exchanges::~Exchanges() {
  if (--context_.exchangeDepth == 0) context_.line.End();
}

}  // namespace tarvel::console
