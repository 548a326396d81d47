#include "profile/profile_table.h"

namespace tarvel::profile {

const std::array<std::string_view, kTableColumns>& ColumnTitles() {
  static const std::array<std::string_view, kTableColumns> titles = {
      "Seg",      "Start Time", "Duration",     "Action",  "Start Temp",
      "End Temp", "Ramp Rate",  "Error Limits", "Command", "Notify t,T"};
  return titles;
}

int LastProfileRow(const ProfileTable& table) {
  for (int row = kLastSegmentRow; row > 0; --row)
    for (int column = kStartTime; column <= kRampRate; ++column)
      if (!table.at(row, column).empty()) return row;
  return 0;
}

char TemperatureScaleLetter(TemperatureScale scale) { return scale == TemperatureScale::Fahrenheit ? 'F' : 'C'; }

char TimeScaleLetter(TimeScale scale) {
  switch (scale) {
    case TimeScale::Seconds: return 'S';
    case TimeScale::Minutes: return 'M';
    case TimeScale::Hours: break;
  }
  return 'H';
}

TemperatureScale TemperatureScaleFromLetter(char letter) {
  return letter == 'F' ? TemperatureScale::Fahrenheit : TemperatureScale::Celsius;
}

TimeScale TimeScaleFromLetter(char letter) {
  if (letter == 'S') return TimeScale::Seconds;
  if (letter == 'M') return TimeScale::Minutes;
  return TimeScale::Hours;
}

}  // namespace tarvel::profile
