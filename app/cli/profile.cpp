#include <algorithm>
#include <fstream>
#include <optional>

#include "cli/args.h"
#include "cli/cli.h"
#include "console/sensor_range.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"
#include "profile/verify.h"
#include "profile/worksheet_csv.h"
#include "store/config_store.h"
#include "util/text.h"

namespace tarvel::cli {
namespace {

using profile::ProfileTable;

constexpr const char* kUsage =
    "usage: tarvel-cli [--home DIR] profile check FILE\n"
    "       tarvel-cli [--home DIR] profile build --sensor S --temp F|C --time S|M|H IN.csv OUT.txt\n"
    "       tarvel-cli [--home DIR] profile export FILE\n"
    "       tarvel-cli [--home DIR] profile fill --sensor S --temp F|C --time S|M|H IN.csv OUT.csv\n";

// A worksheet of 255 rows is a few kilobytes; anything this large is not one.

// Messages go to the terminal as lines; a terminal cannot be cleared, so Clear does nothing.
class TerminalSink : public profile::MessageSink {
 public:
  explicit TerminalSink(std::ostream& out) : out_(out) {}
  void Clear() override {}
  void Display(std::string_view text) override {
    std::string lines(text);
    for (auto pos = lines.find("\r\n"); pos != std::string::npos; pos = lines.find("\r\n", pos)) lines.erase(pos, 1);
    out_ << lines << "\n";
  }

