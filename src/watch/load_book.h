#pragma once
// watch: the load records of an application folder -- where they lie, the list of them with
// its filters, whether one is whole and untouched, and signing a closed one. Each closed load
// has a seal in the Loads table (the hash of its last line and its line count), so that a line
// taken off the end of a record shows too. Qt-free; depends on store and util.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/config_store.h"
#include "util/app_folder.h"
#include "util/result.h"
#include "watch/load_record.h"

namespace tarvel::watch {

// LogFiles/Loads/ and the record of a load in it, <id>.jsonl.
std::filesystem::path LoadsFolder(const AppFolder& folder);
std::filesystem::path LoadFile(const AppFolder& folder, std::string_view loadId);
// "L-" and then letters, digits and "-" only: an id never leads out of the folder.
bool IsLoadId(std::string_view text);

// A load as the list shows it: its header and how it ended, read from its record.
struct LoadSummary {
  LoadHeader header;
  std::optional<LoadClose> close;  // none while the load is under way
  std::size_t signatures = 0;
};

struct LoadFilter {
  std::optional<SystemClock::time_point> from, to;  // the load was under way at some time between them
  std::optional<int> channel;
  std::optional<bool> pass;          // closed loads of that result
  std::optional<bool> cancelled;     // closed loads an operator cancelled, or those not
  std::optional<std::string> order;  // text in the field named "Order", any case
};
// The filter's result by the word a load's result is shown with ("PASS", "FAIL", "CANCELLED"): a
// failed load is one that ran to its end and failed, not one an operator cancelled. False for
// any other word, the filter unchanged.
bool FilterResult(LoadFilter& filter, std::string_view word);

// Every record in the folder that passes the filter, oldest first; records that cannot be read
// are left out and named in skipped.
std::vector<LoadSummary> ListLoads(const AppFolder& folder, const LoadFilter& filter,
                                   std::vector<std::string>* skipped = nullptr);
// "L-20261207-0001-Kiln  2026-12-07T10:00:00Z  2026-12-07T13:05:10Z  PASS  ch 1,2  Order=4711  cure.txt"
std::string SummaryLine(const LoadSummary& load);

// The record's chain and closing hash, and for a closed load its seal in the Loads table.
RecordVerdict VerifyLoad(const AppFolder& folder, store::ConfigStore& store, std::string_view loadId);

// Appends a signature of a closed, whole record and seals it anew. meaning: "reviewed" or
// "approved". Refused (Invalid) for a load under way or a broken record.
Status SignLoad(const AppFolder& folder, store::ConfigStore& store, std::string_view loadId, const std::string& name,
                const std::string& meaning, SystemClock::time_point at);

}  // namespace tarvel::watch
