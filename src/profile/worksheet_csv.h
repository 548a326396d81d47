#pragma once
// profile: worksheet rows as CSV, so profiles can be made and read by spreadsheets.
// Columns Seg .. Notify t,T as the worksheet shows them; cells are 8-bit text, passed as is.

#include <string>
#include <string_view>

#include "profile/profile_table.h"
#include "util/result.h"

namespace tarvel::profile {

// A title row, then rows 1 .. the last row holding anything in columns 1..9. Cells with a
// comma, a quote, a line break or blanks at either end are quoted; lines end with LF.
std::string TableToCsv(const ProfileTable& table);

// The rows of a CSV (RFC 4180 quoting; LF or CR LF; an optional title row starting "Seg"; a
// leading UTF-8 byte order mark is skipped). Record i becomes row i; its Seg cell may be empty
// or i. Unquoted cells lose surrounding blanks. Trailing empty records and empty cells beyond
// the tenth are ignored. Seg is numbered 1..255 in every row, as the worksheet shows it.
// Fails, saying where, on an unclosed quote, text after a closing quote, more than 10 cells,
// more than 255 rows, a wrong Seg number, or a line break inside a cell.
Result<ProfileTable> TableFromCsv(std::string_view csv);

}  // namespace tarvel::profile