 private:
  std::ostream& out_;
};

void PrintLoadError(Context& ctx, const std::string& file, const Status& why) {
  ctx.err << "Error: Unable to load profile\n" << file << ": " << why.message() << "\n";
}

// The rows as the worksheet shows them: one column per title, right-aligned.
void PrintRows(std::ostream& out, const ProfileTable& table, int lastRow) {
  std::size_t width[profile::kTableColumns];
  for (int c = 0; c < profile::kTableColumns; ++c) {
    width[c] = profile::ColumnTitles()[c].size();
    for (int r = 1; r <= lastRow; ++r) width[c] = std::max(width[c], table.at(r, c).size());
  }
  for (int r = 0; r <= lastRow; ++r) {
    std::string line;
    for (int c = 0; c < profile::kTableColumns; ++c) {
      std::string_view cell = r == 0 ? profile::ColumnTitles()[c] : std::string_view(table.at(r, c));
      line.append(c == 0 ? 0 : 2, ' ').append(width[c] - cell.size(), ' ').append(cell);
    }
    out << TrimTrailingBlanks(line) << "\n";
  }
}

// The checks of every profile verb, compile and upload: one function, the console's.
bool Verify(Context& ctx, const ProfileTable& table, const profile::ProfileSettings& settings) {
  TerminalSink sink(ctx.out);
  return console::CheckProfile(ctx.folder.SensorMenuDatabase(), table, settings, sink);
}

int Check(Context& ctx, const std::string& file) {
  auto text = profile::LoadProfileFile(file);
  if (!text) {
    PrintLoadError(ctx, file, text.status());
    return kExitFailed;
  }
  ctx.out << "Profile is valid\n";
  profile::ProfileSettings settings = profile::SettingsOfText(*text);
  char temperature = profile::TemperatureScaleField(*text);
  char time = profile::TimeScaleField(*text);
  ctx.out << "Sensor type: " << settings.sensorType << "\n"
          << "Temperature scale: " << temperature
          << (settings.temperatureScale == profile::TemperatureScale::Fahrenheit ? " (Fahrenheit)" : " (Celsius)")
          << "\nTime scale: " << time
          << (settings.timeScale == profile::TimeScale::Seconds   ? " (seconds)"
              : settings.timeScale == profile::TimeScale::Minutes ? " (minutes)"
                                                                  : " (hours)")
          << "\n";
  ProfileTable table = profile::ParseProfileText(*text);
  PrintRows(ctx.out, table, profile::LastProfileRow(table));
  return Verify(ctx, table, settings) ? kExitOk : kExitFailed;
}

int Export(Context& ctx, const std::string& file) {
  auto text = profile::LoadProfileFile(file);
  if (!text) {
    PrintLoadError(ctx, file, text.status());
    return kExitFailed;
  }
  ctx.out << profile::TableToCsv(profile::ParseProfileText(*text));
  return kExitOk;
}

// Every entered cell passes the editor's per-cell check, as if typed into the worksheet.
bool ValidateCells(ProfileTable& table, profile::MessageSink& sink) {
  bool ok = true;
  for (int row = 1; row <= profile::kLastSegmentRow; ++row)
    for (int column = profile::kDuration; column < profile::kTableColumns; ++column) {
      std::string cell = table.at(row, column);
      if (!cell.empty() && !profile::ValidateCellEntry(table, row, column, cell, sink)) ok = false;
    }
  return ok;
}

void NoteCutCells(Context& ctx, const ProfileTable& table) {
  for (int row = 1; row <= profile::kLastSegmentRow; ++row)
    for (int column = 1; column < profile::kTableColumns; ++column) {
      const std::string& cell = table.at(row, column);
      if (cell.size() > profile::kFieldWidth)
        ctx.out << "Note: row " << row << ", " << profile::ColumnTitles()[column] << ": the file keeps the first "
                << profile::kFieldWidth << " characters, \"" << cell.substr(0, profile::kFieldWidth) << "\"\n";
    }
}

}  // namespace

Result<std::string> ReadWorksheetCsv(const std::string& file) {
  constexpr std::size_t kMaxCsvBytes = 1 << 20;
  std::ifstream in(file, std::ios::binary);
  if (!in) return Status::Error(Status::Code::NotFound, "cannot open " + file);
  std::string bytes(kMaxCsvBytes + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return Status::Failed("cannot read " + file);
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.size() > kMaxCsvBytes) return Status::Failed(file + " is larger than a worksheet can be");
  return bytes;
}

std::optional<ProfileFileArgs> ReadProfileFileArgs(ArgReader& in) {
  const auto sensor = in.Option("--sensor"), temp = in.Option("--temp"), time = in.Option("--time");
  if (!sensor || !temp || !time || in.Count() != 2) in.Refuse("--sensor, --temp, --time, IN and OUT are all needed");
  if (temp && *temp != "F" && *temp != "C") in.Refuse("--temp takes F or C");
  if (time && *time != "S" && *time != "M" && *time != "H") in.Refuse("--time takes S, M or H");
  if (!in.ok()) return std::nullopt;
  ProfileFileArgs files;
  files.settings = {*sensor, profile::TemperatureScaleFromLetter((*temp)[0]), profile::TimeScaleFromLetter((*time)[0])};
  files.in = in.Word(0);
  files.out = in.Word(1);
  return files;
}

namespace {

int Build(Context& ctx, const ProfileFileArgs& build) {
  auto csv = ReadWorksheetCsv(build.in);
  if (!csv) {
    ctx.err << csv.status().message() << "\n";
    return kExitFailed;
  }
  auto table = profile::TableFromCsv(*csv);
  if (!table) {
    ctx.err << build.in << ": " << table.status().message() << "\nProfile not written\n";
    return kExitFailed;
  }
  TerminalSink sink(ctx.out);
  if (!ValidateCells(table.value(), sink)) {
    ctx.err << "Profile not written: cells above are refused\n";
    return kExitFailed;
  }
  NoteCutCells(ctx, *table);
  std::string text = profile::BuildProfileText(*table, build.settings);
  // What is verified is what the file holds: cells cut to 20, the sensor cut to 5.
  profile::ProfileSettings stored = profile::SettingsOfText(text);
  if (stored.sensorType != build.settings.sensorType)
    ctx.out << "Note: the file keeps the sensor type as \"" << stored.sensorType << "\"\n";
  if (!Verify(ctx, profile::ParseProfileText(text), stored)) {
    ctx.err << "Profile Error - FILE NOT SAVED\n";
    return kExitFailed;
  }
  if (Status saved = profile::SaveProfileText(build.out, text); !saved) {
    ctx.err << saved.message() << "\n";
    return kExitFailed;
  }
  ctx.out << "PROFILE SAVED\n" << build.out << "\n";
  return kExitOk;
}

}  // namespace

int ProfileVerbs(Context& ctx, const Args& args) {
  const std::string what = args.size() > 1 ? args[1] : "";
  ArgReader in(ctx.err, kUsage, args, 2, {}, {"--sensor", "--temp", "--time"});
  if (what == "build") {
    auto build = ReadProfileFileArgs(in);
    return build ? Build(ctx, *build) : in.Usage();
  }
  if (!in.ok() || in.Count() != 1 || in.Option("--sensor") || in.Option("--temp") || in.Option("--time"))
    return in.Usage();
  if (what == "check") return Check(ctx, in.Word(0));
  if (what == "export") return Export(ctx, in.Word(0));
  return in.Usage();
}

}  // namespace tarvel::cli
