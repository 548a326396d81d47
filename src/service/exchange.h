#pragma once
// service: one operation of link::Line as the API carries it. A request names the operation and
// its numbers; the answer carries the Outcome the port's line gave and the values read, so a
// client sees the very failures a line of its own would give. Qt-free; depends on link.
//
//   {"op": "readPair", "address": 1, "register": 4}
//   {"op": "readBlock", "address": 1, "register": 4, "count": 6}
//   {"op": "writeRegisters", "address": 1, "register": 4, "value": 100, "next": 0}
//   {"op": "writeCoil", "address": 1, "coil": 1, "on": true}
//   {"op": "probe", "address": 1}   (a scan's presence probe, with its short reply window)
// answered {"outcome": "ok", "code": 0, "values": [..]}.

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "link/line.h"
#include "link/line_scan.h"

namespace tarvel::service {

struct Exchange {
  enum class Op { ReadPair, ReadBlock, WriteRegisters, WriteCoil, Probe };
  Op op = Op::ReadPair;
  std::uint8_t address = 0;
  std::uint16_t reg = 0;  // the register, or the coil
  int count = 2;
  std::uint16_t value = 0, next = 0;
  bool on = false;
};

struct ExchangeResult {
  link::Outcome outcome = link::Outcome::NotSent;
  std::vector<std::uint16_t> values;
};

// The request's exchange, or why it is not one (for a 400 answer).
std::variant<Exchange, std::string> ParseExchange(const nlohmann::json& request);
nlohmann::json ExchangeJson(const Exchange& exchange);

ExchangeResult Run(link::Line& line, const Exchange& exchange);
nlohmann::json ResultJson(const ExchangeResult& result);
// NotSent with nothing read when the answer is not one of ours.
ExchangeResult ParseResult(const nlohmann::json& answer);

// A line whose operations are exchanges made elsewhere -- through the service's API, or by a
// port's worker in this process -- failing as the port itself does.
class ExchangeLine : public link::Line {
 public:
  link::Reply<link::RegisterPair> ReadRegisterPair(std::uint8_t address, std::uint16_t reg) override;
  link::Outcome WriteRegisters(std::uint8_t address, std::uint16_t reg, std::uint16_t value,
                               std::uint16_t next) override;
  link::Outcome WriteCoil(std::uint8_t address, std::uint16_t coil, bool on) override;
  link::Reply<std::vector<std::uint16_t>> ReadRegisterBlock(std::uint8_t address, std::uint16_t reg,
                                                            int count) override;
  // A scan's presence probe, made by the port's owner with its short window.
  link::Probe ProbeUnit(std::uint8_t address);

 protected:
  virtual ExchangeResult Send(const Exchange& exchange) = 0;
};

}  // namespace tarvel::service
