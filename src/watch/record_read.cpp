// watch: a load record read back into values, and its chain of hashes checked line by line.
// Apart from the text of the lines (record_lines.cpp): the reader must take the records of every
// version written, not only of this one.
#include <algorithm>
#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>

#include "util/file_problem.h"
#include "watch/load_record.h"

namespace tarvel::watch {
namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

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
