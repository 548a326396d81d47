#pragma once
// console: a controller given a new address. The change is recorded in the database before
// the controller is asked; a change whose outcome was never stored (the reply lost, a kill,
// the database refusing the move) is resolved later by asking both addresses: the unit at
// the new one -> its rows follow it; at the old one -> the record goes; neither -> it stays.
// Used by the console's start, the channel map window and tarvel-cli. Depends on link and store.

#include <functional>
#include <string>

#include "link/line.h"
#include "link/modbus_rtu_line.h"
#include "store/config_store.h"

namespace tarvel::console {

// Before a unit is given an address: is any other unit there? Free only when every one of
// kTargetProbes probes went unanswered, so that one lost reply never puts two units on one
// address; taken when any probe heard anything, even garbled. Unknown when the port failed
// (outcome says how).
enum class TargetState { Free, Taken, Unknown };
struct TargetCheck {
  TargetState state = TargetState::Unknown;
  link::Outcome outcome = link::Outcome::NoReply;
};
inline constexpr int kTargetProbes = 3;
TargetCheck CheckTargetFree(link::ModbusRtuLine& line, int address);

enum class AddressFate {
  Moved,       // the unit answers at the new address and the rows moved with it
  Stayed,      // the unit answers at the old address: the record is gone
  Unresolved,  // neither answered, or the database refused: the record stays
};

using Say = std::function<void(const std::string&)>;

// Resolves the recorded change from -> to, telling each step through say. answeredAtNew: the
// unit has confirmed the new address already (its reply to the change), so nothing is asked.
AddressFate ResolveAddressChange(store::ConfigStore& store, link::Line& line, int from, int to, const Say& say,
                                 bool answeredAtNew = false);
// Every change recorded and not resolved, oldest first; sends nothing when there is none.
// True when none is left.
bool ResolvePendingAddressChanges(store::ConfigStore& store, link::Line& line, const Say& say);

}  // namespace tarvel::console
