#include "watch/load_book.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <tuple>

#include "watch/record_writer.h"

namespace tarvel::watch {
namespace {

namespace fs = std::filesystem;

// Enough of a record's end to hold its result, closing line and signatures.
constexpr std::streamoff kTail = 64 * 1024;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::optional<LoadSummary> Summarize(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string first;
  if (!in || !std::getline(in, first)) return std::nullopt;
  auto head = ParseLoadRecord(first + "\n");
  if (!head.ok() || head->header.loadId.empty()) return std::nullopt;
  LoadSummary summary{head->header, std::nullopt, 0};
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  const std::streamoff from = std::max<std::streamoff>(0, size - kTail);
  in.seekg(from);
  std::string tail{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (from > 0) tail.erase(0, tail.find('\n') + 1);  // a line cut by the seek
  auto end = ParseLoadRecord(tail);
  if (!end.ok()) return std::nullopt;
  if (!end->close && from > 0 && !end->signatures.empty()) end = ReadLoadRecord(file);  // signatures beyond the tail
  if (!end.ok()) return std::nullopt;
  summary.close = end->close;
  summary.signatures = end->signatures.size();
  return summary;
}

bool Passes(const LoadSummary& load, const LoadFilter& filter) {
  const auto& h = load.header;
  const auto until = load.close ? load.close->at : SystemClock::time_point::max();
  if (filter.from && until < *filter.from) return false;
  if (filter.to && h.opened > *filter.to) return false;
  if (filter.channel && std::none_of(h.controllers.begin(), h.controllers.end(),
                                     [&](const LoadController& c) { return c.channel == *filter.channel; }))
    return false;
  if (filter.pass && (!load.close || load.close->pass != *filter.pass)) return false;
  if (filter.cancelled && (!load.close || load.close->cancelled != *filter.cancelled)) return false;
  if (filter.order) {
    auto order =
        std::find_if(h.fields.begin(), h.fields.end(), [](const ShopField& f) { return Lower(f.name) == "order"; });
    if (order == h.fields.end() || Lower(order->value).find(Lower(*filter.order)) == std::string::npos) return false;
  }
  return true;
}

}  // namespace

fs::path LoadsFolder(const AppFolder& folder) { return folder.LogFiles() / "Loads"; }

fs::path LoadFile(const AppFolder& folder, std::string_view loadId) {
  return LoadsFolder(folder) / (std::string(loadId) + ".jsonl");
}

bool IsLoadId(std::string_view text) {
  return text.size() > 2 && text.size() < 64 && text.starts_with("L-") &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; });
}

bool FilterResult(LoadFilter& filter, std::string_view word) {
  if (word != "PASS" && word != "FAIL" && word != "CANCELLED") return false;
  filter.cancelled = word == "CANCELLED";
  filter.pass = word == "CANCELLED" ? std::nullopt : std::optional<bool>(word == "PASS");
  return true;
}

std::vector<LoadSummary> ListLoads(const AppFolder& folder, const LoadFilter& filter,
                                   std::vector<std::string>* skipped) {
  std::vector<LoadSummary> loads;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(LoadsFolder(folder), ec)) {
    if (entry.path().extension() != ".jsonl") continue;
    auto summary = Summarize(entry.path());
    if (!summary) {
      if (skipped) skipped->push_back(entry.path().filename().string());
      continue;
    }
    if (Passes(*summary, filter)) loads.push_back(std::move(*summary));
  }
  std::sort(loads.begin(), loads.end(), [](const LoadSummary& a, const LoadSummary& b) {
    return std::tie(a.header.opened, a.header.loadId) < std::tie(b.header.opened, b.header.loadId);
  });
  return loads;
}

std::string SummaryLine(const LoadSummary& load) {
  const LoadHeader& h = load.header;
  std::string line = h.loadId + "  " + UtcTime(h.opened) + "  ";
  line += load.close ? UtcTime(load.close->at) + "  " + ResultWord(*load.close) : "under way  open";
  std::string channels;
  for (const LoadController& c : h.controllers) channels += (channels.empty() ? "" : ",") + std::to_string(c.channel);
  line += "  ch " + channels;
  if (!h.furnace.empty()) line += "  " + h.furnace;
  for (const ShopField& f : h.fields)
    if (Lower(f.name) == "order") line += "  Order " + f.value;
  line += "  " + h.profileName;
  if (load.signatures > 0) line += "  signed " + std::to_string(load.signatures);
  return line;
}

