#include "controller/address_change.h"

#include "link/commands.h"
#include "link/line_scan.h"

namespace tarvel::controller {
namespace {

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

TargetCheck CheckTargetFree(const ProbeAt& probe, int address) {
  for (int tries = 0; tries < kTargetProbes; ++tries) {
    const link::Probe heard = probe(static_cast<std::uint8_t>(address));
    if (heard.outcome == link::Outcome::PortClosed || heard.outcome == link::Outcome::PortError)
      return {TargetState::Unknown, heard.outcome};
    if (heard.outcome != link::Outcome::NoReply) return {TargetState::Taken, heard.outcome};
  }
  return {TargetState::Free, link::Outcome::NoReply};
}

Resolution ResolveAddressChange(store::ConfigStore& store, link::Line& line, int from, int to, bool answeredAtNew) {
  const std::optional<bool> atNew = answeredAtNew ? std::optional(true) : Answers(line, to);
  if (atNew.value_or(false)) {
    auto mapped = store.ChannelByAddress(from);
    if (Status moved = store.MoveAddress(from, to); !moved)
      return {AddressFate::Unresolved, Unsettled::MoveRefused, moved.message(), std::nullopt};
    Resolution done;
    done.fate = AddressFate::Moved;
    if (mapped.ok() && mapped->has_value()) done.channel = (*mapped)->softwareChannel;
    return done;
  }
  const std::optional<bool> atOld = atNew ? Answers(line, from) : std::nullopt;
  if (atOld.value_or(false)) {
    if (Status dropped = store.DropAddressChange(from, to); !dropped)
      return {AddressFate::Unresolved, Unsettled::DropRefused, dropped.message(), std::nullopt};
    return {AddressFate::Stayed, Unsettled::None, {}, std::nullopt};
  }
  return {AddressFate::Unresolved,
          atNew && atOld ? Unsettled::NeitherAnswers : Unsettled::LineCannotTell,
          {},
          std::nullopt};
}

AddressChange ChangeAddress(store::ConfigStore& store, link::ModbusRtuLine& line, int current, int next) {
  return ChangeAddress(
      store, line, [&line](std::uint8_t address) { return link::ProbeUnit(line, address, line.Timing().firstByte); },
      current, next);
}

AddressChange ChangeAddress(store::ConfigStore& store, link::Line& line, const ProbeAt& probe, int current, int next) {
  AddressChange change;
  // Two units on one address would answer together: refuse an address anyone answers to.
  const TargetCheck target = CheckTargetFree(probe, next);
  change.probe = target.outcome;
  if (target.state == TargetState::Unknown) return change.stop = ChangeStop::LineCannotTell, change;
  if (target.state == TargetState::Taken) return change.stop = ChangeStop::TargetTaken, change;
  // Recorded before the unit is asked, so that a start after a kill or a lost reply finds it and
  // asks both addresses.
  if (Status recorded = store.RecordAddressChange(current, next); !recorded) {
    change.stop = ChangeStop::NotRecorded;
    change.refusal = recorded.message();
    return change;
  }
  // A lost confirmation does not mean a refused change: both addresses are asked.
  link::CommandSet commands(line);
  change.confirmed = commands.WriteUnitAddress(static_cast<std::uint8_t>(current), static_cast<std::uint8_t>(next)) ==
                     link::Outcome::Ok;
  change.resolution = ResolveAddressChange(store, line, current, next, change.confirmed);
  return change;
}

}  // namespace tarvel::controller
