#include "web/web_server.h"

#include <httplib.h>

#include <fstream>
#include <limits>

#include "util/text.h"
#include "web/assets.h"

namespace tarvel::web {
namespace {

using nlohmann::json;

void Answer(httplib::Response& res, int status, const json& body) {
  res.status = status;
  res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void Refuse(httplib::Response& res, int status, const std::string& message) {
  Answer(res, status, {{"message", message}});
}

std::string Base64Decode(const std::string& text) {
  static const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  int bits = 0, value = 0;
  for (char c : text) {
    if (c == '=') break;
    const auto at = digits.find(c);
    if (at == std::string::npos) return {};
    value = (value << 6) | static_cast<int>(at);
    if ((bits += 6) >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xff);
    }
  }
  return out;
}

// As long whatever the password guessed: no timing tells how much of it was right.
bool SameText(const std::string& a, const std::string& b) {
  unsigned char differ = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i % (b.size() + 1)]);
  return differ == 0;
}

// The user of a good "Authorization: Basic ..." header; empty when there is none or it is wrong.
std::string LoggedIn(const httplib::Request& req, const std::map<std::string, std::string>& users) {
  const std::string header = req.get_header_value("Authorization");
  if (!header.starts_with("Basic ")) return {};
  const std::string pair = Base64Decode(header.substr(6));
  const auto colon = pair.find(':');
  if (colon == std::string::npos) return {};
  const auto user = users.find(pair.substr(0, colon));
  const std::string password = user == users.end() ? std::string(64, '\0') : user->second;
  const bool good = SameText(pair.substr(colon + 1), password);
  return good && user != users.end() ? user->first : std::string();
}

const char* MimeOf(const std::string& name) {
  if (name.ends_with(".js")) return "text/javascript; charset=utf-8";
  if (name.ends_with(".css")) return "text/css; charset=utf-8";
  if (name.ends_with(".html")) return "text/html; charset=utf-8";
  if (name.ends_with(".svg")) return "image/svg+xml";
  return "application/octet-stream";
}

}  // namespace

Result<std::map<std::string, std::string>> ReadPasswordFile(const std::string& file) {
  std::ifstream in(file);
  if (!in) return Status::Failed("Cannot read the password file " + file + ": " + std::strerror(errno));
  std::map<std::string, std::string> users;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    const auto colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == line.size())
      return Status::Failed(file + " line " + std::to_string(number) + ": not user:password");
    users[line.substr(0, colon)] = line.substr(colon + 1);
  }
  if (users.empty()) return Status::Failed("The password file " + file + " names no user (lines user:password)");
  return users;
}

bool NeedsLogin(const std::string& address) {
  return !(address == "localhost" || address == "::1" || address.starts_with("127."));
}

WebServer::WebServer(Plant& plant) : plant_(plant) {}

WebServer::~WebServer() { Stop(); }

