#pragma once
// web: the web view's HTTP(S) server over a Plant -- the pages and their assets, compiled in, and
// JSON of what the plant holds:
//
//   GET  /  /controller  /alarms  /zones  /loads     the pages (one script reads the path)
//   GET  /static/NAME                                 their script and style
//   GET  /api/controllers | alarms | zones | loads    the plant's JSON
//   GET  /api/trend?line=L&channel=N                  the controller's recent readings
//   GET  /api/events                                  Server-Sent Events of the plant
//   POST /api/alarms/{channel}/ack?line=L             acknowledges in the user's name
//   GET  /api/loads/{id}/report.pdf | report.csv      a load's report
//
// On loopback reading needs no login and an acknowledgement names the operator the page asks
// for; on any other address every request needs a login of the password file (HTTP Basic, so
// give a certificate there) and an acknowledgement is the logged-in user's.

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "util/result.h"
#include "web/plant.h"

namespace httplib {
class Server;
}

namespace tarvel::web {

struct WebOptions {
  std::string address = "127.0.0.1";
  int port = 0;                              // 0: any free port (Port() says which)
  std::map<std::string, std::string> users;  // user -> password; needed off loopback
  std::string certFile, keyFile;             // HTTPS when both are given
  std::string fallbackUser;                  // who acknowledges on loopback when the page names nobody
};

// "user:password" lines of a password file (blank lines and "#" comments skipped); why not, when
// the file cannot be read, a line has no user or password, or there is none.
Result<std::map<std::string, std::string>> ReadPasswordFile(const std::string& file);
// The password file is needed on every address but loopback's.
bool NeedsLogin(const std::string& address);

class WebServer {
 public:
  explicit WebServer(Plant& plant);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds and serves on a thread of its own; why not, when it cannot (or must not: no logins off loopback).
  Status Start(const WebOptions& options);
  void Stop();
  int Port() const { return port_; }

 private:
  void Install(httplib::Server& server);

  Plant& plant_;
  WebOptions options_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  int port_ = 0;
};

}  // namespace tarvel::web
