#pragma once
// util: a file or folder that could not be used, said as the user needs it -- the path and the
// reason -- with the Status code that lets the caller tell a lock from a full disk.

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "util/result.h"

namespace tarvel {

// EACCES, EPERM: Permission; EROFS: ReadOnly; ENOSPC, EDQUOT: Full; EBUSY, ETXTBSY: Busy;
// ENOENT: NotFound; anything else: Failed.
Status::Code CodeOfError(std::error_code ec);

// "permission denied", "read-only file system", "the disk is full", "a file stands where a folder
// should be", ... or the system's own words for the rest.
std::string ReasonOfError(std::error_code ec);

// "Cannot <doing> <path>: <reason>", coded as above.
Status FileProblem(std::string_view doing, const std::filesystem::path& path, std::error_code ec);

}  // namespace tarvel
