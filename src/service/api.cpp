#include "service/api.h"

#include <httplib.h>
#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <functional>
#include <streambuf>

#include "util/text.h"
#include "web/http_json.h"
#include "web/web_server.h"

namespace tarvel::service {
namespace {

using nlohmann::json;
using web::Answer;
using web::Refuse;
using web::StreamEvents;

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() + 0 && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// What a workflow prints: kept whole for the answer, and passed on line by line as it comes.
class LineTap final : public std::streambuf {
 public:
  explicit LineTap(std::function<void(const std::string&)> line) : line_(std::move(line)) {}
  ~LineTap() override {
    if (!partial_.empty()) line_(partial_);
  }
  const std::string& Text() const { return text_; }

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    text_ += ch;
    if (ch == '\n') {
      line_(partial_);
      partial_.clear();
    } else {
      partial_ += ch;
    }
    return c;
  }

 private:
  std::function<void(const std::string&)> line_;
  std::string text_, partial_;
};

}  // namespace

std::variant<Listen, std::string> ParseListen(const std::string& text) {
  Listen listen;
  std::string port = text;
  if (const auto colon = text.rfind(':'); colon != std::string::npos) {
    listen.address = text.substr(0, colon);
    if (listen.address.size() >= 2 && listen.address.front() == '[' && listen.address.back() == ']')
      listen.address = listen.address.substr(1, listen.address.size() - 2);
    port = text.substr(colon + 1);
  }
  auto number = ToWholeNumber(port, 1, 65535);
  if (listen.address.empty() || !number)
    return "--listen takes [ADDRESS:]PORT, PORT from 1 to 65535, not \"" + text + "\"";
  listen.port = static_cast<int>(*number);
  return listen;
}

ApiServer::ApiServer(Service& service, WorkflowRunner workflows)
    : service_(service), workflows_(std::move(workflows)) {}

ApiServer::~ApiServer() { Stop(); }

void ApiServer::Install(httplib::Server& server, const std::string& token, bool local) {
  if (!token.empty())
    server.set_pre_routing_handler([token](const httplib::Request& req, httplib::Response& res) {
      if (req.get_header_value("Authorization") == "Bearer " + token)
        return httplib::Server::HandlerResponse::Unhandled;
      res.set_header("WWW-Authenticate", "Bearer");
      Refuse(res, 401, "This API needs its token: Authorization: Bearer TOKEN");
      return httplib::Server::HandlerResponse::Handled;
    });
  server.Get("/v1/service",
             [this](const httplib::Request&, httplib::Response& res) { Answer(res, 200, service_.Info()); });
  server.Get("/v1/channels",
             [this](const httplib::Request&, httplib::Response& res) { Answer(res, 200, service_.Channels()); });
  server.Get("/v1/events", [this](const httplib::Request&, httplib::Response& res) {
    auto last = std::make_shared<long long>(service_.Events().Last());
    StreamEvents(res, [this, last](std::vector<std::string>& events) {
      *last = service_.Events().Since(*last, events, std::chrono::seconds(1));
      return !service_.Events().Closed();
    });
  });
  // Workflows check what they write, so they may come over TCP -- but only where a token guards it.
  server.Post("/v1/workflows",
              [this, local, guarded = !token.empty()](const httplib::Request& req, httplib::Response& res) {
                if (!local && !guarded)
                  return Refuse(res, 403, "Workflows are served over TCP only with --token-file FILE");
                if (!workflows_) return Refuse(res, 501, "This service runs no workflows");
                const json request = json::parse(req.body, nullptr, false);
                if (request.is_discarded()) return Refuse(res, 400, "The workflow is not JSON");
                auto parsed = ParseWorkflow(request);
                if (auto* why = std::get_if<std::string>(&parsed)) return Refuse(res, 400, *why);
                Workflow workflow = std::get<Workflow>(std::move(parsed));
                if (!workflow.port.empty()) {
                  PortWorker* port = service_.Port(workflow.port);
                  if (!port) return Refuse(res, 404, "No port " + workflow.port + " in this service");
                  workflow.port = port->Device();
                } else if (service_.Ports().size() == 1) {
                  workflow.port = service_.Ports().front()->Device();
                }
                Answer(res, 200, RunWorkflow(workflow));
              });
  // Register-level access is for Tarvel's own programs on this computer, whose workflows check
  // what they write; over TCP a controller is reached through nothing less.
  if (!local) {
    server.Post(R"(/v1/ports/(.+)/(session|exchange))", [](const httplib::Request&, httplib::Response& res) {
      Refuse(res, 403, "Sessions and exchanges are served on the service's own socket only");
    });
    return;
  }
  InstallPorts(server);
}

