#pragma once
// link: what one controller has shown it does beyond the two-register frames, learnt on the line
// and kept by the caller (the console keeps it in the database). Every controller answers the
// two-register frames: a read of two registers, a write of two. Some also store the second
// register of a write (so one write carries two words of a program) and answer a read of many
// registers. A block read covers only registers the map describes, side by side, and each block
// shape is learnt on its own: the step area, and the run mode with the program limits. A
// refused shape stays refused until the controller is forgotten.

#include <cstdint>

namespace tarvel::link {

enum class Known : std::uint8_t { Untried, Yes, No };

struct Capabilities {
  Known pairWrites = Known::Untried;  // stores both registers of a function 16 write
  Known blockReads = Known::Untried;  // answers a read of kBlockRegisters registers of the step area
  Known modeBlock = Known::Untried;   // answers the run mode and the program limits (0x200D..0x200F) in one read
  bool operator==(const Capabilities&) const = default;
};

// The registers one block read asks for at most. Function 3 allows 125, but the data dominate
// a long reply (three reads of 64 take 3% longer than two of 125 and 64 for the whole step
// area), and more controllers answer 64 than 125.
inline constexpr int kBlockRegisters = 64;
inline constexpr int kMaxReadRegisters = 125;  // what function 3 allows in one read

// Which frames a transfer may use with one controller: what is known of it (a transfer updates
// it with what it learns, for the caller to keep) and whether reads of more than two registers
// may be used at all.
struct FrameUse {
  Capabilities known;
  bool blockReadsAllowed = true;

  bool BlockReads() const { return blockReadsAllowed && known.blockReads == Known::Yes; }
  // The first read that could use a block tries one, once per controller.
  bool ProbeBlocks() const { return blockReadsAllowed && known.blockReads == Known::Untried; }
  bool ModeBlock() const { return blockReadsAllowed && known.modeBlock == Known::Yes; }
  bool ProbeModeBlock() const { return blockReadsAllowed && known.modeBlock == Known::Untried; }
  bool PairWrites() const { return known.pairWrites == Known::Yes; }
};

// A read-back that disagrees with what was written: whether the controller stores both
// registers of a write is learnt again by the next write of a range.
inline FrameUse ForgetPairWrites(FrameUse use) {
  use.known.pairWrites = Known::Untried;
  return use;
}

}  // namespace tarvel::link
