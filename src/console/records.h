#pragma once
// console: the database writes of a command, checked. What the console keeps of a controller
// (memory map, profile log, run selection and state) is the user's only picture of it: a
// write that failed is said, with the reason, and turns the LED red. Depends on the context.

#include <string>
#include <vector>

#include "console/context.h"
#include "link/transfers.h"

namespace tarvel::console {

// True when status is ok; otherwise shows "ERROR: <what>: <reason>" and turns the LED red.
bool Recorded(Context& context, const Status& status, const std::string& what);

// Step numbers as a reader takes them in: "5, 7, 31 to 33" (ascending input).
std::string StepList(const std::vector<int>& steps);

// "Step 12 word 3: wrote 250, read 245"
std::string DescribeMismatch(const link::WordMismatch& mismatch);
// "step 12 word 3 reads back 245, not 250"
std::string ReadBack(const link::WordMismatch& mismatch);

}  // namespace tarvel::console
