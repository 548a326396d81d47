#pragma once
// console: the words for a controller's address change and for the resolution of a change
// recorded earlier (controller/address_change.h does both). Used by the console's start, the
// channel map window and tarvel-cli. Depends on the controller.

#include <functional>
#include <string>

#include "controller/address_change.h"

namespace tarvel::console {

using Say = std::function<void(const std::string&)>;

// What resolving the change from -> to found; nothing is said of a unit that kept its address.
void SayResolution(const controller::Resolution& resolution, int from, int to, const Say& say);
// Every change recorded and not resolved, oldest first, each told through say; sends nothing
// when there is none. True when none is left.
bool ResolvePendingAddressChanges(store::ConfigStore& store, link::Line& line, const Say& say);

}  // namespace tarvel::console
