#pragma once
// profile: the design profile as text cells, its file format, verification, worksheet CSV and
// temperature log files. Depends on util only; no Qt.

#include <array>
#include <string>
#include <string_view>

namespace tarvel::profile {

inline constexpr int kTableRows = 256;  // row 0 is the title row, rows 1..255 are segments
inline constexpr int kTableColumns = 10;
inline constexpr int kLastSegmentRow = kTableRows - 1;

enum Column : int {
  kSeg = 0,
  kStartTime = 1,
  kDuration = 2,
  kAction = 3,
  kStartTemp = 4,
  kEndTemp = 5,
  kRampRate = 6,
  kErrorLimits = 7,
  kCommand = 8,
  kNotify = 9,
};

// The worksheet titles of columns 0..9.
const std::array<std::string_view, kTableColumns>& ColumnTitles();

// 256 x 10 cells of 8-bit text. Cells hold bytes as typed or read from a file; nothing here
// assumes or converts an encoding.
class ProfileTable {
 public:
  std::string& at(int row, int column) { return cells_[row][column]; }
  const std::string& at(int row, int column) const { return cells_[row][column]; }
  static bool Contains(int row, int column) {
    return row >= 0 && row < kTableRows && column >= 0 && column < kTableColumns;
  }
  bool operator==(const ProfileTable&) const = default;

 private:
  std::array<std::array<std::string, kTableColumns>, kTableRows> cells_;
};

// The highest row with a non-empty cell in columns 1..6 (Start Time .. Ramp Rate); 0 when none.
int LastProfileRow(const ProfileTable& table);

enum class TemperatureScale { Fahrenheit, Celsius };
enum class TimeScale { Seconds, Minutes, Hours };

// The three settings that travel with a profile.
struct ProfileSettings {
  std::string sensorType = "K";  // a sensor menu caption; a file keeps its first 5 characters
  TemperatureScale temperatureScale = TemperatureScale::Fahrenheit;
  TimeScale timeScale = TimeScale::Minutes;
  bool operator==(const ProfileSettings&) const = default;
};

char TemperatureScaleLetter(TemperatureScale scale);  // 'F' or 'C'
char TimeScaleLetter(TimeScale scale);                // 'S', 'M' or 'H'
// The readers of a file: "F" is Fahrenheit, anything else Celsius; "S" seconds, "M" minutes,
// anything else hours -- the same choices the writer makes.
TemperatureScale TemperatureScaleFromLetter(char letter);
TimeScale TimeScaleFromLetter(char letter);

}  // namespace tarvel::profile
