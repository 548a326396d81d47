#pragma once
// service: the line service's HTTP API, JSON over a Unix socket (mode 0600: only its user gets
// in, so no token is asked there) and, when told, over TCP -- loopback unless a token guards it;
// with a token every TCP request needs "Authorization: Bearer TOKEN".
//
//   GET    /v1/service                      home, pid, ports and their state
//   GET    /v1/channels                     the latest status of every channel
//   GET    /v1/events                       Server-Sent Events: reading, alarm, sweep, port, session, message
//   POST   /v1/ports/{port}/session         a session's lease: {"lease": "..."}
//   DELETE /v1/ports/{port}/session/{lease} ends it (else 10 s without a request do)
//   POST   /v1/ports/{port}/exchange        one line operation (see exchange.h), "lease" within a session
//   POST   /v1/workflows                    a tarvel-cli verb run by the service (see workflow.h); on TCP
//                                           only where a token guards it. Events "workflow": started,
//                                           each line printed, the exit code.
//
// {port} is the device path, its '/' written %2F, or its last component. Bad requests are 400 and
// an unknown port 404, each with {"message": "..."}.

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "service/service.h"
#include "service/workflow.h"
#include "util/result.h"

namespace httplib {
class Server;
}

namespace tarvel::service {

struct Listen {
  std::string address = "127.0.0.1";
  int port = 0;
};
// "[ADDRESS:]PORT" ("8080", "127.0.0.1:8080", "[::1]:8080"); why not, when it is not.
std::variant<Listen, std::string> ParseListen(const std::string& text);

struct ApiOptions {
  std::filesystem::path socket;
  std::optional<Listen> tcp;
  std::string token;  // needed on TCP when not empty
};

class ApiServer {
 public:
  // workflows: what runs POST /v1/workflows; none: they are refused.
  explicit ApiServer(Service& service, WorkflowRunner workflows = {});
  ~ApiServer();
  ApiServer(const ApiServer&) = delete;
  ApiServer& operator=(const ApiServer&) = delete;

  // Binds the socket and the TCP port and serves them on threads of their own; why not, when it cannot.
  Status Start(const ApiOptions& options);
  void Stop();

 private:
  void Install(httplib::Server& server, const std::string& token, bool local);
  void InstallPorts(httplib::Server& server);
  nlohmann::json RunWorkflow(const Workflow& workflow);

  Service& service_;
  WorkflowRunner workflows_;
  std::atomic<long long> workflowsRun_{0};
  std::filesystem::path socket_;
  std::vector<std::unique_ptr<httplib::Server>> servers_;
  std::vector<std::thread> threads_;
  bool stopped_ = false;  // Stop runs once: the destructor may come after the service has gone
};

}  // namespace tarvel::service
