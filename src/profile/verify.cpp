#include "profile/verify.h"

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
        sink.Display(Lines("Out of range temp entry at", "row=" + std::to_string(row + 1),
                           "Col=" + std::to_string(column + 1)));
        return true;
      }
      if (*value < limits.low || *value > limits.high) {
        fault = true;
        sink.Display(Lines("Out of range temp entry at", "segment=" + std::to_string(row),
                           "col=" + std::to_string(column + 1)));
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
    case kRampRate:
      converts = IsNumber(text);
      break;
    case kAction:
      if (!IsActionLetter(text)) {
        sink.Display("Action syntax error");
        return false;
      }
      table.at(row, column) = std::string(text);
      return true;
    case kStartTemp:
    case kEndTemp:
    case kErrorLimits:
      converts = ToInt16(text).has_value();
      break;
    case kNotify:
      if (text.starts_with("t=") || text.starts_with("T=")) {
        converts = IsNumber(text.substr(2));
      } else {
        sink.Display("Invalid notification syntax at column=" + std::to_string(column) + "row=" + std::to_string(row));
        converts = IsNumber(text);
      }
      break;
    default:
      break;
  }
  if (!converts)
    sink.Display("Invalid profile table entry column=" + std::to_string(column) + " row=" + std::to_string(row));
  return converts;
}

}  // namespace tarvel::profile
