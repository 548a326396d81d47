#pragma once
// tarvel-cli: the one reading of the command line. A verb names its flags and its options that
// take a value; what is left are its words. Every number is a whole number in its range --
// digits with an optional minus sign, nothing else: "1.5", "1e3" and "0x10" are refused, never
// rounded. The first fault is kept; Usage() prints it with the verb's usage line (exit 2).

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel::cli {

// What a number on the command line stands for, and the values it may take.
struct NumberArg {
  std::string_view name;
  long long low;
  long long high;
};

// A channel is a number the user chooses (a 16-bit whole number, 0 and below kept out); only the
// addresses stop at 64.
inline constexpr NumberArg kChannelArg{"CHANNEL", 1, 32767};
inline constexpr NumberArg kAddressArg{"ADDRESS", 1, 64};  // the addresses the system uses
inline constexpr NumberArg kStepArg{"STEP", 1, 64};
inline constexpr NumberArg kWordArg{"a program word", -32768, 32767};
inline constexpr NumberArg kEveryArg{"--every SECONDS", 0, 24 * 60 * 60};       // up to a day
inline constexpr NumberArg kSweepEveryArg{"--every SECONDS", 1, 24 * 60 * 60};  // a sweep at most each second
inline constexpr NumberArg kCountArg{"--count N", 1, 1'000'000};

// Digits with an optional leading minus sign, within low..high; nullopt otherwise.
std::optional<long long> ParseWholeArg(std::string_view text, long long low, long long high);

class ArgReader {
 public:
  // Where the options may stand: anywhere among the words, or only before the first word
  // (the rest, from the first word on, is left as words: tarvel-cli's own --home and --port).
  enum class Options { Anywhere, Leading };

  ArgReader(std::ostream& err, std::string_view usage, const std::vector<std::string>& args, std::size_t first,
            std::initializer_list<std::string_view> flags, std::initializer_list<std::string_view> valued,
            Options where = Options::Anywhere);

  const std::vector<std::string>& Words() const { return words_; }
  std::size_t Count() const { return words_.size(); }
  const std::string& Word(std::size_t i) const { return words_.at(i); }
  bool Flag(std::string_view name) const;
  // The value of an option given once; nullopt when it was not given.
  std::optional<std::string> Option(std::string_view name) const;

  // Word i (or a text) as a whole number in the range of what; nullopt and the fault kept when not.
  std::optional<int> Whole(std::size_t word, NumberArg what);
  std::optional<int> Whole(std::string_view text, NumberArg what);
  // Keeps a fault of the verb's own (a word that is not one of its choices).
  void Refuse(std::string why);

  bool ok() const { return fault_.empty(); }
  // Prints the first fault, if any, and the usage line; returns the usage exit code.
  int Usage();

 private:
  std::ostream& err_;
  std::string usage_;
  std::vector<std::string> words_;
  std::vector<std::string> flags_;
  std::vector<std::pair<std::string, std::string>> options_;
  std::string fault_;
};

}  // namespace tarvel::cli
