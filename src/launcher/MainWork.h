#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace shipkit::launcher {

// The main work from the integrity check to the start of the Java virtual machine.
// `window` is the progress dialog or null. Returns 0.
int runMainWork(HWND window);

}  // namespace shipkit::launcher
