// watch: the JSON text of each line of a load record, as the writer puts it after the hash of
// the line before. Apart from the reading of records (record_read.cpp), which must still take
// the records every earlier version wrote.
#include <cmath>
#include <nlohmann/json.hpp>

#include "watch/load_record.h"

namespace tarvel::watch {
namespace {

using Json = nlohmann::ordered_json;

// Texts from users and profile names are 8-bit as typed; JSON wants UTF-8. A text that is not
// UTF-8 is read as Latin-1, so that no byte is lost.
std::string Utf8(std::string_view text) {
  bool valid = true;
  for (std::size_t i = 0; i < text.size() && valid;) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    valid = n > 0 && i + n <= text.size();
    for (std::size_t k = 1; valid && k < n; ++k) valid = (static_cast<unsigned char>(text[i + k]) >> 6) == 2;
    i += n;
  }
  if (valid) return std::string(text);
  std::string utf8;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      utf8 += ch;
    } else {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

void PutOptional(Json& json, const char* key, const std::optional<int>& value) {
  if (value) json[key] = *value;
}

}  // namespace

// --- lines

const char* LoadBandName(LoadBand band) {
  switch (band) {
    case LoadBand::None: return "";
    case LoadBand::In: return "in";
    case LoadBand::Above: return "above";
    case LoadBand::Below: return "below";
  }
  return "";
}

std::string HeaderLine(const LoadHeader& h) {
  Json j;
  j["type"] = "header";
  j["load"] = Utf8(h.loadId);
  j["opened"] = UtcTime(h.opened);
  j["startedBy"] = Utf8(h.startedBy);
  j["operator"] = Utf8(h.operatorName);
  Json fields = Json::object();
  for (const ShopField& f : h.fields) fields[Utf8(f.name)] = Utf8(f.value);
  j["fields"] = fields;
  if (!h.missing.empty()) {
    Json missing = Json::array();
    for (const auto& name : h.missing) missing.push_back(Utf8(name));
    j["missing"] = missing;
  }
  j["furnace"] = Utf8(h.furnace);
  Json controllers = Json::array();
  for (const LoadController& c : h.controllers)
    controllers.push_back(
        {{"channel", c.channel}, {"nickname", Utf8(c.nickname)}, {"address", c.address}, {"port", Utf8(c.port)}});
  j["controllers"] = controllers;
  Json design = Json::array();
  for (const DesignRow& row : h.design) {
    Json cells = Json::array();
    for (const auto& cell : row) cells.push_back(Utf8(cell));
    design.push_back(cells);
  }
  j["profile"] = {{"name", Utf8(h.profileName)},
                  {"sha256", h.profileSha256},
                  {"timeScale", std::string(1, h.timeScale)},
                  {"temperatureScale", std::string(1, h.temperatureScale)},
                  {"design", design}};
  Json steps = Json::array();
  for (const LoadStep& s : h.program) steps.push_back({s.step, s.pidSet, s.duration, s.temperature});
  j["program"] = {{"low", h.lowStep}, {"high", h.highStep}, {"steps", steps}};
  j["sweepPeriod"] = h.sweepPeriod;
  return Dump(j);
}

std::string SampleLine(const LoadSample& s) {
  Json j;
  j["type"] = s.gap ? "gap" : "sample";
  j["at"] = UtcTime(s.at);
  j["ch"] = s.channel;
  if (s.gap) {
    j["why"] = Utf8(s.why);
    return Dump(j);
  }
  j["time"] = std::round(s.time * 10000) / 10000;
  j["mode"] = s.runMode;
  j["step"] = s.step;
  j["stepTime"] = s.stepTime;
  j["sp"] = s.setPoint;
  j["pv"] = s.processValue;
  PutOptional(j, "design", s.design);
  PutOptional(j, "low", s.low);
  PutOptional(j, "high", s.high);
  PutOptional(j, "dev", s.Deviation());
  j["band"] = LoadBandName(s.band);
  return Dump(j);
}

std::string EventLine(const LoadEvent& e) {
  Json j;
  j["type"] = "event";
  j["at"] = UtcTime(e.at);
  j["kind"] = e.kind;
  if (e.channel) j["ch"] = e.channel;
  if (!e.who.empty()) j["who"] = Utf8(e.who);
  if (!e.what.empty()) j["what"] = Utf8(e.what);
  if (!e.oldValue.empty()) j["old"] = Utf8(e.oldValue);
  if (!e.newValue.empty()) j["new"] = Utf8(e.newValue);
  if (e.from) j["from"] = UtcTime(*e.from);
  if (e.to) j["to"] = UtcTime(*e.to);
  return Dump(j);
}

std::string CheckLine(const LoadCheck& c) {
  Json j;
  j["type"] = "check";
  j["name"] = c.name;
  if (c.channel) j["ch"] = c.channel;
  j["result"] = c.pass ? "PASS" : "FAIL";
  j["reason"] = Utf8(c.reason);
  return Dump(j);
}

const char* ResultWord(const LoadClose& close) { return close.cancelled ? "CANCELLED" : close.pass ? "PASS" : "FAIL"; }

std::string ResultLine(const LoadClose& c) {
  Json j;
  j["type"] = "result";
  j["at"] = UtcTime(c.at);
  j["result"] = ResultWord(c);
  j["ended"] = Utf8(c.ended);
  return Dump(j);
}

std::string CloseLine(SystemClock::time_point at) {
  Json j;
  j["type"] = "close";
  j["at"] = UtcTime(at);
  return Dump(j);
}

std::string SignatureLine(const LoadSignature& s) {
  Json j;
  j["type"] = "signature";
  j["at"] = UtcTime(s.at);
  j["name"] = Utf8(s.name);
  j["meaning"] = Utf8(s.meaning);
  j["sealed"] = s.sealed;
  return Dump(j);
}

}  // namespace tarvel::watch
