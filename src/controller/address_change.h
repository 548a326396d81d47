#pragma once
// controller: a controller given a new address. The change is recorded in the database before
// the controller is asked; a change whose outcome was never stored (the reply lost, a kill,
// the database refusing the move) is resolved later by asking both addresses: the unit at
// the new one -> its rows follow it; at the old one -> the record goes; neither -> it stays.
// Results are values; the console and tarvel-cli put them into words. Depends on link and store.

#include <functional>
#include <optional>
#include <string>

#include "link/line.h"
#include "link/line_scan.h"
#include "link/modbus_rtu_line.h"
#include "store/config_store.h"

namespace tarvel::controller {

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
// A presence probe of one address, made by whoever owns the port (this process or the line service).
using ProbeAt = std::function<link::Probe(std::uint8_t)>;
TargetCheck CheckTargetFree(const ProbeAt& probe, int address);

enum class AddressFate {
  Moved,       // the unit answers at the new address and the rows moved with it
  Stayed,      // the unit answers at the old address: the record is gone
  Unresolved,  // neither answered, or the database refused: the record stays
};

// Why a change stays recorded.
enum class Unsettled {
  None,
  MoveRefused,     // the unit answers at the new address; the database refused to follow
  DropRefused,     // the unit kept its address; the record could not be removed
  NeitherAnswers,  // both addresses asked, no unit answered
  LineCannotTell,  // a garbled reply or a closed line
};

struct Resolution {
  AddressFate fate = AddressFate::Unresolved;
  Unsettled why = Unsettled::None;
  std::string refusal;         // the database's words, for MoveRefused and DropRefused
  std::optional<int> channel;  // the channel mapped to the unit, when its rows moved
};

// Resolves the recorded change from -> to. answeredAtNew: the unit has confirmed the new
// address already (its reply to the change), so nothing is asked.
Resolution ResolveAddressChange(store::ConfigStore& store, link::Line& line, int from, int to,
                                bool answeredAtNew = false);

// Where a change stopped before anything was sent.
enum class ChangeStop {
  None,
  LineCannotTell,  // the probes of the target failed on the port (probe says how)
  TargetTaken,     // a unit answers at the target
  NotRecorded,     // the database refused the record (refusal)
};

struct AddressChange {
  ChangeStop stop = ChangeStop::None;
  link::Outcome probe = link::Outcome::NoReply;
  std::string refusal;
  bool confirmed = false;  // the unit replied to the change
  Resolution resolution;
  // Whether the unit took the address: its rows moved, or it confirmed and only the database lags.
  bool Taken() const {
    return stop == ChangeStop::None &&
           (resolution.fate == AddressFate::Moved || (confirmed && resolution.fate == AddressFate::Unresolved));
  }
};

// Gives the unit at current the address next, the numbers and the channel map checked by the
// caller: the target probed free, the change recorded, the unit asked, the change resolved.
AddressChange ChangeAddress(store::ConfigStore& store, link::Line& line, const ProbeAt& probe, int current, int next);
// The same on a port this process owns, the target probed with the line's whole first-byte window.
AddressChange ChangeAddress(store::ConfigStore& store, link::ModbusRtuLine& line, int current, int next);

}  // namespace tarvel::controller
