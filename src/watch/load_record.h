#pragma once
// watch: a load record -- one load (one run of a controller or of a zone, from its start to its
// end) as append-only text, one JSON object a line: the header, samples and gaps, events, the
// checks, the closing line, signatures. Every line carries the SHA-256 of the line before it (the
// first line: of a fixed genesis text) and the closing line the SHA-256 of every byte before it,
// so that a line changed, taken out or moved shows. record_writer.h writes it.
// Qt-free; depends on util (and OpenSSL's libcrypto, nlohmann-json inside).

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/app_folder.h"
#include "util/result.h"

namespace tarvel::watch {

using SystemClock = std::chrono::system_clock;

// What the first line's hash is taken of.
inline constexpr std::string_view kRecordGenesis = "Tarvel load record, format 1";

// UTC, ISO 8601, to the second: "2026-12-07T10:00:15Z".
std::string UtcTime(SystemClock::time_point at);
std::optional<SystemClock::time_point> ParseUtcTime(std::string_view text);

std::string Sha256Hex(std::string_view bytes);

// A SHA-256 over bytes given in parts.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256& other);
  Sha256& operator=(const Sha256& other);
  void Add(std::string_view bytes);
  std::string Hex() const;  // of everything added so far; more may be added after

 private:
  void* ctx_;  // EVP_MD_CTX
};

// --- what a record holds

struct ShopField {
  std::string name, value;
  bool operator==(const ShopField&) const = default;
};

// A field the shop asks for at every start.
struct FieldRule {
  std::string name;
  bool required = false;
  bool operator==(const FieldRule&) const = default;
};

// Setup/LoadFields.txt: one field a line, in the order offered; a trailing "*" makes it required;
// blank lines and lines starting with "#" do not count. Without the file: Customer, Order,
// Part numbers, Quantity, Material, Standard, Revision, Notes, none required -- a start that
// worked before a shop set up its fields keeps working; the shop marks what it requires.
std::vector<FieldRule> ReadFieldRules(const AppFolder& folder);

struct LoadController {
  int channel = 0;
  std::string nickname;
  int address = 0;
  std::string port;  // the serial device
  bool operator==(const LoadController&) const = default;
};

// One compiled program step as it was uploaded.
struct LoadStep {
  int step = 0, pidSet = 0, duration = 0, temperature = 0;
  bool operator==(const LoadStep&) const = default;
};

// Columns Start Time .. Error Limits of one profile row, as its file holds them.
using DesignRow = std::array<std::string, 7>;

struct LoadHeader {
  std::string loadId;
  SystemClock::time_point opened{};
  std::string startedBy;  // "console", "tarvel-cli", "front panel"
  std::string operatorName;
  std::vector<ShopField> fields;
  std::vector<std::string> missing;  // required fields nobody could be asked for (a front-panel start)
  std::string furnace;               // the zone; empty for a controller of its own
  std::vector<LoadController> controllers;
  std::string profileName, profileSha256;  // the SHA-256 of the profile file; empty when unreadable
  char timeScale = 'M', temperatureScale = 'F';
  std::vector<DesignRow> design;  // profile rows 1..last
  int lowStep = 0, highStep = 0;
  std::vector<LoadStep> program;
  double sweepPeriod = 15;  // seconds between two readings of a controller
};

enum class LoadBand { None, In, Above, Below };  // None: no design or no limits there
const char* LoadBandName(LoadBand band);         // "", "in", "above", "below"

// A reading of one controller; a failed one is a gap and holds no values.
struct LoadSample {
  SystemClock::time_point at{};
  int channel = 0;
  bool gap = false;
  std::string why;  // of a gap
  double time = 0;  // the program's time on the profile's axis
  int runMode = 0, step = 0, stepTime = 0, setPoint = 0, processValue = 0;
  std::optional<int> design, low, high;
  LoadBand band = LoadBand::None;
  std::optional<int> Deviation() const {
    return design && !gap ? std::optional<int>(processValue - *design) : std::nullopt;
  }
};

