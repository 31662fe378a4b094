#pragma once
#include "core/Progress.h"

namespace shipkit::payload {

// Verifies the container's CRC-32 when its flag asks for it and the check is enabled;
// returns only when the container is intact, otherwise ends the process. The bar shows the
// check at 0..100; without a check it jumps to 101 of 100..400.
void verifyIntegrity(core::Progress& progress);

}  // namespace shipkit::payload
