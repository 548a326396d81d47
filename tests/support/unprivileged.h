#pragma once
// Permission faults as a user meets them. Root passes every permission check, so as root the
// code under test runs as nobody: a program through setpriv, in-process code in a child that
// gives up root before it runs (the statement of an EXPECT_EXIT).

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tarvel::testing {

inline constexpr uid_t kNobody = 65534;

// For the child of an EXPECT_EXIT: from here on, permissions hold for this process.
inline void GiveUpRoot() {
  if (geteuid() != 0) return;
  if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(99);
}

// The program and arguments that run a program as a user who is not root.
inline std::pair<std::string, std::vector<std::string>> AsUser(std::string program, std::vector<std::string> args) {
  if (geteuid() != 0) return {std::move(program), std::move(args)};
  args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", std::move(program)});
  return {"setpriv", std::move(args)};
}

// Lets that user reach and read path and every folder above it (a test folder is 0700), and
// makes path itself (and what it holds) owned by them when they must be able to write it.
inline void OpenTo(const std::filesystem::path& path) {
  for (std::filesystem::path p = path; p.has_relative_path(); p = p.parent_path()) {
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ::chmod(p.c_str(), st.st_mode | 0055);
  }
}

inline void GiveTo(const std::filesystem::path& path) {
  if (geteuid() != 0) return;
  ::chown(path.c_str(), kNobody, kNobody);
  if (std::filesystem::is_directory(path))
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
      ::chown(entry.path().c_str(), kNobody, kNobody);
}

}  // namespace tarvel::testing