RecordVerdict VerifyLoad(const AppFolder& folder, store::ConfigStore& store, std::string_view loadId) {
  const fs::path file = LoadFile(folder, loadId);
  auto read = ReadRecordText(file);
  if (!read.ok()) {
    RecordVerdict missing;
    missing.breaks.push_back({0, read.status().message()});
    return missing;
  }
  const std::string& text = read.value();
  RecordVerdict verdict = VerifyRecordText(text);
  if (const std::size_t end = text.find('\n'); end != std::string::npos) {
    auto head = ParseLoadRecord(text.substr(0, end + 1));
    if (head.ok() && head->header.loadId != loadId)
      verdict.breaks.push_back({1, "the header is of load " + head->header.loadId});
  }
  auto row = store.Load(loadId);
  if (!row.ok()) {
    verdict.breaks.push_back({0, "its seal cannot be read: " + row.status().message()});
  } else if (!row->has_value()) {
    verdict.breaks.push_back({0, "the Loads table does not know this load"});
  } else if ((*row)->state == "closed") {
    const store::LoadRow& seal = **row;
    const std::string sealed = std::to_string(seal.lines);
    if (verdict.lines < seal.lines)
      verdict.breaks.push_back({verdict.lines, "the record ends at line " + std::to_string(verdict.lines) +
                                                   "; it was sealed with " + sealed +
                                                   " lines: lines were taken off its end"});
    else if (verdict.lines > seal.lines)
      verdict.breaks.push_back({seal.lines + 1, "lines were added after its seal of " + sealed + " lines"});
    else if (verdict.head != seal.head)
      verdict.breaks.push_back({verdict.lines, "line " + sealed + " is not the line the record was sealed with"});
  } else if (verdict.closed) {
    verdict.breaks.push_back({0, "the Loads table has the load under way, the record is closed"});
  }
  return verdict;
}

Status SignLoad(const AppFolder& folder, store::ConfigStore& store, std::string_view loadId, const std::string& name,
                const std::string& meaning, SystemClock::time_point at) {
  const std::string id(loadId);
  if (meaning != "reviewed" && meaning != "approved")
    return Status::Error(Status::Code::Invalid, "A signature means reviewed or approved, not \"" + meaning + "\"");
  if (name.find_first_not_of(" \t") == std::string::npos)
    return Status::Error(Status::Code::Invalid, "A signature needs a name");
  const RecordVerdict verdict = VerifyLoad(folder, store, loadId);
  if (!verdict.Whole())
    return Status::Error(Status::Code::Invalid, "Load " + id + " not signed: " + verdict.breaks.front().what);
  if (!verdict.closed)
    return Status::Error(Status::Code::Invalid,
                         "Load " + id + " not signed: it is under way; a load is signed once it is closed");
  auto writer = RecordWriter::Continue(LoadFile(folder, loadId), OpenRecordFile);
  if (!writer.ok()) return writer.status();
  (*writer)->Add(SignatureLine({at, name, meaning, verdict.finalHash}), at, true);
  if ((*writer)->Holding())
    return Status::Error((*writer)->Failure().code(), "Load " + id + " not signed: " + (*writer)->Failure().message());
  auto row = store.Load(loadId);
  store::LoadRow seal;
  if (row.ok() && row->has_value()) seal = **row;
  seal.loadId = id;
  seal.state = "closed";
  seal.head = (*writer)->Head();
  seal.lines = (*writer)->Lines();
  if (Status saved = store.SaveLoad(seal); !saved.ok())
    return Status::Error(
        saved.code(),
        "Load " + id + " is signed in its record, but its new seal could not be stored: " + saved.message());
  return Status::Ok();
}

}  // namespace tarvel::watch
