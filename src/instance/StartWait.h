#pragma once
// The wait for the Java side's first window: keeps the progress dialog moving until a
// second visible window of this process exists or the Java side marks itself as running,
// then hides the dialog.

#include <windows.h>

#include "core/Progress.h"

namespace shipkit::instance {

// The bar position from which the wait animates: 100, 200 or 300.
void setProgressBase(int base);
// Starts the wait thread at above-normal priority.
void startStartWait(core::Progress& progress);
// The thread body; `progress` is the core::Progress of the dialog.
DWORD WINAPI startWaitThread(LPVOID progress);
// Visible top-level windows of the process, not counting the console window.
int countOwnVisibleWindows(DWORD pid);
// Finds the console window of this process once; later calls do nothing.
void findConsoleWindow();

}  // namespace shipkit::instance
