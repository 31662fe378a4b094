#pragma once
// The common controls library ("comctl32.dll", version 6 through the manifest) and its
// InitCommonControls. Loading it is the slowest single step of start-up (under Wine it also
// waits for the desktop process), and only the launcher's own windows and message boxes
// need it, so it is loaded on first need rather than on every start.

namespace shipkit::core {

// Loads and initialises the library once per process: uses "comctl32.dll" if it is already
// loaded, else loads it from the system directory only, and calls its InitCommonControls if
// present. Call before the launcher shows any window or message box.
void ensureCommonControls();

}  // namespace shipkit::core
