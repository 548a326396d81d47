#pragma once
// profile: the profile text file image -- 255 row lines of ten 20-character fields, the three
// settings, a checksum; 8-bit text, CR LF. Pure functions over bytes; profile_file.h does disk.

#include <cstddef>
#include <string>
#include <string_view>

#include "profile/profile_table.h"
#include "util/result.h"

namespace tarvel::profile {

inline constexpr std::size_t kFieldWidth = 20;
inline constexpr std::size_t kSensorWidth = 5;
inline constexpr std::size_t kChecksumWidth = 10;
inline constexpr std::size_t kRowLineLength = kTableColumns * kFieldWidth + 2;  // 202 with CR LF
// 0-based offsets of the settings in the text (1-based positions 51 511, 51 518, 51 521).
inline constexpr std::size_t kSensorOffset = kLastSegmentRow * kRowLineLength;
inline constexpr std::size_t kTemperatureScaleOffset = kSensorOffset + kSensorWidth + 2;
inline constexpr std::size_t kTimeScaleOffset = kTemperatureScaleOffset + 3;
inline constexpr std::size_t kChecksummedLength = kTimeScaleOffset + 1;                  // 51 521
inline constexpr std::size_t kChecksumOffset = kChecksummedLength + 2;                   // line 259
inline constexpr std::size_t kProfileTextLength = kChecksumOffset + kChecksumWidth + 2;  // 51 535: lines 1..259
inline constexpr std::size_t kProfileFileSize = kProfileTextLength + 2;                  // 51 537: + empty line 260

// Lines 1..259 of the file, each ended by CR LF. Cells longer than 20 characters keep their
// first 20; the sensor caption is cut or padded to 5. The saved file adds one more CR LF.
std::string BuildProfileText(const ProfileTable& table, const ProfileSettings& settings);

// Sum of the 8-bit codes of the first 51 521 characters, right-aligned in 10 characters;
// "error" (which never matches a stored checksum) when the text is shorter.
std::string ProfileChecksum(std::string_view text);

// Whether bytes are a whole, unchanged profile file: every line at its fixed place and length,
// CR LF line ends, no line break inside a line, nothing after the empty line 260 (which may be
// missing), and a matching checksum. The message says what is wrong.
Status CheckProfileBytes(std::string_view bytes);

// The profile text (lines 1..259) of file bytes that pass CheckProfileBytes, else the empty text.
std::string ProfileTextFromBytes(std::string_view bytes);

// Splits a valid profile text into a table (rows 1..255; row 0 empty). A field loses its
// leading blanks, keeps its trailing ones; 20 blanks give the empty cell. A text that does
// not pass CheckProfileBytes gives the empty table: never a partial one.
ProfileTable ParseProfileText(std::string_view text);

// The settings of a loaded text, read by position; empty / '\0' for a text too short.
std::string SensorTypeField(std::string_view text);  // the 5 characters, trailing blanks kept
char TemperatureScaleField(std::string_view text);
char TimeScaleField(std::string_view text);
// All three, with the sensor's trailing blanks removed.
ProfileSettings SettingsOfText(std::string_view text);

}  // namespace tarvel::profile