void WebServer::Install(httplib::Server& server) {
  // With a password file every request needs a login, loopback or not.
  if (!options_.users.empty())
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      if (!LoggedIn(req, options_.users).empty()) return httplib::Server::HandlerResponse::Unhandled;
      res.set_header("WWW-Authenticate", "Basic realm=\"Tarvel\", charset=\"UTF-8\"");
      Refuse(res, 401, "The web view of this line needs a login");
      return httplib::Server::HandlerResponse::Handled;
    });
  for (const char* page : {"/", "/controller", "/alarms", "/zones", "/loads"})
    server.Get(page, [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(Assets().at("index.html")), MimeOf("index.html"));
    });
  server.Get(R"(/static/([A-Za-z0-9_.-]+))", [](const httplib::Request& req, httplib::Response& res) {
    const auto asset = Assets().find(req.matches[1]);
    if (asset == Assets().end()) return Refuse(res, 404, "No such file");
    res.set_content(std::string(asset->second), MimeOf(asset->first));
  });
  server.Get("/api/controllers",
             [this](const httplib::Request&, httplib::Response& res) { Answer(res, 200, plant_.Controllers()); });
  server.Get("/api/alarms",
             [this](const httplib::Request&, httplib::Response& res) { Answer(res, 200, plant_.Alarms()); });
  server.Get("/api/zones",
             [this](const httplib::Request&, httplib::Response& res) { Answer(res, 200, plant_.Zones()); });
  server.Get("/api/loads",
             [this](const httplib::Request&, httplib::Response& res) { Answer(res, 200, plant_.Loads()); });
  server.Get("/api/trend", [this](const httplib::Request& req, httplib::Response& res) {
    const auto channel = ToWholeNumber(req.get_param_value("channel"), 1, 32767);
    if (!channel) return Refuse(res, 400, "/api/trend needs channel=N");
    Answer(res, 200, plant_.Trend(req.get_param_value("line"), static_cast<int>(*channel)));
  });
  server.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
    // A page gets what happens from now on: what was before, it reads from the JSON.
    std::vector<std::string> none;
    auto last = std::make_shared<long long>(
        plant_.Since(std::numeric_limits<long long>::max(), none, std::chrono::milliseconds(0)));
    res.set_header("Cache-Control", "no-cache");
    res.set_chunked_content_provider("text/event-stream", [this, last](std::size_t, httplib::DataSink& sink) {
      if (stopping_) {
        sink.done();
        return true;
      }
      std::vector<std::string> events;
      *last = plant_.Since(*last, events, std::chrono::seconds(1));
      // A comment now and then: a page that went away is noticed and its thread freed.
      if (events.empty()) events.push_back(": still here\n\n");
      for (const std::string& event : events)
        if (!sink.write(event.data(), event.size())) return false;
      return true;
    });
  });
  server.Post(R"(/api/alarms/(\d+)/ack)", [this](const httplib::Request& req, httplib::Response& res) {
    const auto channel = ToWholeNumber(req.matches[1].str(), 1, 32767);
    if (!channel) return Refuse(res, 400, "Not a channel: " + std::string(req.matches[1]));
    // JSON only: a form on another site cannot send it without the browser asking first.
    if (!req.get_header_value("Content-Type").starts_with("application/json"))
      return Refuse(res, 415, "An acknowledgement is JSON: {\"operator\": \"NAME\"}");
    std::string who = options_.users.empty() ? "" : LoggedIn(req, options_.users);
    if (who.empty()) {
      const json body = json::parse(req.body, nullptr, false);
      if (body.is_object() && body.contains("operator") && body["operator"].is_string())
        who = body["operator"].get<std::string>();
      if (who.find_first_not_of(" \t") == std::string::npos) who.clear();
      if (who.empty()) who = options_.fallbackUser;
    }
    if (who.empty()) return Refuse(res, 400, "Who acknowledges? Give the operator's name");
    if (Status acked = plant_.Acknowledge(req.get_param_value("line"), static_cast<int>(*channel), who); !acked.ok())
      return Refuse(res, acked.code() == Status::Code::NotFound ? 404 : 409, acked.message());
    Answer(res, 200, json{{"channel", *channel}, {"ackedBy", who}});
  });
  server.Get(R"(/api/loads/([^/]+)/report\.(pdf|csv))", [this](const httplib::Request& req, httplib::Response& res) {
    const std::string id = req.matches[1], format = req.matches[2];
    auto report = plant_.Report(req.get_param_value("line"), id, format);
    if (!report.ok())
      return Refuse(res, report.status().code() == Status::Code::NotFound ? 404 : 409, report.status().message());
    res.set_header("Content-Disposition", "attachment; filename=\"" + id + "." + format + "\"");
    res.set_content(*report, format == "pdf" ? "application/pdf" : "text/csv; charset=utf-8");
  });
}

Status WebServer::Start(const WebOptions& options) {
  options_ = options;
  if (NeedsLogin(options.address) && options.users.empty())
    return Status::Failed("--http " + options.address +
                          " reaches beyond this computer: give --http-password-file FILE (lines user:password)");
  if (options.certFile.empty() != options.keyFile.empty())
    return Status::Failed("HTTPS needs both --http-cert FILE and --http-key FILE");
  if (!options.certFile.empty()) {
    auto tls = std::make_unique<httplib::SSLServer>(options.certFile.c_str(), options.keyFile.c_str());
    if (!tls->is_valid())
      return Status::Failed("Cannot use the certificate " + options.certFile + " with the key " + options.keyFile);
    server_ = std::move(tls);
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  Install(*server_);
  port_ = options.port == 0 ? server_->bind_to_any_port(options.address)
                            : (server_->bind_to_port(options.address, options.port) ? options.port : -1);
  if (port_ <= 0) {
    server_.reset();
    return Status::Failed("Cannot listen on " + options.address + ":" + std::to_string(options.port));
  }
  thread_ = std::thread([s = server_.get()] { s->listen_after_bind(); });
  return Status::Ok();
}

void WebServer::Stop() {
  stopping_ = true;  // event streams end within a second, so their threads can be joined
  if (server_) server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

}  // namespace tarvel::web
