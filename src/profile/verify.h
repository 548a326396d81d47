#pragma once
// profile: the rules a profile must pass before it is saved, and the per-cell check of an edit.

#include <functional>
#include <string>
#include <string_view>

#include "profile/message_sink.h"
#include "profile/profile_table.h"
#include "util/result.h"

namespace tarvel::profile {

// A sensor's temperature range in whole degrees of the profile's temperature scale.
struct RangeLimits {
  int low = 0;
  int high = 0;
};

// "Sensor temperature range is:low - high", what the editor shows when it looks the range up.
std::string SensorRangeMessage(RangeLimits limits);

struct VerifyOutcome {
  bool profileError = false;  // the editor refuses to save while it is set
  int lastRow = 0;            // LastProfileRow of the table
};

// Supplies the limits when the range check runs. The editor's SetRangeLimits looks them up for
// the current sensor and scale and shows SensorRangeMessage, so its message falls in its place.
using RangeLimitsSource = std::function<RangeLimits()>;

// Clears the sink, then: too few segments (stop); every empty cell of columns 1, 2, 4, 5, 6
// above the last row; the first cell there that is not a number (scan stops); every Start Temp
// that is not the End Temp of the row before; TempRangeCheck; the missing "e" on the last row;
// and, when nothing was wrong, the closing warning.
VerifyOutcome VerifyProfile(const ProfileTable& table, MessageSink& sink, const RangeLimitsSource& setRangeLimits);

// Start and End temperatures of rows 0 .. lastRow - 1 outside low..high are reported; a cell
// that cannot be compared as a number ends the check. Returns true when it found a fault.
bool TempRangeCheck(const ProfileTable& table, int lastRow, RangeLimits limits, MessageSink& sink);

// The syntax check of one edited cell before it is stored (row 0..255, column 0..9). An accepted
// Action letter is stored in the table at once; every other cell is left to the caller.
// A position outside the table is refused without a message.
bool ValidateCellEntry(ProfileTable& table, int row, int column, std::string_view text, MessageSink& sink);

// The numbers a compile takes from a profile, against what a controller's program step can hold:
// the time scale letter is S, M or H; above the last row every Duration is a number, not negative,
// and at most 32767 in the controller's unit (minutes for an hours profile); on every row up to
// the last, Start Temp and the "C=" value of the Command are whole numbers from -32768 to 32767
// after rounding. An empty cell is no fault here (VerifyProfile reports it). The first fault
// found is returned (Code::Invalid) with its row and field named.
Status CheckControllerNumbers(const ProfileTable& table, char timeScaleLetter);

// The same for a profile text, with its temperature scale letter (F or C) as well.
Status CheckProfileNumbers(std::string_view text);

}  // namespace tarvel::profile
