#pragma once
// controller: program transfers -- the step reads, writes and clears against a controller with
// the frames it is known to answer (what they learn is kept), and the database's copy of its
// program memory and log around them. Every function returns what happened as a value; the
// front end says it. The rules the copy keeps:
// - a program write marks its steps Unknown and takes the log rows they touch out of the log,
//   in one transaction, before its first write; a good read of a step clears the mark;
// - a step a jump rewrote (Modified) keeps its original, which Start puts back.
// Depends on the session (link, store).

#include <cstdint>
#include <optional>
#include <vector>

#include "controller/session.h"
#include "link/transfers.h"
#include "store/rows.h"

namespace tarvel::controller {

// A program write whose steps are marked: the rows as they were before the mark.
struct MarkedWrite {
  std::uint8_t address = 0;
  int first = 0, last = 0;
  std::vector<store::MemoryRow> before;
};

struct Marking {
  std::optional<MarkedWrite> write;    // none when the database refused: nothing may be sent
  std::vector<store::LogRow> dropped;  // the log rows taken out, each to be told
  Status status;                       // the refusal
};
// Marks steps first..last Unknown and takes the log rows they touch out of the log.
Marking MarkBeforeWriting(Session& session, std::uint8_t address, int first, int last);

// A transfer, and whether the database kept what it learnt of the controller's frames.
struct Transfer {
  link::TransferFault fault;
  Status learnt;
};
Transfer WriteProgram(Session& session, std::uint8_t address, int start, const std::vector<link::ProgramStep>& steps);
Transfer ClearProgram(Session& session, std::uint8_t address, int first, int last);

struct ProgramRead {
  link::RangeRead read;
  Status learnt;
};
ProgramRead ReadProgram(Session& session, std::uint8_t address, int first, int last);

struct StoredRead {
  std::vector<int> kept;  // Modified steps whose stored original stays (a jump's copy was read)
  Status status;          // the database's refusal; kept is then empty
};
// Stores steps read from first on and clears their marks.
StoredRead StoreProgramRead(Session& session, std::uint8_t address, int first,
                            const std::vector<link::ProgramStep>& steps);

struct JumpCopiesForgotten {
  Status status;
  int failedStep = 0;  // the step whose mark was refused; 0 when the marks could not be read
  bool ok() const { return status.ok(); }
};
// Steps first..last were overwritten by a program write: their Modified flags go to 0.
JumpCopiesForgotten ForgetJumpCopies(Session& session, std::uint8_t address, int first, int last);

struct StoppedWrite {
  int reached = 0;                               // the last step the write may have changed (below first: none)
  std::optional<JumpCopiesForgotten> forgotten;  // when the write may have reached a step
  Status restored;                               // the rows of the steps it cannot have reached put back
};
// After the write of a marked range stopped: the steps it cannot have reached get back the
// state they had (a row that was right before the mark is right again), and the jump copies
// of those it may have reached are forgotten.
StoppedWrite WriteStopped(Session& session, const MarkedWrite& write, const link::TransferFault& fault);

// The read-back of an upload and its log entry, stored together.
Status RecordUpload(Session& session, std::uint8_t address, int start, const std::vector<link::ProgramStep>& readBack,
                    const store::LogRow& entry);

}  // namespace tarvel::controller
