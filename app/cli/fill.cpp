// tarvel-cli profile fill: a worksheet CSV completed by the editor's own rules, as if each of
// its cells had been typed into the worksheet in order.
#include <fstream>
#include <optional>

#include "cli/args.h"
#include "cli/cli.h"
#include "console/sensor_range.h"
#include "profile/verify.h"
#include "profile/worksheet.h"
#include "profile/worksheet_csv.h"
#include "store/config_store.h"

namespace tarvel::cli {
namespace {

constexpr const char* kFillUsage =
    "usage: tarvel-cli [--home DIR] profile fill --sensor S --temp F|C --time S|M|H IN.csv OUT.csv\n";

class LineSink : public profile::MessageSink {
 public:
  explicit LineSink(std::ostream& out) : out_(out) {}
  void Clear() override {}
  void Display(std::string_view text) override {
    for (char c : text)
      if (c != '\r') out_ << c;
    out_ << "\n";
  }

 private:
  std::ostream& out_;
};

// The rows of the table as typed cells: columns Start Time .. Notify of rows 1..last.
std::vector<std::vector<std::string>> TypedRows(const profile::ProfileTable& table) {
  int last = 0;
  for (int row = 1; row <= profile::kLastSegmentRow; ++row)
    for (int column = 1; column < profile::kTableColumns; ++column)
      if (!table.at(row, column).empty()) last = row;
  std::vector<std::vector<std::string>> rows;
  for (int row = 1; row <= last; ++row) {
    std::vector<std::string> cells;
    for (int column = 1; column < profile::kTableColumns; ++column) cells.push_back(table.at(row, column));
    rows.push_back(std::move(cells));
  }
  return rows;
}

// The verification the editor runs before a save, for the user's information.
void ShowVerification(Context& ctx, const profile::ProfileTable& table, const profile::ProfileSettings& settings) {
  store::SensorMenu menu(ctx.folder.SensorMenuDatabase());
  auto range = console::SensorRange(menu, settings.sensorType, settings.temperatureScale);
  if (!range || !range->has_value()) {
    ctx.out << "Sensor type \"" << settings.sensorType << "\" has no range in the sensor menu: not verified\n";
    return;
  }
  LineSink sink(ctx.out);
  profile::VerifyProfile(table, sink, [&] {
    sink.Display(profile::SensorRangeMessage(**range));
    return **range;
  });
}

}  // namespace

int ProfileFill(Context& ctx, const Args& args) {
  ArgReader in(ctx.err, kFillUsage, args, 2, {}, {"--sensor", "--temp", "--time"});
  auto fill = ReadProfileFileArgs(in);
  if (!fill) return in.Usage();
  auto csv = ReadWorksheetCsv(fill->in);
  if (!csv) {
    ctx.err << csv.status().message() << "\n";
    return kExitFailed;
  }
  auto given = profile::TableFromCsv(*csv);
  if (!given) {
    ctx.err << fill->in << ": " << given.status().message() << "\nNothing written\n";
    return kExitFailed;
  }
  profile::Worksheet sheet;
  LineSink sink(ctx.out);
  auto typed = sheet.TypeBlock(1, profile::kStartTime, TypedRows(*given), sink);
  if (typed.refused > 0) {
    ctx.err << typed.refused << (typed.refused == 1 ? " cell was" : " cells were") << " refused; nothing written\n";
    return kExitFailed;
  }
  ShowVerification(ctx, sheet.Table(), fill->settings);
  std::ofstream out(fill->out, std::ios::binary | std::ios::trunc);
  out << profile::TableToCsv(sheet.Table());
  if (!out.flush()) {
    ctx.err << "cannot write " << fill->out << "\n";
    return kExitFailed;
  }
  ctx.out << "Worksheet filled: " << fill->out << "\n";
  return kExitOk;
}

}  // namespace tarvel::cli
