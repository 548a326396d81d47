#include "service/workflow.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace tarvel::service {
namespace {

// The verbs that run a controller's workflow or read what the home knows. Not here: watch (the
// service is one), scan and address (they need a port to themselves), and the verbs that change
// the channel map the running service was started from.
constexpr const char* kVerbs[] = {"upload", "download", "clear", "select",   "start", "pause", "restart",
                                  "jump",   "mode",     "limits", "state",   "step",  "log",   "record",
                                  "zone",   "zones",    "channels", "compile"};
constexpr std::size_t kLongestWord = 4096, kMostWords = 64;

}  // namespace

std::variant<Workflow, std::string> ParseWorkflow(const nlohmann::json& request) {
  if (!request.is_object()) return std::string("the workflow must be a JSON object");
  auto args = request.find("args");
  if (args == request.end() || !args->is_array() || args->empty() || args->size() > kMostWords)
    return "\"args\" must be the verb and its words, from 1 to " + std::to_string(kMostWords);
  Workflow workflow;
  for (const auto& word : *args) {
    if (!word.is_string() || word.get_ref<const std::string&>().size() > kLongestWord ||
        word.get_ref<const std::string&>().find('\0') != std::string::npos)
      return "each of \"args\" must be a text of at most " + std::to_string(kLongestWord) + " characters";
    const auto& text = word.get_ref<const std::string&>();
    if (text == "--home" || text == "--port")
      return text + " is not given in \"args\": the home is the service's, the port is \"port\"";
    workflow.args.push_back(text);
  }
  const std::string& verb = workflow.args.front();
  if (std::none_of(std::begin(kVerbs), std::end(kVerbs), [&](const char* v) { return verb == v; })) {
    std::string known;
    for (const char* v : kVerbs) known += (known.empty() ? "" : ", ") + std::string(v);
    return "\"" + verb + "\" is not a workflow of the service: " + known;
  }
  if (auto port = request.find("port"); port != request.end()) {
    if (!port->is_string() || port->get_ref<const std::string&>().empty())
      return std::string("\"port\" must name one of the service's ports");
    workflow.port = port->get<std::string>();
  }
  return workflow;
}

}  // namespace tarvel::service
