#include "service/remote_line.h"

#include <httplib.h>

#include <filesystem>

#include "service/service.h"

namespace tarvel::service {
namespace {

std::unique_ptr<httplib::Client> ClientOf(const std::string& socket) {
  auto client = std::make_unique<httplib::Client>(socket, 80);
  client->set_address_family(AF_UNIX);
  client->set_keep_alive(true);
  client->set_connection_timeout(std::chrono::seconds(2));
  // An exchange may wait for sessions opened before ours: a long upload of another client.
  client->set_read_timeout(std::chrono::minutes(10));
  return client;
}

std::string Escape(const std::string& port) {
  std::string out;
  for (unsigned char c : port) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

bool SameDevice(const std::string& a, const std::string& b) {
  std::error_code ea, eb;
  return a == b || (std::filesystem::exists(a, ea) && std::filesystem::exists(b, eb) &&
                    std::filesystem::equivalent(a, b, ea) && !ea);
}

}  // namespace

std::optional<FoundService> FindService(const AppFolder& folder) {
  const std::filesystem::path socket = SocketPath(folder);
  std::error_code ec;
  if (!std::filesystem::is_socket(socket, ec)) return std::nullopt;
  auto client = ClientOf(socket.string());
  client->set_read_timeout(std::chrono::seconds(5));
  auto res = client->Get("/v1/service");
  if (!res || res->status != 200) return std::nullopt;
  auto info = nlohmann::json::parse(res->body, nullptr, false);
  if (info.is_discarded() || !info.contains("ports")) return std::nullopt;
  return FoundService{socket.string(), std::move(info)};
}

std::string ServedPort(const FoundService& service, const std::string& device) {
  for (const auto& port : service.info["ports"])
    if (port.contains("port") && port["port"].is_string() && SameDevice(port["port"].get<std::string>(), device))
      return port["port"].get<std::string>();
  return {};
}

RemoteLine::RemoteLine(std::string socket, std::string port)
    : client_(ClientOf(socket)), port_(std::move(port)), path_("/v1/ports/" + Escape(port_)) {}

RemoteLine::~RemoteLine() {
  if (!lease_.empty()) client_->Delete(path_ + "/session/" + lease_);
}

std::optional<std::string> RemoteLine::Open() {
  auto res = client_->Post(path_ + "/session", "", "application/json");
  if (!res) return "The line service does not answer: " + httplib::to_string(res.error());
  auto answer = nlohmann::json::parse(res->body, nullptr, false);
  if (res->status != 200 || answer.is_discarded() || !answer.contains("lease"))
    return "The line service refused a session on " + port_ + ": " +
           (answer.is_object() && answer.contains("message") ? answer["message"].dump() : res->body);
  lease_ = answer["lease"].get<std::string>();
  return std::nullopt;
}

ExchangeResult RemoteLine::Send(const Exchange& exchange) {
  nlohmann::json request = ExchangeJson(exchange);
  request["lease"] = lease_;
  auto res = client_->Post(path_ + "/exchange", request.dump(), "application/json");
  // A session that ran out between two exchanges (a verb that waits between readings): the
  // exchange was not made, so it goes again in a new session.
  if (res && res->status == 410 && !Open()) {
    request["lease"] = lease_;
    res = client_->Post(path_ + "/exchange", request.dump(), "application/json");
  }
  // The service gone: the port failed as far as this command can tell.
  if (!res || res->status != 200) return {link::Outcome::PortError, {}};
  return ParseResult(nlohmann::json::parse(res->body, nullptr, false));
}

}  // namespace tarvel::service
