#include "console/records.h"

namespace tarvel::console {

bool Recorded(Context& context, const Status& status, const std::string& what) {
  if (status.ok()) return true;
  context.view.SetLed(Led::Error);
  context.Display("ERROR: " + what + ": " + status.message());
  return false;
}

std::string StepList(const std::vector<int>& steps) {
  std::string list;
  for (std::size_t i = 0; i < steps.size();) {
    std::size_t end = i;
    while (end + 1 < steps.size() && steps[end + 1] == steps[end] + 1) ++end;
    list += (list.empty() ? "" : ", ") + Text(steps[i]);
    if (end > i) list += (end == i + 1 ? ", " : " to ") + Text(steps[end]);
    i = end + 1;
  }
  return list;
}

std::string DescribeMismatch(const link::WordMismatch& m) {
  return "Step " + Text(m.step) + " word " + Text(m.word) + ": wrote " + Text(m.wrote) + ", read " + Text(m.read);
}

std::string ReadBack(const link::WordMismatch& m) {
  return "step " + Text(m.step) + " word " + Text(m.word) + " reads back " + Text(m.read) + ", not " + Text(m.wrote);
}

}  // namespace tarvel::console
