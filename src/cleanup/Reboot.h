#pragma once
// Restarting the machine: the reboot mode and the reboot at the end of the deletion mode.

#include <windows.h>

namespace shipkit::cleanup {

// The system call that restarts the machine; tests put a recorder in its place (under Wine
// the real one ends every process of the prefix).
using ExitWindowsFn = BOOL(WINAPI*)(UINT flags, DWORD reason);

// Enables "SeShutdownPrivilege" in the process token; true when that left no error.
bool enableShutdownPrivilege();

// Enables the privilege and calls `exitWindows` with EWX_REBOOT and reason 0; false when
// the privilege could not be enabled or the call fails.
bool rebootNow(ExitWindowsFn exitWindows = ::ExitWindowsEx);

// The "__skt_reboot" mode: waits `waitMs`, then reboots as rebootNow does.
void rebootMode(DWORD waitMs = 5000, ExitWindowsFn exitWindows = ::ExitWindowsEx);

}  // namespace shipkit::cleanup
