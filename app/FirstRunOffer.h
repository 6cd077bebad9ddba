#pragma once

#include "core/RegistryStrings.h"
#include "interfaces/MessageBoxes.h"

namespace quavera {

// Asks once per machine whether our home page may become the start page, then records that the
// question was asked. Runs at every start, before the main window shows.
void RunFirstRunOffer(RegistryStrings& registry, MessageBoxes& messageBoxes);

} // namespace quavera
