#pragma once
// util: where a simulator publishes its line, so a port scan finds it like an adapter:
// $XDG_RUNTIME_DIR/tarvel/tarvel-sim-<pid>, a link to its pseudo-terminal.

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

inline constexpr std::string_view kPublishedLinePrefix = "tarvel-sim-";

// Empty when XDG_RUNTIME_DIR is not set: nothing is published then.
inline std::filesystem::path PublishedLineFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return {};
  return std::filesystem::path(runtime) / "tarvel";
}

inline std::string PublishedLineName(long pid) { return std::string(kPublishedLinePrefix) + std::to_string(pid); }

// The process id in a published link's name; nullopt for any other name.
inline std::optional<long> PublisherOf(std::string_view name) {
  if (!name.starts_with(kPublishedLinePrefix)) return std::nullopt;
  name.remove_prefix(kPublishedLinePrefix.size());
  if (name.empty() || name.size() > 9 || name.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  return std::stol(std::string(name));
}

}  // namespace tarvel
