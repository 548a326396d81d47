#include "watch/load_record.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>

#include "util/file_problem.h"

namespace tarvel::watch {
namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

EVP_MD_CTX* Ctx(void* ctx) { return static_cast<EVP_MD_CTX*>(ctx); }

// Fetched once: OpenSSL 3 looks the digest up anew on every implicit use, which costs more than
// hashing a line.
const EVP_MD* Sha256Digest() {
  static EVP_MD* digest = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  return digest;
}

std::string Hex(const unsigned char* bytes, unsigned length) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 15];
  }
  return hex;
}

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

template <class J>
std::string Text(const J& json, const char* key) {
  auto found = json.find(key);
  return found != json.end() && found->is_string() ? found->template get<std::string>() : std::string();
}

template <class J>
int Int(const J& json, const char* key) {
  auto found = json.find(key);
  return found != json.end() && found->is_number() ? found->template get<int>() : 0;
}

template <class J>
std::optional<int> OptionalInt(const J& json, const char* key) {
  auto found = json.find(key);
  return found != json.end() && found->is_number() ? std::optional<int>(found->template get<int>()) : std::nullopt;
}

template <class J>
SystemClock::time_point Time(const J& json, const char* key) {
  return ParseUtcTime(Text(json, key)).value_or(SystemClock::time_point{});
}

// Every line begins {"prev":"<64 hex digits>","type":"<type>": the writer puts them first.
struct Lead {
  std::string_view prev, type;
};

std::optional<Lead> LeadOf(std::string_view line) {
  constexpr std::string_view kPrev = "{\"prev\":\"", kType = "\",\"type\":\"";
  if (!line.starts_with(kPrev) || line.size() < kPrev.size() + 64 + kType.size()) return std::nullopt;
  const std::string_view prev = line.substr(kPrev.size(), 64);
  if (prev.find_first_not_of("0123456789abcdef") != std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(kPrev.size() + 64);
  if (!rest.starts_with(kType)) return std::nullopt;
  rest.remove_prefix(kType.size());
  const std::size_t end = rest.find('"');
  if (end == 0 || end == std::string_view::npos) return std::nullopt;
  return Lead{prev, rest.substr(0, end)};
}

void PutOptional(Json& json, const char* key, const std::optional<int>& value) {
  if (value) json[key] = *value;
}

LoadBand BandFromName(std::string_view name) {
  return name == "in"      ? LoadBand::In
         : name == "above" ? LoadBand::Above
         : name == "below" ? LoadBand::Below
                           : LoadBand::None;
}

LoadHeader HeaderFrom(const Json& j) {
  LoadHeader h;
  h.loadId = Text(j, "load");
  h.opened = Time(j, "opened");
  h.startedBy = Text(j, "startedBy");
  h.operatorName = Text(j, "operator");
  if (auto fields = j.find("fields"); fields != j.end() && fields->is_object())
    for (const auto& [name, value] : fields->items())
      h.fields.push_back({name, value.is_string() ? value.get<std::string>() : ""});
  if (auto missing = j.find("missing"); missing != j.end() && missing->is_array())
    for (const auto& name : *missing)
      if (name.is_string()) h.missing.push_back(name.get<std::string>());
  h.furnace = Text(j, "furnace");
  if (auto controllers = j.find("controllers"); controllers != j.end() && controllers->is_array())
    for (const auto& c : *controllers)
      h.controllers.push_back({Int(c, "channel"), Text(c, "nickname"), Int(c, "address"), Text(c, "port")});
  if (auto profile = j.find("profile"); profile != j.end() && profile->is_object()) {
    h.profileName = Text(*profile, "name");
    h.profileSha256 = Text(*profile, "sha256");
    const std::string time = Text(*profile, "timeScale"), temperature = Text(*profile, "temperatureScale");
    if (!time.empty()) h.timeScale = time[0];
    if (!temperature.empty()) h.temperatureScale = temperature[0];
    if (auto design = profile->find("design"); design != profile->end() && design->is_array())
      for (const auto& row : *design) {
        DesignRow cells;
        for (std::size_t c = 0; c < cells.size() && row.is_array() && c < row.size(); ++c)
          if (row[c].is_string()) cells[c] = row[c].get<std::string>();
        h.design.push_back(cells);
      }
  }
  if (auto program = j.find("program"); program != j.end() && program->is_object()) {
    h.lowStep = Int(*program, "low");
    h.highStep = Int(*program, "high");
    if (auto steps = program->find("steps"); steps != program->end() && steps->is_array())
      for (const auto& s : *steps)
        if (s.is_array() && s.size() == 4 &&
            std::all_of(s.begin(), s.end(), [](const Json& v) { return v.is_number(); }))
          h.program.push_back({s[0].get<int>(), s[1].get<int>(), s[2].get<int>(), s[3].get<int>()});
  }
  if (auto period = j.find("sweepPeriod"); period != j.end() && period->is_number())
    h.sweepPeriod = period->get<double>();
  return h;
}

// Splits text into its lines; the last one may lack its line end.
template <class Each>
void ForEachLine(std::string_view text, Each&& each) {
  long long number = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    const bool whole = end != std::string_view::npos;
    if (!each(++number, text.substr(at, (whole ? end : text.size()) - at), whole)) return;
    at = whole ? end + 1 : text.size();
  }
}

}  // namespace

