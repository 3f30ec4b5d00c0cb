#pragma once
// Shutdown: saving kelvra.hif and rotating the journal.

#include "app/userinterface.h"
#include "store/headerlistex.h"

namespace kelvra::app {

// Saves kelvra.hif. fast: written only when the store changed, keeping every record; tidy
// (fast clear): always written, dropping records whose local file is gone. The journal takes
// the name kelvra.log only after a successful save, so a failed save leaves it for the next
// start to repair from. Returns false after telling the user that the save failed.
bool SaveHeaderInformation(UserInterface& ui, store::headerlistex& store, bool fast);

}  // namespace kelvra::app