// The workflow's events as it runs (started, each line printed, the exit code), and its answer.
nlohmann::json ApiServer::RunWorkflow(const Workflow& workflow) {
  const long long id = ++workflowsRun_;
  EventHub& events = service_.Events();
  events.Publish("workflow", {{"id", id}, {"args", workflow.args}, {"port", workflow.port}, {"started", true}});
  int exit = 0;
  std::string out, err;
  {
    LineTap outTap([&](const std::string& line) { events.Publish("workflow", {{"id", id}, {"out", line}}); });
    LineTap errTap([&](const std::string& line) { events.Publish("workflow", {{"id", id}, {"err", line}}); });
    std::ostream outStream(&outTap), errStream(&errTap);
    exit = workflows_(service_, workflow, outStream, errStream);
    out = outTap.Text();
    err = errTap.Text();
  }
  events.Publish("workflow", {{"id", id}, {"exit", exit}});
  return {{"id", id}, {"exit", exit}, {"out", out}, {"err", err}};
}

// Sessions and exchanges on a port: the service's own socket only.
void ApiServer::InstallPorts(httplib::Server& server) {
  server.Post(R"(/v1/ports/(.+)/session)", [this](const httplib::Request& req, httplib::Response& res) {
    PortWorker* port = service_.Port(Unescape(req.matches[1]));
    if (!port) return Refuse(res, 404, "No port " + Unescape(req.matches[1]) + " in this service");
    Answer(res, 200, {{"port", port->Device()}, {"lease", port->OpenSession()}});
  });
  server.Delete(R"(/v1/ports/(.+)/session/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
    PortWorker* port = service_.Port(Unescape(req.matches[1]));
    if (!port) return Refuse(res, 404, "No port " + Unescape(req.matches[1]) + " in this service");
    if (!port->EndSession(req.matches[2])) return Refuse(res, 404, "No session " + std::string(req.matches[2]));
    Answer(res, 200, {{"ended", std::string(req.matches[2])}});
  });
  server.Post(R"(/v1/ports/(.+)/exchange)", [this](const httplib::Request& req, httplib::Response& res) {
    PortWorker* port = service_.Port(Unescape(req.matches[1]));
    if (!port) return Refuse(res, 404, "No port " + Unescape(req.matches[1]) + " in this service");
    const json request = json::parse(req.body, nullptr, false);
    if (request.is_discarded()) return Refuse(res, 400, "The exchange is not JSON");
    auto exchange = ParseExchange(request);
    if (auto* why = std::get_if<std::string>(&exchange)) return Refuse(res, 400, *why);
    std::string lease;
    if (auto given = request.find("lease"); given != request.end()) {
      if (!given->is_string()) return Refuse(res, 400, "\"lease\" must be the text a session gave");
      lease = given->get<std::string>();
    }
    auto result = port->Run(lease, std::get<Exchange>(exchange));
    if (!result) return Refuse(res, 410, "The session " + lease + " has ended (closed, idle or the service stopping)");
    Answer(res, 200, ResultJson(*result));
  });
}

Status ApiServer::Start(const ApiOptions& options) {
  socket_ = options.socket;
  std::error_code ec;
  std::filesystem::create_directories(socket_.parent_path(), ec);
  ::chmod(socket_.parent_path().c_str(), 0700);  // ours alone, like the socket
  // The lock on the home is ours: a socket left by a service that was killed is stale.
  std::filesystem::remove(socket_, ec);
  auto unix = std::make_unique<httplib::Server>();
  unix->set_address_family(AF_UNIX);
  Install(*unix, "", true);
  if (!unix->bind_to_port(socket_.string(), 80))
    return Status::Failed("Cannot listen on the socket " + socket_.string());
  if (::chmod(socket_.c_str(), 0600) != 0)
    return Status::Failed("Cannot make the socket " + socket_.string() + " private: " + std::strerror(errno));
  servers_.push_back(std::move(unix));
  if (options.tcp) {
    if (!web::IsLoopback(options.tcp->address) && options.token.empty())
      return Status::Failed("--listen " + options.tcp->address +
                            " reaches beyond this computer: give --token-file FILE");
    auto tcp = std::make_unique<httplib::Server>();
    Install(*tcp, options.token, false);
    if (!tcp->bind_to_port(options.tcp->address, options.tcp->port))
      return Status::Failed("Cannot listen on " + options.tcp->address + ":" + std::to_string(options.tcp->port));
    servers_.push_back(std::move(tcp));
  }
  for (auto& server : servers_) threads_.emplace_back([s = server.get()] { s->listen_after_bind(); });
  return Status::Ok();
}

void ApiServer::Stop() {
  if (stopped_) return;
  stopped_ = true;
  service_.Events().Close();  // event streams end, so their threads can be joined
  for (auto& server : servers_) server->stop();
  for (auto& thread : threads_) thread.join();
  threads_.clear();
  servers_.clear();
  if (!socket_.empty()) {
    std::error_code ec;
    std::filesystem::remove(socket_, ec);
    socket_.clear();
  }
}

}  // namespace tarvel::service
