#include "service/workflow.h"

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>

namespace tarvel::service {
namespace {

// The verbs that run a controller's workflow or read what the home knows. Not here: watch (the
// service is one), scan and address (they need a port to themselves), and the verbs that change
// the channel map the running service was started from.
constexpr const char* kVerbs[] = {"upload", "download", "clear",    "select", "start",    "pause",   "restart",
                                  "jump",   "mode",     "setpoint", "limits", "state",    "step",    "log",
                                  "record", "load",     "zone",     "zones",  "channels", "compile", "alarm"};
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
  if (auto cwd = request.find("cwd"); cwd != request.end()) {
    if (!cwd->is_string() || !std::filesystem::path(cwd->get<std::string>()).is_absolute() ||
        cwd->get_ref<const std::string&>().size() > kLongestWord)
      return std::string("\"cwd\" must be the client's working folder, a whole path");
    workflow.cwd = cwd->get<std::string>();
  }
  return workflow;
}

std::vector<std::string> FilesFrom(const std::vector<std::string>& args, const std::string& cwd) {
  if (cwd.empty()) return args;
  std::vector<std::string> resolved;
  for (const std::string& word : args) {
    const std::filesystem::path path(word);
    std::error_code ec;
    const std::filesystem::path there = std::filesystem::path(cwd) / path;
    const bool file = !word.empty() && word.front() != '-' && path.is_relative() &&
                      (std::filesystem::exists(there, ec) ||
                       (path.has_parent_path() && std::filesystem::is_directory(there.parent_path(), ec)));
    resolved.push_back(file ? there.lexically_normal().string() : word);
  }
  return resolved;
}

}  // namespace tarvel::service
