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