Result<std::string> ReadRecordText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary | std::ios::ate);
  if (!in) return FileProblem("read", file, std::error_code(errno ? errno : ENOENT, std::generic_category()));
  std::string text(static_cast<std::size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (!in) return FileProblem("read", file, std::error_code(errno ? errno : EIO, std::generic_category()));
  return text;
}

// --- times and hashes

std::string UtcTime(SystemClock::time_point at) {
  const std::time_t seconds = SystemClock::to_time_t(at);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::optional<SystemClock::time_point> ParseUtcTime(std::string_view text) {
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
      text[19] != 'Z')
    return std::nullopt;
  auto number = [&](std::size_t at, std::size_t length) -> std::optional<int> {
    int value = 0;
    for (std::size_t i = at; i < at + length; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  auto y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2), mi = number(14, 2), s = number(17, 2);
  if (!y || !mo || !d || !h || !mi || !s || *mo < 1 || *mo > 12 || *d < 1 || *d > 31 || *h > 23 || *mi > 59 || *s > 60)
    return std::nullopt;
  std::tm utc{};
  utc.tm_year = *y - 1900;
  utc.tm_mon = *mo - 1;
  utc.tm_mday = *d;
  utc.tm_hour = *h;
  utc.tm_min = *mi;
  utc.tm_sec = *s;
  return SystemClock::from_time_t(timegm(&utc));
}

std::string Sha256Hex(std::string_view bytes) {
  thread_local const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_DigestInit_ex(ctx.get(), Sha256Digest(), nullptr);
  EVP_DigestUpdate(ctx.get(), bytes.data(), bytes.size());
  EVP_DigestFinal_ex(ctx.get(), digest, &length);
  return Hex(digest, length);
}

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(Ctx(ctx_), Sha256Digest(), nullptr); }
Sha256::~Sha256() { EVP_MD_CTX_free(Ctx(ctx_)); }
Sha256::Sha256(const Sha256& other) : ctx_(EVP_MD_CTX_new()) { EVP_MD_CTX_copy_ex(Ctx(ctx_), Ctx(other.ctx_)); }
Sha256& Sha256::operator=(const Sha256& other) {
  if (this != &other) EVP_MD_CTX_copy_ex(Ctx(ctx_), Ctx(other.ctx_));
  return *this;
}
void Sha256::Add(std::string_view bytes) { EVP_DigestUpdate(Ctx(ctx_), bytes.data(), bytes.size()); }
std::string Sha256::Hex() const {
  Sha256 copy(*this);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_DigestFinal_ex(Ctx(copy.ctx_), digest, &length);
  return watch::Hex(digest, length);
}

// --- fields

std::vector<FieldRule> ReadFieldRules(const AppFolder& folder) {
  std::ifstream in(folder.Setup() / "LoadFields.txt");
  if (!in)
    return {{"Customer", false}, {"Order", false},    {"Part numbers", false}, {"Quantity", false},
            {"Material", false}, {"Standard", false}, {"Revision", false},     {"Notes", false}};
  std::vector<FieldRule> rules;
  for (std::string line; std::getline(in, line);) {
    auto trim = [](std::string& t) {
      t.erase(0, t.find_first_not_of(" \t\r"));
      t.erase(t.find_last_not_of(" \t\r") + 1);
    };
    trim(line);
    if (line.empty() || line[0] == '#') continue;
    FieldRule rule{line, false};
    if (rule.name.ends_with('*')) {
      rule.required = true;
      rule.name.pop_back();
      trim(rule.name);
    }
    if (!rule.name.empty()) rules.push_back(rule);
  }
  return rules;
}

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

