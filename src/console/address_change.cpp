#include "console/address_change.h"

#include "link/commands.h"
#include "link/line_scan.h"

namespace tarvel::console {
namespace {

std::string Unit(int address) { return "unit #" + std::to_string(address); }

// Whether a unit answers at address; nothing when the line cannot tell (not open, garbled).
std::optional<bool> Answers(link::Line& line, int address) {
  if (address < 1 || address > 247) return false;
  link::CommandSet commands(line);
  const link::Outcome outcome = commands.ReadProcessValue(static_cast<std::uint8_t>(address)).outcome;
  if (outcome == link::Outcome::Ok) return true;
  if (outcome == link::Outcome::NoReply) return false;
  return std::nullopt;
}

}  // namespace

TargetCheck CheckTargetFree(link::ModbusRtuLine& line, int address) {
  for (int probe = 0; probe < kTargetProbes; ++probe) {
    const link::Probe heard = link::ProbeUnit(line, static_cast<std::uint8_t>(address), line.Timing().firstByte);
    if (heard.outcome == link::Outcome::PortClosed || heard.outcome == link::Outcome::PortError)
      return {TargetState::Unknown, heard.outcome};
    if (heard.outcome != link::Outcome::NoReply) return {TargetState::Taken, heard.outcome};
  }
  return {TargetState::Free, link::Outcome::NoReply};
}

AddressFate ResolveAddressChange(store::ConfigStore& store, link::Line& line, int from, int to, const Say& say,
                                 bool answeredAtNew) {
  const std::string change = "The address change of " + Unit(from) + " to " + std::to_string(to);
  const std::optional<bool> atNew = answeredAtNew ? std::optional(true) : Answers(line, to);
  if (atNew.value_or(false)) {
    auto mapped = store.ChannelByAddress(from);
    if (Status moved = store.MoveAddress(from, to); !moved) {
      say("Error: the unit now answers at " + std::to_string(to) + " but the database could not follow: " +
          moved.message());
      say(change + " stays recorded and is resolved at the next start");
      return AddressFate::Unresolved;
    }
    if (mapped.ok() && mapped->has_value())
      say("Channel " + std::to_string((*mapped)->softwareChannel) + " moved to ModBusAddress=" + std::to_string(to));
    return AddressFate::Moved;
  }
  const std::optional<bool> atOld = atNew ? Answers(line, from) : std::nullopt;
  if (atOld.value_or(false)) {
    if (Status dropped = store.DropAddressChange(from, to); !dropped) {
      say("ERROR: " + change + " did not happen, but its record could not be removed: " + dropped.message());
      return AddressFate::Unresolved;
    }
    return AddressFate::Stayed;
  }
  say("WARNING: " + change + " is not confirmed: " +
      (atNew && atOld ? "neither address answers" : "the line cannot tell which address answers"));
  say("It stays recorded, the channel map keeps " + std::to_string(from) +
      ", and both addresses are asked again at the next start");
  return AddressFate::Unresolved;
}

bool ResolvePendingAddressChanges(store::ConfigStore& store, link::Line& line, const Say& say) {
  auto pending = store.PendingAddressChanges();
  if (!pending) {
    say("ERROR: The recorded address changes could not be read: " + pending.status().message());
    return false;
  }
  bool resolved = true;
  for (const auto& change : *pending) {
    say("Unit #" + std::to_string(change.oldAddress) + " was being given address " +
        std::to_string(change.newAddress) + " (" + change.requested + " UTC): asking both addresses");
    const AddressFate fate = ResolveAddressChange(store, line, change.oldAddress, change.newAddress, say);
    if (fate == AddressFate::Moved) say("Unit #" + std::to_string(change.oldAddress) + " took address " +
                                        std::to_string(change.newAddress));
    if (fate == AddressFate::Stayed) say("Unit #" + std::to_string(change.oldAddress) + " kept its address");
    resolved = resolved && fate != AddressFate::Unresolved;
  }
  return resolved;
}

}  // namespace tarvel::console
