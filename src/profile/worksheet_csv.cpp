#include "profile/worksheet_csv.h"

#include <vector>

#include "util/text.h"

namespace tarvel::profile {
namespace {

struct Record {
  std::vector<std::string> cells;
  int line = 0;  // where the record starts, for messages
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

Status Invalid(int line, const std::string& message) {
  return Status::Error(Status::Code::Invalid, "line " + std::to_string(line) + ": " + message);
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

class CsvReader {
 public:
  explicit CsvReader(std::string_view text) : text_(text) {}

  Result<std::vector<Record>> ReadAll() {
    std::vector<Record> records;
    while (pos_ < text_.size()) {
      Record record{{}, line_};
      for (;;) {
        auto cell = ReadCell();
        if (!cell) return cell.status();
        record.cells.push_back(std::move(cell).value());
        if (pos_ < text_.size() && text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        EndLine();
        break;
      }
      records.push_back(std::move(record));
    }
    return records;
  }

 private:
  Result<std::string> ReadCell() {
    std::size_t start = pos_;
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '"') return ReadQuoted();
    pos_ = start;
    while (pos_ < text_.size() && text_[pos_] != ',' && !IsLineEnd(text_[pos_])) ++pos_;
    return std::string(TrimBlanks(text_.substr(start, pos_ - start)));
  }

  Result<std::string> ReadQuoted() {
    int opened = line_;
    std::string cell;
    ++pos_;
    for (;;) {
      if (pos_ >= text_.size()) return Invalid(opened, "a quoted cell is not closed");
      char c = text_[pos_++];
      if (c == '"') {
        if (pos_ < text_.size() && text_[pos_] == '"') {
          cell += '"';
          ++pos_;
          continue;
        }
        break;
      }
      if (c == '\n') ++line_;
      cell += c;
    }
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    if (pos_ < text_.size() && text_[pos_] != ',' && !IsLineEnd(text_[pos_]))
      return Invalid(line_, "text after the closing quote of a cell");
    return cell;
  }

  void EndLine() {
    if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    ++line_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

bool IsEmptyRecord(const Record& record) {
  for (const auto& cell : record.cells)
    if (!cell.empty()) return false;
  return true;
}

bool NeedsQuotes(std::string_view cell) {
  if (cell.empty()) return false;
  return cell.find_first_of(",\"\r\n") != std::string_view::npos || IsBlank(cell.front()) || IsBlank(cell.back());
}

void AppendCell(std::string& out, std::string_view cell) {
  if (!NeedsQuotes(cell)) {
    out.append(cell);
    return;
  }
  out += '"';
  for (char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

Status FillRow(ProfileTable& table, int row, const Record& record) {
  for (std::size_t c = kTableColumns; c < record.cells.size(); ++c)
    if (!record.cells[c].empty())
      return Invalid(record.line, std::to_string(record.cells.size()) + " cells; a worksheet row has " +
                                      std::to_string(kTableColumns) + " (Seg to Notify t,T)");
  const std::string& seg = record.cells[kSeg];
  if (!seg.empty() && ParseNumber(seg) != static_cast<double>(row))
    return Invalid(record.line, "Seg is \"" + seg + "\" where row " + std::to_string(row) +
                                    " is expected (rows are taken in order)");
  for (int column = 1; column < kTableColumns && column < static_cast<int>(record.cells.size()); ++column) {
    const std::string& cell = record.cells[static_cast<std::size_t>(column)];
    if (cell.find_first_of("\r\n") != std::string::npos)
      return Invalid(record.line, "the " + std::string(ColumnTitles()[column]) + " cell holds a line break");
    table.at(row, column) = cell;
  }
  return Status::Ok();
}

}  // namespace

std::string TableToCsv(const ProfileTable& table) {
  int lastRow = 0;
  for (int row = 1; row <= kLastSegmentRow; ++row)
    for (int column = 1; column < kTableColumns; ++column)
      if (!table.at(row, column).empty()) lastRow = row;

  std::string csv;
  for (int row = 0; row <= lastRow; ++row) {
    for (int column = 0; column < kTableColumns; ++column) {
      if (column > 0) csv += ',';
      AppendCell(csv, row == 0 ? ColumnTitles()[column] : std::string_view(table.at(row, column)));
    }
    csv += '\n';
  }
  return csv;
}

Result<ProfileTable> TableFromCsv(std::string_view csv) {
  if (csv.starts_with("\xEF\xBB\xBF")) csv.remove_prefix(3);
  auto records = CsvReader(csv).ReadAll();
  if (!records) return records.status();
  std::vector<Record>& rows = records.value();
  while (!rows.empty() && IsEmptyRecord(rows.back())) rows.pop_back();
  std::size_t first = !rows.empty() && rows.front().cells[0] == "Seg" ? 1 : 0;
  if (rows.size() - first > static_cast<std::size_t>(kLastSegmentRow))
    return Invalid(rows[first + kLastSegmentRow].line,
                   "more than " + std::to_string(kLastSegmentRow) + " rows; a profile has at most that many");

  ProfileTable table;
  for (int row = 1; row <= kLastSegmentRow; ++row) table.at(row, kSeg) = std::to_string(row);
  for (std::size_t i = first; i < rows.size(); ++i)
    if (Status filled = FillRow(table, static_cast<int>(i - first + 1), rows[i]); !filled) return filled;
  return table;
}

}  // namespace tarvel::profile