Result<LoadRecord> ParseLoadRecord(std::string_view text) {
  LoadRecord record;
  Status failure;
  ForEachLine(text, [&](long long number, std::string_view line, bool whole) {
    if (!whole) return true;  // a part line at the end is not yet a line of the record
    const auto lead = LeadOf(line);
    // The header keeps the order of its fields; the other lines are read the quicker way.
    const Json ordered = lead && lead->type == "header" ? Json::parse(line, nullptr, false) : Json();
    const nlohmann::json j =
        lead && lead->type != "header" ? nlohmann::json::parse(line, nullptr, false) : nlohmann::json();
    if (!lead || !(lead->type == "header" ? ordered.is_object() : j.is_object())) {
      failure =
          Status::Error(Status::Code::Damaged, "Line " + std::to_string(number) + " is not a line of a load record");
      return false;
    }
    record.lines = number;
    const std::string_view type = lead->type;
    if (j.contains("at")) record.lastAt = std::max(record.lastAt, Time(j, "at"));
    if (type == "header") {
      record.header = HeaderFrom(ordered);
      record.lastAt = std::max(record.lastAt, record.header.opened);
    } else if (type == "sample" || type == "gap") {
      LoadSample s;
      s.at = Time(j, "at");
      s.channel = Int(j, "ch");
      s.gap = type == "gap";
      s.why = Text(j, "why");
      if (auto time = j.find("time"); time != j.end() && time->is_number()) s.time = time->get<double>();
      s.runMode = Int(j, "mode");
      s.step = Int(j, "step");
      s.stepTime = Int(j, "stepTime");
      s.setPoint = Int(j, "sp");
      s.processValue = Int(j, "pv");
      s.design = OptionalInt(j, "design");
      s.low = OptionalInt(j, "low");
      s.high = OptionalInt(j, "high");
      s.band = BandFromName(Text(j, "band"));
      record.samples.push_back(std::move(s));
    } else if (type == "event") {
      LoadEvent e(Time(j, "at"), Text(j, "kind"), Int(j, "ch"));
      e.who = Text(j, "who");
      e.what = Text(j, "what");
      e.oldValue = Text(j, "old");
      e.newValue = Text(j, "new");
      e.from = ParseUtcTime(Text(j, "from"));
      e.to = ParseUtcTime(Text(j, "to"));
      record.events.push_back(std::move(e));
    } else if (type == "check") {
      record.checks.push_back({Text(j, "name"), Int(j, "ch"), Text(j, "result") == "PASS", Text(j, "reason")});
    } else if (type == "result") {
      record.close =
          LoadClose{Time(j, "at"), Text(j, "result") == "PASS", Text(j, "ended"), "", Text(j, "result") == "CANCELLED"};
    } else if (type == "close") {
      if (!record.close) record.close = LoadClose{};
      record.close->at = Time(j, "at");
      record.close->finalHash = Text(j, "final");
    } else if (type == "signature") {
      record.signatures.push_back({Time(j, "at"), Text(j, "name"), Text(j, "meaning"), Text(j, "sealed")});
    }
    return true;
  });
  if (!failure.ok()) return failure;
  // A result without its closing line: the load is not closed until that line is there.
  if (record.close && record.close->finalHash.empty()) record.close.reset();
  return record;
}

Result<LoadRecord> ReadLoadRecord(const fs::path& file) {
  auto text = ReadRecordText(file);
  if (!text.ok()) return text.status();
  auto record = ParseLoadRecord(text.value());
  if (!record.ok()) return Status::Error(record.status().code(), file.string() + ": " + record.status().message());
  return record;
}

RecordVerdict VerifyRecordText(std::string_view text) {
  RecordVerdict verdict;
  std::string before = Sha256Hex(kRecordGenesis);
  Sha256 content;
  auto broken = [&](long long line, std::string what) { verdict.breaks.push_back({line, std::move(what)}); };
  if (text.empty()) broken(0, "the record is empty");
  ForEachLine(text, [&](long long number, std::string_view line, bool whole) {
    const std::string n = std::to_string(number);
    if (!whole) {
      broken(number, "line " + n + " is not whole: it has no line end");
      return false;
    }
    verdict.lines = number;
    const auto lead = LeadOf(line);
    if (!lead) {
      broken(number, "line " + n + " is not a line of a load record");
    } else {
      const std::string type(lead->type);
      if (lead->prev != before)
        broken(number, number == 1 ? "line 1 does not begin the chain of hashes"
                                   : "line " + n + " does not carry the hash of line " + std::to_string(number - 1) +
                                         ": a line was changed, taken out or moved there");
      if ((number == 1) != (type == "header"))
        broken(number, number == 1 ? "line 1 is not the header" : "line " + n + " is a second header");
      if (verdict.closed && type != "signature")
        broken(number, "line " + n + " is a " + type + " line after the closing line");
      const nlohmann::json j = type == "close" || type == "signature" ? nlohmann::json::parse(line, nullptr, false)
                                                                      : nlohmann::json::object();
      if (type == "close") {
        if (verdict.closed) broken(number, "line " + n + " closes the load a second time");
        verdict.finalHash = j.is_object() ? Text(j, "final") : "";
        if (verdict.finalHash != content.Hex())
          broken(number, "line " + n + ": the final hash does not match the lines before it");
        verdict.closed = true;
      }
      if (type == "signature" && (!j.is_object() || Text(j, "sealed") != verdict.finalHash))
        broken(number, "line " + n + " signs another final hash than the record's");
    }
    before = Sha256Hex(line);
    content.Add(line);
    content.Add("\n");
    return true;
  });
  verdict.head = verdict.lines > 0 ? before : std::string();
  return verdict;
}

}  // namespace tarvel::watch
