#pragma once
// The request frames of run-state readings, as (address, register) pairs, for tests that check
// the order in which controllers are asked.

#include <cstdint>
#include <utility>
#include <vector>

namespace tarvel::testing {

// Address and register of each request frame.
inline std::vector<std::pair<int, int>> Reads(const std::vector<std::vector<std::uint8_t>>& frames) {
  std::vector<std::pair<int, int>> reads;
  for (const auto& f : frames) reads.emplace_back(f[0], f[2] << 8 | f[3]);
  return reads;
}

// The reads with each request sent again right after itself taken once, and how many were: a
// reply byte for byte like one heard within the last second (zeros read twice, a register read
// again at once) is asked for again, as a copy from a repeater would be.
inline std::pair<std::vector<std::pair<int, int>>, int> ReadsOnce(
    const std::vector<std::vector<std::uint8_t>>& frames) {
  std::vector<std::pair<int, int>> reads;
  int again = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (i > 0 && frames[i] == frames[i - 1]) {
      ++again;
      continue;
    }
    reads.emplace_back(frames[i][0], frames[i][2] << 8 | frames[i][3]);
  }
  return {reads, again};
}

// The reads of one reading, in the order the controller is asked: the program limits in one
// read, and on the first reading of a controller the block of the run mode and the limits right
// after it, refused.
inline std::vector<std::pair<int, int>> Reading(int address, bool probe = false) {
  std::vector<int> regs{0x200E, 0x018F, 0x200D, 0x0191, 0x0168, 0x0164, 0x0000, 0x01D8};
  if (probe) regs.insert(regs.begin() + 1, 0x200D);
  std::vector<std::pair<int, int>> reads;
  for (int reg : regs) reads.emplace_back(address, reg);
  return reads;
}

}  // namespace tarvel::testing
