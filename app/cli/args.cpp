#include "cli/args.h"

#include <algorithm>
#include <charconv>

#include "cli/cli.h"

namespace tarvel::cli {

std::optional<long long> ParseWholeArg(std::string_view text, long long low, long long high) {
  std::string_view digits = text.starts_with('-') ? text.substr(1) : text;
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  long long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
  return value;
}

ArgReader::ArgReader(std::ostream& err, std::string_view usage, const std::vector<std::string>& args, std::size_t first,
                     std::initializer_list<std::string_view> flags, std::initializer_list<std::string_view> valued,
                     Options where)
    : err_(err), usage_(usage) {
  auto named = [](std::initializer_list<std::string_view> names, const std::string& arg) {
    return std::find(names.begin(), names.end(), arg) != names.end();
  };
  for (std::size_t i = first; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool option = arg.starts_with("--") && (where == Options::Anywhere || words_.empty());
    if (!option) {
      words_.push_back(arg);
      continue;
    }
    if (named(flags, arg)) {
      if (Flag(arg)) Refuse(arg + " is given twice");
      flags_.push_back(arg);
    } else if (named(valued, arg)) {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        Refuse(arg + " needs a value");
        continue;
      }
      if (Option(arg)) Refuse(arg + " is given twice");
      options_.emplace_back(arg, args[++i]);
    } else {
      Refuse("unknown option " + arg);
    }
  }
}

bool ArgReader::Flag(std::string_view name) const {
  return std::find(flags_.begin(), flags_.end(), name) != flags_.end();
}

std::optional<std::string> ArgReader::Option(std::string_view name) const {
  for (const auto& [option, value] : options_)
    if (option == name) return value;
  return std::nullopt;
}

std::optional<int> ArgReader::Whole(std::size_t word, NumberArg what) {
  if (word >= words_.size()) {
    Refuse(std::string(what.name) + " is missing");
    return std::nullopt;
  }
  return Whole(words_[word], what);
}

std::optional<int> ArgReader::Whole(std::string_view text, NumberArg what) {
  auto value = ParseWholeArg(text, what.low, what.high);
  if (!value) {
    Refuse(std::string(what.name) + " must be a whole number from " + std::to_string(what.low) + " to " +
           std::to_string(what.high) + ", not \"" + std::string(text) + "\"");
    return std::nullopt;
  }
  return static_cast<int>(*value);
}

void ArgReader::Refuse(std::string why) {
  if (fault_.empty()) fault_ = std::move(why);
}

int ArgReader::Usage() {
  if (!fault_.empty()) err_ << fault_ << "\n";
  err_ << usage_;
  return kExitUsage;
}

}  // namespace tarvel::cli
