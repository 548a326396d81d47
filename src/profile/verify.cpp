#include "profile/verify.h"

#include "profile/profile_text.h"
#include "util/text.h"

namespace tarvel::profile {
namespace {

constexpr std::string_view kCrLf = "\r\n";

std::string Lines(std::string_view first, std::string_view second, std::string_view third) {
  std::string text(first);
  text.append(kCrLf).append(second).append(kCrLf).append(third);
  return text;
}

bool IsActionLetter(std::string_view text) { return text == "e" || text == "w" || text == "h" || text == "r"; }

constexpr double kWordLow = -32768, kWordHigh = 32767;

Status NumberFault(int row, std::string_view field, std::string_view text, std::string_view why) {
  return Status::Error(Status::Code::Invalid, "Row " + std::to_string(row) + ", " + std::string(field) + ": \"" +
                                                  std::string(text) + "\" " + std::string(why));
}

// A cell rounded as the compile rounds it lies in -32768..32767; an empty text is no fault.
Status CheckWord(int row, std::string_view field, std::string_view text) {
  if (text.empty()) return Status::Ok();
  auto value = ParseNumber(text);
  if (!value) return NumberFault(row, field, text, "is not a number");
  const double word = RoundHalfEven(*value);
  if (word < kWordLow || word > kWordHigh)
    return NumberFault(row, field, text, "is beyond the -32768 to 32767 a controller's program step can hold");
  return Status::Ok();
}

}  // namespace

std::string SensorRangeMessage(RangeLimits limits) {
  return std::string("Sensor temperature range is") + ":" + std::to_string(limits.low) + " - " +
         std::to_string(limits.high);
}

VerifyOutcome VerifyProfile(const ProfileTable& table, MessageSink& sink, const RangeLimitsSource& setRangeLimits) {
  sink.Clear();
  VerifyOutcome outcome;
  outcome.lastRow = LastProfileRow(table);
  if (outcome.lastRow < 3) {
    sink.Display("Error: Must have more than 2 segments in profile");
    outcome.profileError = true;
    return outcome;
  }

  bool scanning = true;
  for (int row = 1; scanning && row < outcome.lastRow; ++row) {
    for (int column : {kStartTime, kDuration, kStartTemp, kEndTemp, kRampRate}) {
      const std::string& cell = table.at(row, column);
      if (cell.empty()) {
        sink.Display("Missing entry, check profile");
        outcome.profileError = true;
      } else if (!IsNumber(cell)) {
        sink.Display(Lines("Invalid entry in profile at", "segment=" + std::to_string(row),
                           "Column=" + std::to_string(column + 1)));
        outcome.profileError = true;
        scanning = false;
        break;
      }
    }
  }

  // The controller ramps each step from its own Start Temp: one that is not where the segment
  // before ended makes the set point jump there.
  for (int row = 2; row <= outcome.lastRow; ++row) {
    const std::string& start = table.at(row, kStartTemp);
    const std::string& end = table.at(row - 1, kEndTemp);
    auto startValue = ParseNumber(start), endValue = ParseNumber(end);
    if (!startValue || !endValue || *startValue == *endValue) continue;
    sink.Display("Row " + std::to_string(row) + ", Start Temp: " + start + " is not where row " +
                 std::to_string(row - 1) + " ended (End Temp " + end +
                 "): a segment starts where the one before ended");
    outcome.profileError = true;
  }

  if (TempRangeCheck(table, outcome.lastRow, setRangeLimits(), sink)) outcome.profileError = true;

  if (table.at(outcome.lastRow, kAction) != "e") {
    outcome.profileError = true;
    sink.Display("'e' (end) statement not found at end of profile");
  }
  if (!outcome.profileError)
    sink.Display(
        "WARNING: You must check and observe ramp limitations, no ramp rate checking by this software\r\n\r\n"
        "No Errors found in profile. You may now save and run it.");
  return outcome;
}

bool TempRangeCheck(const ProfileTable& table, int lastRow, RangeLimits limits, MessageSink& sink) {
  bool fault = false;
  for (int row = 0; row < lastRow && row < kTableRows; ++row) {
    for (int column : {kStartTemp, kEndTemp}) {
      const std::string& cell = table.at(row, column);
      if (cell.empty()) continue;
      auto value = ParseNumber(cell);
      if (!value) {
        // Counted as a fault: a temperature that cannot be compared is not in range.
        sink.Display(
            Lines("Out of range temp entry at", "row=" + std::to_string(row + 1), "Col=" + std::to_string(column + 1)));
        return true;
      }
      if (*value < limits.low || *value > limits.high) {
        fault = true;
        sink.Display(
            Lines("Out of range temp entry at", "segment=" + std::to_string(row), "col=" + std::to_string(column + 1)));
      }
    }
  }
  return fault;
}

bool ValidateCellEntry(ProfileTable& table, int row, int column, std::string_view text, MessageSink& sink) {
  if (!ProfileTable::Contains(row, column)) return false;
  if (text.empty() || column == kSeg || column == kStartTime || column == kCommand) return true;

  bool converts = false;
  switch (column) {
    case kDuration:
    case kRampRate: converts = IsNumber(text); break;
    case kAction:
      if (!IsActionLetter(text)) {
        sink.Display("Action syntax error");
        return false;
      }
      table.at(row, column) = std::string(text);
      return true;
    case kStartTemp:
    case kEndTemp:
    case kErrorLimits: converts = ToInt16(text).has_value(); break;
    case kNotify:
      if (text.starts_with("t=") || text.starts_with("T=")) {
        converts = IsNumber(text.substr(2));
      } else {
        sink.Display("Invalid notification syntax at column=" + std::to_string(column) + "row=" + std::to_string(row));
        converts = IsNumber(text);
      }
      break;
    default: break;
  }
  if (!converts)
    sink.Display("Invalid profile table entry column=" + std::to_string(column) + " row=" + std::to_string(row));
  return converts;
}

Status CheckControllerNumbers(const ProfileTable& table, char timeScaleLetter) {
  if (timeScaleLetter != 'S' && timeScaleLetter != 'M' && timeScaleLetter != 'H')
    return Status::Error(Status::Code::Invalid, std::string("Time scale: \"") + timeScaleLetter +
                                                    "\" is not S, M or H (seconds, minutes, hours)");
  const double factor = timeScaleLetter == 'H' ? 60.0 : 1.0;  // hours are programmed as minutes
  const int last = LastProfileRow(table);
  for (int row = 1; row <= last; ++row) {
    if (row < last) {
      const std::string& duration = table.at(row, kDuration);
      if (!duration.empty()) {
        auto value = ParseNumber(duration);
        if (!value) return NumberFault(row, "Duration", duration, "is not a number");
        // A negative time is the controller's code for a jump or an event, never a length.
        if (*value < 0) return NumberFault(row, "Duration", duration, "is negative");
        if (RoundHalfEven(*value * factor) > kWordHigh)
          return NumberFault(row, "Duration", duration,
                             factor > 1 ? "hours are more than the 32767 minutes a controller's program step can hold"
                                        : "is more than the 32767 a controller's program step can hold");
      }
    }
    if (Status temp = CheckWord(row, "Start Temp", table.at(row, kStartTemp)); !temp) return temp;
    const std::string pid = ValueAfterKey(table.at(row, kCommand), "C=");
    if (Status command = CheckWord(row, "Command C=", pid); !command) return command;
  }
  return Status::Ok();
}

Status CheckProfileNumbers(std::string_view text) {
  const char temperature = TemperatureScaleField(text);
  if (temperature != 'F' && temperature != 'C')
    return Status::Error(Status::Code::Invalid,
                         std::string("Temperature scale: \"") + temperature + "\" is not F or C (Fahrenheit, Celsius)");
  return CheckControllerNumbers(ParseProfileText(text), TimeScaleField(text));
}

}  // namespace tarvel::profile
