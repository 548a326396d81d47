#pragma once
// service: a workflow request -- one tarvel-cli verb and its words, run by the service on the
// port it names, answered with the exit code and the very text the CLI prints.
//
//   POST /v1/workflows  {"args": ["upload", "3", "kiln.txt", "20", "--yes"], "port": "/dev/ttyUSB0"}
//   -> 200 {"exit": 0, "out": "...", "err": "..."}
//
// "port" may be left out when the service has one port, or for a verb that names no controller.
// "cwd", the client's working folder (absolute): the words naming a file are taken from there, as
// the client's own tarvel-cli would; without it, from the service's working folder.
// The verb's questions are answered by its flags (--yes), as on the command line: a box the
// flags do not answer is cancelled and says which flag would. Qt-free.

#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace tarvel::service {

struct Workflow {
  std::vector<std::string> args;  // the verb and its words, without the global options
  std::string port;               // empty: none named
  std::string cwd;                // the client's working folder; empty: the service's
};

// The words of args that name a file relative to cwd, made absolute: those naming a file that is
// there, and paths with a folder whose folder is there. A bare name that is no file there stays
// as it is (a verb may look for it in the home's Profiles/); options and their values stay too.
std::vector<std::string> FilesFrom(const std::vector<std::string>& args, const std::string& cwd);

class Service;
// Runs the verb in-process over the port's worker of service; its exit code. Called on the API's thread.
using WorkflowRunner =
    std::function<int(Service& service, const Workflow& workflow, std::ostream& out, std::ostream& err)>;

// The request's workflow, or why it is not one (for a 400 answer).
std::variant<Workflow, std::string> ParseWorkflow(const nlohmann::json& request);

}  // namespace tarvel::service
