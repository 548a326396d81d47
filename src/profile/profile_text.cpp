#include "profile/profile_text.h"

#include <algorithm>
#include <cstdint>

#include "util/text.h"

namespace tarvel::profile {
namespace {

constexpr int kLineCount = 259;
constexpr std::string_view kLineEnd = "\r\n";

// Length of line 1..259 without its line end.
std::size_t LineLength(int line) {
  if (line <= kLastSegmentRow) return kTableColumns * kFieldWidth;
  if (line == kLastSegmentRow + 1) return kSensorWidth;
  if (line < kLineCount) return 1;
  return kChecksumWidth;
}

void AppendRightAligned(std::string& out, std::string_view text, std::size_t width) {
  if (text.size() >= width) {
    out.append(text.substr(0, width));
  } else {
    out.append(width - text.size(), ' ');
    out.append(text);
  }
}

Status Invalid(std::string message) { return Status::Error(Status::Code::Invalid, std::move(message)); }

// Every line has its CR LF at its fixed place and no CR or LF inside. Counting first keeps the
// common case to two passes over the text; the line that is wrong is looked for only on failure.
Status CheckLineEnds(std::string_view text) {
  bool counted = std::count(text.begin(), text.end(), '\r') == kLineCount &&
                 std::count(text.begin(), text.end(), '\n') == kLineCount;
  std::size_t pos = 0;
  for (int line = 1; line <= kLineCount; ++line) {
    std::size_t length = LineLength(line);
    bool inside = !counted && text.substr(pos, length).find_first_of(kLineEnd) != std::string_view::npos;
    if (inside || text.substr(pos + length, 2) != kLineEnd)
      return Invalid("line " + std::to_string(line) + " is not " + std::to_string(length) +
                     " characters followed by CR LF");
    pos += length + 2;
  }
  return Status::Ok();
}

}  // namespace

std::string BuildProfileText(const ProfileTable& table, const ProfileSettings& settings) {
  std::string text;
  text.reserve(kProfileTextLength);
  for (int row = 1; row <= kLastSegmentRow; ++row) {
    for (int column = 0; column < kTableColumns; ++column) AppendRightAligned(text, table.at(row, column), kFieldWidth);
    text.append(kLineEnd);
  }
  std::string_view sensor = settings.sensorType;
  sensor = sensor.substr(0, kSensorWidth);
  text.append(sensor);
  text.append(kSensorWidth - sensor.size(), ' ');
  text.append(kLineEnd);
  text += TemperatureScaleLetter(settings.temperatureScale);
  text.append(kLineEnd);
  text += TimeScaleLetter(settings.timeScale);
  text.append(kLineEnd);
  text.append(ProfileChecksum(text));
  text.append(kLineEnd);
  return text;
}

std::string ProfileChecksum(std::string_view text) {
  if (text.size() < kChecksummedLength) return "error";
  // At most 51 521 x 255: a 32-bit sum cannot overflow.
  std::int32_t sum = 0;
  for (std::size_t i = 0; i < kChecksummedLength; ++i) sum += static_cast<unsigned char>(text[i]);
  std::string digits = std::to_string(sum);
  return std::string(kChecksumWidth - digits.size(), ' ') + digits;
}

Status CheckProfileBytes(std::string_view bytes) {
  if (bytes.size() != kProfileFileSize && bytes.size() != kProfileTextLength)
    return Invalid("the file is " + std::to_string(bytes.size()) + " bytes; a profile file is " +
                   std::to_string(kProfileFileSize) + " bytes");
  if (Status layout = CheckLineEnds(bytes.substr(0, kProfileTextLength)); !layout) return layout;
  if (bytes.size() == kProfileFileSize && bytes.substr(kProfileTextLength) != kLineEnd)
    return Invalid("line 260 is not an empty line");
  if (bytes.substr(kChecksumOffset, kChecksumWidth) != ProfileChecksum(bytes))
    return Invalid("the checksum in line 259 does not match the content");
  return Status::Ok();
}

std::string ProfileTextFromBytes(std::string_view bytes) {
  if (!CheckProfileBytes(bytes)) return {};
  return std::string(bytes.substr(0, kProfileTextLength));
}

ProfileTable ParseProfileText(std::string_view text) {
  ProfileTable table;
  if (!CheckProfileBytes(text)) return table;
  for (int row = 1; row <= kLastSegmentRow; ++row) {
    for (int column = 0; column < kTableColumns; ++column) {
      std::string_view field = text.substr((row - 1) * kRowLineLength + column * kFieldWidth, kFieldWidth);
      std::size_t first = field.find_first_not_of(' ');
      if (first != std::string_view::npos) table.at(row, column) = field.substr(first);
    }
  }
  return table;
}

std::string SensorTypeField(std::string_view text) {
  if (text.size() < kSensorOffset + kSensorWidth) return {};
  return std::string(text.substr(kSensorOffset, kSensorWidth));
}

char TemperatureScaleField(std::string_view text) {
  return text.size() > kTemperatureScaleOffset ? text[kTemperatureScaleOffset] : '\0';
}

char TimeScaleField(std::string_view text) { return text.size() > kTimeScaleOffset ? text[kTimeScaleOffset] : '\0'; }

ProfileSettings SettingsOfText(std::string_view text) {
  ProfileSettings settings;
  settings.sensorType = TrimTrailingBlanks(SensorTypeField(text));
  settings.temperatureScale = TemperatureScaleFromLetter(TemperatureScaleField(text));
  settings.timeScale = TimeScaleFromLetter(TimeScaleField(text));
  return settings;
}

}  // namespace tarvel::profile
