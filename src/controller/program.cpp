#include "controller/program.h"

#include <algorithm>

namespace tarvel::controller {
namespace {

bool SameWords(const store::MemoryRow& row, const link::ProgramStep& step) {
  return row.pidSet == step.pidSet && row.duration == step.duration && row.temperature == step.temperature;
}

}  // namespace

Marking MarkBeforeWriting(Session& session, std::uint8_t address, int first, int last) {
  Marking marking;
  auto before = session.store.Memory(address);
  if (!before.ok()) {
    marking.status = before.status();
    return marking;
  }
  auto marked = session.store.MarkStepsUnknown(address, first, last, store::TouchedLogRows::Drop);
  if (!marked.ok()) {
    marking.status = marked.status();
    return marking;
  }
  marking.dropped = std::move(*marked);
  MarkedWrite write{address, first, last, {}};
  for (const auto& row : *before)
    if (row.segment >= first && row.segment <= last) write.before.push_back(row);
  marking.write = std::move(write);
  return marking;
}

Transfer WriteProgram(Session& session, std::uint8_t address, int start, const std::vector<link::ProgramStep>& steps) {
  link::FrameUse frames = session.FramesFor(address);
  Transfer transfer{link::WriteStepRange(session.commands, address, start, steps, frames), Status::Ok()};
  transfer.learnt = session.KeepLearnt(address, frames);
  return transfer;
}

Transfer ClearProgram(Session& session, std::uint8_t address, int first, int last) {
  link::FrameUse frames = session.FramesFor(address);
  Transfer transfer{link::ClearStepRange(session.commands, address, first, last, frames), Status::Ok()};
  transfer.learnt = session.KeepLearnt(address, frames);
  return transfer;
}

ProgramRead ReadProgram(Session& session, std::uint8_t address, int first, int last) {
  link::FrameUse frames = session.FramesFor(address);
  ProgramRead read{link::ReadStepRange(session.commands, address, first, last, frames), Status::Ok()};
  read.learnt = session.KeepLearnt(address, frames);
  return read;
}

StoredRead StoreProgramRead(Session& session, std::uint8_t address, int first,
                            const std::vector<link::ProgramStep>& steps) {
  StoredRead stored;
  auto rows = session.store.Memory(address);
  if (!rows.ok()) {
    stored.status = rows.status();
    return stored;
  }
  std::vector<store::MemoryRow> read;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const auto& s = steps[i];
    const int step = first + static_cast<int>(i);
    auto row = std::find_if(rows->begin(), rows->end(), [step](const auto& r) { return r.segment == step; });
    if (row != rows->end() && row->modified == 1) {
      // A jump's copy runs in the controller while the row keeps the step it shortened: the
      // row is what Start puts back, so the copy never replaces it. Once the original reads
      // back, or a program write had begun over the copy (the step is marked Unknown), the
      // step is what was read and nothing is to be put back.
      if (row->unknown == 0 && !SameWords(*row, s)) {
        stored.kept.push_back(step);
        continue;
      }
      if (Status cleared = session.store.SetStepModified(address, step, 0); !cleared.ok()) {
        stored.kept.clear();
        stored.status = cleared;
        return stored;
      }
    }
    read.push_back({address, step, s.duration, s.temperature, s.pidSet, 0});
  }
  stored.status = session.store.WriteMemorySteps(address, read);
  return stored;
}

JumpCopiesForgotten ForgetJumpCopies(Session& session, std::uint8_t address, int first, int last) {
  auto rows = session.store.ModifiedSteps(address);
  if (!rows.ok()) return {rows.status(), 0};
  for (const auto& row : *rows)
    if (row.segment >= first && row.segment <= last)
      if (Status cleared = session.store.SetStepModified(address, row.segment, 0); !cleared.ok())
        return {cleared, row.segment};
  return {Status::Ok(), 0};
}

StoppedWrite WriteStopped(Session& session, const MarkedWrite& write, const link::TransferFault& fault) {
  StoppedWrite stopped;
  const int reached = stopped.reached = fault.beforeWriting ? write.first - 1 : fault.lastTouched;
  if (reached >= write.first) stopped.forgotten = ForgetJumpCopies(session, write.address, write.first, reached);
  std::vector<store::MemoryRow> unreached;
  for (const auto& row : write.before)
    if (row.segment > reached && row.unknown == 0) unreached.push_back(row);
  stopped.restored = unreached.empty() ? Status::Ok() : session.store.WriteMemorySteps(write.address, unreached);
  return stopped;
}

Status RecordUpload(Session& session, std::uint8_t address, int start, const std::vector<link::ProgramStep>& readBack,
                    const store::LogRow& entry) {
  std::vector<store::MemoryRow> rows;
  for (std::size_t i = 0; i < readBack.size(); ++i) {
    const auto& s = readBack[i];
    rows.push_back({address, start + static_cast<int>(i), s.duration, s.temperature, s.pidSet, 0});
  }
  return session.store.RecordUpload(address, rows, entry);
}

}  // namespace tarvel::controller
