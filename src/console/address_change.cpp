#include "console/address_change.h"

namespace tarvel::console {

using controller::AddressFate;
using controller::Unsettled;

void SayResolution(const controller::Resolution& resolution, int from, int to, const Say& say) {
  const std::string change = "The address change of unit #" + std::to_string(from) + " to " + std::to_string(to);
  switch (resolution.why) {
    case Unsettled::None:
      if (resolution.fate == AddressFate::Moved && resolution.channel)
        say("Channel " + std::to_string(*resolution.channel) + " moved to ModBusAddress=" + std::to_string(to));
      return;
    case Unsettled::MoveRefused:
      say("Error: the unit now answers at " + std::to_string(to) +
          " but the database could not follow: " + resolution.refusal);
      say(change + " stays recorded and is resolved at the next start");
      return;
    case Unsettled::DropRefused:
      say("ERROR: " + change + " did not happen, but its record could not be removed: " + resolution.refusal);
      return;
    case Unsettled::NeitherAnswers:
    case Unsettled::LineCannotTell:
      say("WARNING: " + change + " is not confirmed: " +
          (resolution.why == Unsettled::NeitherAnswers ? "neither address answers"
                                                       : "the line cannot tell which address answers"));
      say("It stays recorded, the channel map keeps " + std::to_string(from) +
          ", and both addresses are asked again at the next start");
      return;
  }
}

bool ResolvePendingAddressChanges(store::ConfigStore& store, link::Line& line, const Say& say) {
  auto pending = store.PendingAddressChanges();
  if (!pending) {
    say("ERROR: The recorded address changes could not be read: " + pending.status().message());
    return false;
  }
  bool resolved = true;
  for (const auto& change : *pending) {
    const std::string unit = "Unit #" + std::to_string(change.oldAddress);
    say(unit + " was being given address " + std::to_string(change.newAddress) + " (" + change.requested +
        " UTC): asking both addresses");
    const controller::Resolution found =
        controller::ResolveAddressChange(store, line, change.oldAddress, change.newAddress);
    SayResolution(found, change.oldAddress, change.newAddress, say);
    if (found.fate == AddressFate::Moved) say(unit + " took address " + std::to_string(change.newAddress));
    if (found.fate == AddressFate::Stayed) say(unit + " kept its address");
    resolved = resolved && found.fate != AddressFate::Unresolved;
  }
  return resolved;
}

}  // namespace tarvel::console
