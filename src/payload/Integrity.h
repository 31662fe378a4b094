#pragma once
#include <windows.h>

namespace shipkit::payload {

// Verifies the container's CRC-32 when its flag asks for it and the check is enabled;
// returns only when the container is intact, otherwise ends the process.
void verifyIntegrity(HWND window);

}  // namespace shipkit::payload
