#include "controller/session.h"

namespace tarvel::controller {
namespace {

link::Known KnownOf(const std::optional<bool>& stored) {
  if (!stored) return link::Known::Untried;
  return *stored ? link::Known::Yes : link::Known::No;
}

std::optional<bool> StoredOf(link::Known known) {
  if (known == link::Known::Untried) return std::nullopt;
  return known == link::Known::Yes;
}

}  // namespace

link::FrameUse Session::FramesFor(std::uint8_t address) {
  link::FrameUse use;
  use.blockReadsAllowed = blockReads;
  // Unreadable knowledge is no knowledge: the controller is asked again.
  if (auto row = store.Capabilities(address); row.ok())
    use.known = {KnownOf(row->pairWrites), KnownOf(row->blockReads), KnownOf(row->modeBlock)};
  return use;
}

Status Session::KeepLearnt(std::uint8_t address, const link::FrameUse& use) {
  const store::CapabilityRow row{address, StoredOf(use.known.pairWrites), StoredOf(use.known.blockReads),
                                 StoredOf(use.known.modeBlock)};
  if (auto stored = store.Capabilities(address); stored.ok() && *stored == row) return Status::Ok();
  return store.SaveCapabilities(row);
}

}  // namespace tarvel::controller
