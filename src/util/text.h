#pragma once
// util: text and file helpers shared by every layer. Depends on the standard library only.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// The one number parser of the program. Accepts a plain signed decimal with an optional
// fraction and exponent, and blanks (space, tab) around it: " -12.5e2 ". Nothing else:
// no locale, no thousands separators, no hex, no inf/nan. Every number check uses it.
std::optional<double> ParseNumber(std::string_view text);

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -0.5 -> 0).
double RoundHalfEven(double value);

// Text -> whole number, rounded half to even, within [low, high]; nullopt when the text
// is not a number or the rounded value lies outside. Never throws.
std::optional<long long> ToWholeNumber(std::string_view text, long long low, long long high);
// The conversion every 16-bit field uses: beyond -32768..32767 is a failure, not a wrap.
std::optional<std::int16_t> ToInt16(std::string_view text);

bool IsNumber(std::string_view text);
// True when the text is a number whose 16-bit conversion lies in low..high inclusive.
// A text beyond the 16-bit range is simply not in range.
bool IsIntegerInRange(std::string_view text, int low, int high);

// The part after the last "/" or "\"; the whole text when it has neither.
std::string FileNameFromPath(std::string_view path);
// Characters after the first occurrence of key up to the next blank or the end;
// empty when key does not occur. Case-sensitive.
std::string ValueAfterKey(std::string_view text, std::string_view key);
std::string TrimTrailingBlanks(std::string_view text);
// Decimal text with a leading "0" for 0..9: 3 -> "03", 12 -> "12".
std::string TwoDigits(int n);
// First line of a text file without its line end; empty when missing or unreadable.
std::string ReadFirstLine(const std::filesystem::path& path);
// Creates every missing folder leading to path; "/" and "\" both separate. A last
// component not ended by a separator is a file name and is not created.
// Returns false when a folder could not be created.
bool EnsureDirectoryPath(std::string_view path);

// The rule of both message areas (the console's and the editor's): a line is appended with
// CR LF, and an area that holds more than kMessageAreaLimit characters is emptied first, so it
// never grows without bound.
inline constexpr std::size_t kMessageAreaLimit = 1000;
void AppendMessageLine(std::string& area, std::string_view line);

}  // namespace tarvel
