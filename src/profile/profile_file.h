#pragma once
// profile: profile text files on disk. Reading is bounded and never trusts the file; saving
// replaces the file atomically.

#include <filesystem>
#include <string>
#include <string_view>

#include "util/result.h"

namespace tarvel::profile {

// The profile text (lines 1..259) of a valid file, or why it is not one: missing, not a
// regular file, unreadable, of the wrong size or layout, with a checksum that does not match, or
// with numbers no controller step can hold (CheckProfileNumbers: the row and field are named).
// Reads at most one byte more than a profile file holds, whatever the file's size.
Result<std::string> LoadProfileFile(const std::filesystem::path& file);

// The text of a valid profile file, else the empty text.
std::string LoadProfileText(const std::filesystem::path& file);

// Writes a text from BuildProfileText plus the empty last line: first to a temporary file in the
// same folder, then renamed over the target, so the old file stays whole until the new one is.
// A text that would not load back (numbers included) is refused and nothing is written.
Status SaveProfileText(const std::filesystem::path& file, std::string_view text);

}  // namespace tarvel::profile
