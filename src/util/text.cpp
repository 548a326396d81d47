#include "util/text.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <system_error>

namespace tarvel {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Checks the grammar ourselves: from_chars alone would take "inf", "nan" and hex floats.
bool IsPlainDecimal(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == s.size();
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  std::string_view s = TrimBlanks(text);
  if (!IsPlainDecimal(s)) return std::nullopt;
  if (s.front() == '+') s.remove_prefix(1);
  double value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

double RoundHalfEven(double value) {
  double floor = std::floor(value);
  double diff = value - floor;
  if (diff > 0.5) return floor + 1;
  if (diff < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

std::optional<long long> ToWholeNumber(std::string_view text, long long low, long long high) {
  auto number = ParseNumber(text);
  if (!number) return std::nullopt;
  double rounded = RoundHalfEven(*number);
  if (rounded < static_cast<double>(low) || rounded > static_cast<double>(high)) return std::nullopt;
  return static_cast<long long>(rounded);
}

std::optional<std::int16_t> ToInt16(std::string_view text) {
  auto value = ToWholeNumber(text, INT16_MIN, INT16_MAX);
  if (!value) return std::nullopt;
  return static_cast<std::int16_t>(*value);
}

bool IsNumber(std::string_view text) { return ParseNumber(text).has_value(); }

bool IsIntegerInRange(std::string_view text, int low, int high) {
  auto value = ToInt16(text);
  return value && *value >= low && *value <= high;
}

std::string FileNameFromPath(std::string_view path) {
  auto pos = path.find_last_of("/\\");
  return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string ValueAfterKey(std::string_view text, std::string_view key) {
  if (key.empty()) return {};
  auto pos = text.find(key);
  if (pos == std::string_view::npos) return {};
  auto rest = text.substr(pos + key.size());
  return std::string(rest.substr(0, rest.find(' ')));
}

std::string TrimTrailingBlanks(std::string_view text) {
  auto end = text.find_last_not_of(' ');
  return std::string(end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1));
}

std::string TwoDigits(int n) { return (n >= 0 && n < 10 ? "0" : "") + std::to_string(n); }

std::string ReadFirstLine(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool EnsureDirectoryPath(std::string_view path) {
  auto last = path.find_last_of("/\\");
  if (last == std::string_view::npos) return true;  // a bare file name: nothing to create
  std::string folder(path.substr(0, last + 1));
  for (char& c : folder)
    if (IsSeparator(c)) c = '/';
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return !ec && std::filesystem::is_directory(folder, ec);
}

void AppendMessageLine(std::string& area, std::string_view line) {
  if (area.size() > kMessageAreaLimit) area.clear();
  area.append(line).append("\r\n");
}

}  // namespace tarvel
