#pragma once
// service: a home served in the foreground until SIGINT or SIGTERM -- tarvel-line, and tarvel-cli
// watch, which is the same service on the one port it is given (its readings printed). Both take
// the same options, parsed here. Under systemd (Type=notify) it says READY=1 once every port is
// open or being retried, a STATUS= line per port, and WATCHDOG=1 while its loop runs.

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "publish/mqtt_publisher.h"
#include "service/api.h"
#include "service/port_worker.h"
#include "service/service_plant.h"
#include "web/mqtt_plant.h"
#include "web/web_server.h"

namespace tarvel::service {

struct ServeOptions {
  std::vector<std::string> ports;  // only these (sweeping unported channels too); every mapped port when empty
  PortOptions port;
  long long count = 0;  // ends once every port has finished this many sweeps; 0: never
  std::string mqttUrl;
  publish::MqttOptions mqtt;
  ApiOptions api;  // its socket is the home's
  std::string tokenFile;
  std::string passwordFile;            // the MQTT password's first line
  bool printReadings = false;          // a line per reading, alarm and zone spread on out (tarvel-cli watch)
  std::string name;                    // "tarvel-line": its lines start with it, and it says what it serves
  WorkflowRunner workflows;            // what runs a workflow request; none: such requests are refused
  std::optional<web::WebOptions> web;  // the web view, when --http is given
  std::string httpPasswordFile;
  ReportMaker reports;  // the web view's load reports; none: it offers none
  // --from-mqtt: the web view shows the plant as this broker carries it (every line under the
  // URL's prefix) instead of this PC's service; the MQTT login and TLS options serve both URLs.
  std::string fromMqttUrl;
  publish::MqttOptions plantMqtt;
  bool plantOnly = false;  // no line of our own: the web view of the broker's plant alone
};

// The option at args[i] and its value, moving i past them: false when it is not one of these
// (why empty) or its value is bad (why says so).
bool TakeServeOption(const std::vector<std::string>& args, std::size_t& i, ServeOptions& options, std::string& why);
// After the last option: what needs them all (the MQTT URL, its options without it, the token
// file, the web view's password file and where it may listen without one).
std::optional<std::string> CheckServeOptions(ServeOptions& options);

// Runs until a signal, --count sweeps, or a port given up (exit 1); a home another service holds
// or a configuration it cannot use ends it at once (the exit codes of service.h).
int Serve(const AppFolder& folder, ServeOptions options, std::ostream& out, std::ostream& err);

}  // namespace tarvel::service