// Kinds of events; operator actions carry who, what and the old and new value.
namespace event {
inline constexpr const char* kStart = "start";
inline constexpr const char* kPause = "pause";
inline constexpr const char* kRestart = "restart";
inline constexpr const char* kJump = "jump";
inline constexpr const char* kSetValue = "set value";
inline constexpr const char* kMode = "mode";
inline constexpr const char* kCancel = "cancel";
inline constexpr const char* kEnd = "end";  // a controller's program is over (what: how)
inline constexpr const char* kAlarmRaised = "alarm raised";
inline constexpr const char* kAlarmCleared = "alarm cleared";
inline constexpr const char* kAlarmAcknowledged = "alarm acknowledged";  // who, what: the alarm
inline constexpr const char* kLost = "communication lost";
inline constexpr const char* kBack = "communication back";
inline constexpr const char* kResumed = "recording resumed";   // from: the last line before
inline constexpr const char* kNotWritten = "could not write";  // from .. to, what: why
}  // namespace event

struct LoadEvent {
  LoadEvent() = default;
  LoadEvent(SystemClock::time_point when, std::string eventKind, int eventChannel = 0)
      : at(when), kind(std::move(eventKind)), channel(eventChannel) {}
  SystemClock::time_point at{};
  std::string kind;
  int channel = 0;  // 0: the whole load
  std::string who, what, oldValue, newValue;
  std::optional<SystemClock::time_point> from, to;
};

struct LoadCheck {
  std::string name;
  int channel = 0;  // 0: the whole load
  bool pass = true;
  std::string reason;
  bool operator==(const LoadCheck&) const = default;
};

// The result line and the closing line after it: the closing line holds nothing but its time
// and the final hash, which covers every line before it, the result included.
struct LoadClose {
  SystemClock::time_point at{};
  bool pass = false;
  std::string ended;       // how the load ended
  std::string finalHash;   // SHA-256 of every byte before the closing line
  bool cancelled = false;  // an operator ended it: its result is neither PASS nor FAIL
};

// "PASS", "FAIL" or "CANCELLED", as the record, the list and the report say it.
const char* ResultWord(const LoadClose& close);

struct LoadSignature {
  SystemClock::time_point at{};
  std::string name, meaning;  // meaning: "reviewed" or "approved"
  std::string sealed;         // the final hash signed
};

// A record as read back.
struct LoadRecord {
  LoadHeader header;
  std::vector<LoadSample> samples;
  std::vector<LoadEvent> events;
  std::vector<LoadCheck> checks;
  std::optional<LoadClose> close;
  std::vector<LoadSignature> signatures;
  long long lines = 0;
  SystemClock::time_point lastAt{};  // of the latest line with a time
};

// The JSON text of one line, without the hash of the line before (the writer puts it first).
std::string HeaderLine(const LoadHeader& header);
std::string SampleLine(const LoadSample& sample);
std::string EventLine(const LoadEvent& event);
std::string CheckLine(const LoadCheck& check);
std::string ResultLine(const LoadClose& close);
// The writer adds "final" when it writes the line.
std::string CloseLine(SystemClock::time_point at);
std::string SignatureLine(const LoadSignature& signature);

// The bytes of a record file.
Result<std::string> ReadRecordText(const std::filesystem::path& file);
// Reads the lines of a record; a line that is not one fails with its number.
Result<LoadRecord> ParseLoadRecord(std::string_view text);
Result<LoadRecord> ReadLoadRecord(const std::filesystem::path& file);

// --- checking a record

struct RecordBreak {
  long long line = 0;  // 1-based; 0: the record as a whole
  std::string what;
  bool operator==(const RecordBreak&) const = default;
};

struct RecordVerdict {
  long long lines = 0;
  bool closed = false;
  std::string head;       // SHA-256 of the last whole line
  std::string finalHash;  // of the closing line, when closed
  std::vector<RecordBreak> breaks;
  bool Whole() const { return breaks.empty(); }
};

// The chain of hashes, the closing hash, and the order of the lines (a header first, after the
// closing line only signatures of it). Every break is named by its line.
RecordVerdict VerifyRecordText(std::string_view text);

}  // namespace tarvel::watch
