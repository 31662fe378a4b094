#pragma once
// Single-instance operation and the instance semaphore that marks a running launcher.

#include <windows.h>

#include <string>

namespace shipkit::instance {

// Creates the instance semaphore (held for the life of the process). In single-instance
// mode a second start of the same launcher file activates the first one's windows (when
// configured) and ends the process with code 0.
void initInstanceControl();

// The name of the instance semaphore the launcher created, or empty.
std::string semaphoreName();

// The instance id registry value: HKCU "SOFTWARE\larkfield\jarwrap\pids\", value named by
// the normalized launcher path. Registry failures are ignored.
void recordInstancePid(const std::string& normalizedPath, DWORD pid);
// 0 when the key or value is missing or the value is not 4 bytes long.
DWORD readInstancePid(const std::string& normalizedPath);
// Reads the value, retrying `retries` times `intervalMs` apart while it yields 0.
DWORD waitForInstancePid(const std::string& normalizedPath, int retries, DWORD intervalMs);

// Brings every visible top-level window of the process to the foreground.
void activateProcessWindows(DWORD pid, bool restoreMinimized);

}  // namespace shipkit::instance
