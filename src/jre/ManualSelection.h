#pragma once
// The runtime selection dialog: download a runtime, locate an installed java.exe with the
// system's open-file dialog, or cancel the installation.

#include <windows.h>

namespace shipkit::jre {

inline constexpr int kSelectionDownload = 1004;
inline constexpr int kSelectionLocate = 1005;

// Shows the dialog modally, owned by `owner` (or none); returns kSelectionDownload or
// kSelectionLocate (a runtime was located and loaded). Cancel ends the launcher with exit
// code 1 after clearing the start markers.
int showSelectionDialog(HWND owner, bool downloadOffered);

// Lets the user choose a java.exe, loads it (errors shown) and records it in the
// located-JVM list; false when nothing usable was chosen.
bool chooseJavaExecutable(HWND owner);

}  // namespace shipkit::jre
