#pragma once
// service: a line through the home's line service. Each operation goes to the service as one
// exchange within a session of this line's own, so another client's exchanges never come
// between two of ours -- unless the session ran out (10 s without a request), when the next
// exchange opens a new one. The answer is the Outcome the service's port gave. A service that
// cannot be reached answers PortError. Qt-free; depends on link.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "link/line.h"
#include "service/exchange.h"
#include "util/app_folder.h"

namespace httplib {
class Client;
}

namespace tarvel::service {

struct FoundService {
  std::string socket;
  nlohmann::json info;  // what GET /v1/service answered
};
// The line service of the home, when one answers on its socket.
std::optional<FoundService> FindService(const AppFolder& folder);
// The port of the service that is device (its path as mapped, or the same device); empty when none.
std::string ServedPort(const FoundService& service, const std::string& device);

class RemoteLine final : public ExchangeLine {
 public:
  RemoteLine(std::string socket, std::string port);
  ~RemoteLine() override;  // ends the session
  RemoteLine(const RemoteLine&) = delete;
  RemoteLine& operator=(const RemoteLine&) = delete;

  // Opens the session; the reason when the service refuses it.
  std::optional<std::string> Open();
  const std::string& Port() const { return port_; }

 private:
  ExchangeResult Send(const Exchange& exchange) override;

  std::unique_ptr<httplib::Client> client_;
  std::string port_, path_, lease_;
};

}  // namespace tarvel::service
