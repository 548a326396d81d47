#include "service/exchange.h"

#include <nlohmann/json.hpp>

namespace tarvel::service {
namespace {

using nlohmann::json;

constexpr std::pair<Exchange::Op, const char*> kOps[] = {{Exchange::Op::ReadPair, "readPair"},
                                                         {Exchange::Op::ReadBlock, "readBlock"},
                                                         {Exchange::Op::WriteRegisters, "writeRegisters"},
                                                         {Exchange::Op::WriteCoil, "writeCoil"},
                                                         {Exchange::Op::Probe, "probe"}};

// A whole number field within low..high; the fault named when it is missing or out of range.
std::optional<long long> Number(const json& request, const char* name, long long low, long long high,
                                std::string& fault) {
  auto found = request.find(name);
  if (found == request.end() || !found->is_number_integer()) {
    if (fault.empty()) fault = std::string("\"") + name + "\" must be a whole number";
    return std::nullopt;
  }
  const long long value = found->get<long long>();
  if (value < low || value > high) {
    if (fault.empty())
      fault = std::string("\"") + name + "\" must be from " + std::to_string(low) + " to " + std::to_string(high);
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::variant<Exchange, std::string> ParseExchange(const json& request) {
  if (!request.is_object()) return std::string("the exchange must be a JSON object");
  auto op = request.find("op");
  if (op == request.end() || !op->is_string()) return std::string("\"op\" must name the operation");
  Exchange e;
  const std::string name = op->get<std::string>();
  auto known = std::find_if(std::begin(kOps), std::end(kOps), [&](const auto& o) { return name == o.second; });
  if (known == std::end(kOps))
    return "unknown \"op\" \"" + name + "\": readPair, readBlock, writeRegisters, writeCoil or probe";
  e.op = known->first;
  std::string fault;
  // Every address a line can carry: the line itself refuses 0 and the broadcast as NotSent.
  const auto address = Number(request, "address", 0, 255, fault);
  const auto reg = e.op == Exchange::Op::Probe
                       ? std::optional<long long>(0)
                       : Number(request, e.op == Exchange::Op::WriteCoil ? "coil" : "register", 0, 65535, fault);
  std::optional<long long> count = 2, value = 0, next = 0;
  if (e.op == Exchange::Op::ReadBlock) count = Number(request, "count", 1, 125, fault);
  if (e.op == Exchange::Op::WriteRegisters) {
    value = Number(request, "value", 0, 65535, fault);
    next = Number(request, "next", 0, 65535, fault);
  }
  if (e.op == Exchange::Op::WriteCoil) {
    auto on = request.find("on");
    if (on == request.end() || !on->is_boolean()) return std::string("\"on\" must be true or false");
    e.on = on->get<bool>();
  }
  if (!fault.empty()) return fault;
  e.address = static_cast<std::uint8_t>(*address);
  e.reg = static_cast<std::uint16_t>(*reg);
  e.count = static_cast<int>(*count);
  e.value = static_cast<std::uint16_t>(*value);
  e.next = static_cast<std::uint16_t>(*next);
  return e;
}

json ExchangeJson(const Exchange& e) {
  json j{{"op", std::find_if(std::begin(kOps), std::end(kOps), [&](const auto& o) { return o.first == e.op; })->second},
         {"address", e.address}};
  if (e.op != Exchange::Op::Probe) j[e.op == Exchange::Op::WriteCoil ? "coil" : "register"] = e.reg;
  if (e.op == Exchange::Op::ReadBlock) j["count"] = e.count;
  if (e.op == Exchange::Op::WriteRegisters) {
    j["value"] = e.value;
    j["next"] = e.next;
  }
  if (e.op == Exchange::Op::WriteCoil) j["on"] = e.on;
  return j;
}

ExchangeResult Run(link::Line& line, const Exchange& e) {
  switch (e.op) {
    case Exchange::Op::ReadPair: {
      auto pair = line.ReadRegisterPair(e.address, e.reg);
      return {pair.outcome, pair.ok() ? std::vector<std::uint16_t>{pair.value.first, pair.value.second}
                                      : std::vector<std::uint16_t>{}};
    }
    case Exchange::Op::ReadBlock: {
      auto block = line.ReadRegisterBlock(e.address, e.reg, e.count);
      return {block.outcome, block.ok() ? block.value : std::vector<std::uint16_t>{}};
    }
    case Exchange::Op::WriteRegisters: return {line.WriteRegisters(e.address, e.reg, e.value, e.next), {}};
    case Exchange::Op::WriteCoil: return {line.WriteCoil(e.address, e.reg, e.on), {}};
    case Exchange::Op::Probe: {
      // The short window is the port's own setting: only its owner's serial line has one.
      auto* serial = dynamic_cast<link::ModbusRtuLine*>(&line);
      if (!serial) return {link::Outcome::NotSent, {}};
      const link::Probe probe = link::ProbeUnit(*serial, e.address);
      return {probe.outcome, probe.present()
                                 ? std::vector<std::uint16_t>{static_cast<std::uint16_t>(probe.processValue)}
                                 : std::vector<std::uint16_t>{}};
    }
  }
  return {};
}

json ResultJson(const ExchangeResult& result) {
  return {{"outcome", std::string(link::Describe(result.outcome))},
          {"code", static_cast<int>(result.outcome)},
          {"values", result.values}};
}

ExchangeResult ParseResult(const json& answer) {
  ExchangeResult result;
  if (!answer.is_object()) return result;
  auto code = answer.find("code");
  if (code == answer.end() || !code->is_number_integer()) return result;
  const int value = code->get<int>();
  if (value < 0 || value > static_cast<int>(link::Outcome::Cancelled)) return result;
  result.outcome = static_cast<link::Outcome>(value);
  if (auto values = answer.find("values"); values != answer.end() && values->is_array())
    for (const json& v : *values)
      if (v.is_number_unsigned() && v.get<unsigned long long>() <= 65535)
        result.values.push_back(v.get<std::uint16_t>());
  return result;
}

link::Reply<link::RegisterPair> ExchangeLine::ReadRegisterPair(std::uint8_t address, std::uint16_t reg) {
  ExchangeResult result = Send({Exchange::Op::ReadPair, address, reg});
  if (result.outcome == link::Outcome::Ok && result.values.size() != 2) return {link::Outcome::BadLength, {}};
  if (result.outcome != link::Outcome::Ok) return {result.outcome, {}};
  return {link::Outcome::Ok, {result.values[0], result.values[1]}};
}

link::Outcome ExchangeLine::WriteRegisters(std::uint8_t address, std::uint16_t reg, std::uint16_t value,
                                           std::uint16_t next) {
  Exchange e{Exchange::Op::WriteRegisters, address, reg};
  e.value = value;
  e.next = next;
  return Send(e).outcome;
}

link::Outcome ExchangeLine::WriteCoil(std::uint8_t address, std::uint16_t coil, bool on) {
  Exchange e{Exchange::Op::WriteCoil, address, coil};
  e.on = on;
  return Send(e).outcome;
}

link::Reply<std::vector<std::uint16_t>> ExchangeLine::ReadRegisterBlock(std::uint8_t address, std::uint16_t reg,
                                                                        int count) {
  Exchange e{Exchange::Op::ReadBlock, address, reg};
  e.count = count;
  ExchangeResult result = Send(e);
  if (result.outcome == link::Outcome::Ok && static_cast<int>(result.values.size()) != count)
    return {link::Outcome::BadLength, {}};
  return {result.outcome, result.outcome == link::Outcome::Ok ? result.values : std::vector<std::uint16_t>{}};
}

link::Probe ExchangeLine::ProbeUnit(std::uint8_t address) {
  Exchange e{Exchange::Op::Probe, address};
  const ExchangeResult result = Send(e);
  link::Probe probe{address, result.outcome};
  if (result.outcome == link::Outcome::Ok && result.values.size() != 1) probe.outcome = link::Outcome::BadLength;
  if (probe.present()) probe.processValue = static_cast<std::int16_t>(result.values[0]);
  return probe;
}

}  // namespace tarvel::service
