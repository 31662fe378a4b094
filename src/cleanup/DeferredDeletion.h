#pragma once
// The deletion mode "__skt_windel": after the installer has ended, removes the files and
// directories named by the list file, schedules what resists for the next reboot, and
// reboots, asks to, or leaves a reboot check file.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "cleanup/Reboot.h"

namespace shipkit::cleanup {

struct DeletionSettings {
  int passes = 60;
  DWORD passIntervalMs = 500;
  std::function<void()> semaphorePause = [] { ::Sleep(200); };  // between two looks at the semaphore
  ExitWindowsFn exitWindows = ::ExitWindowsEx;
};

// Returns the process exit code, always 0.
int runDeferredDeletion(const std::wstring& listFile, const DeletionSettings& settings = {});

// The lines of the list file; a file that cannot be read gives none.
std::vector<std::wstring> readListFile(const std::wstring& path);

// Returns once no semaphore of that name exists (no time limit); `pause` runs between two
// looks. A semaphore this process may not open exists too.
void waitForSemaphoreRelease(const std::wstring& name, const std::function<void()>& pause);

// Makes the launcher executable's directory the current directory.
void enterLauncherDirectory();

// Creates the reboot check file, schedules it for deletion at the next reboot and, when
// that worked, records its path as "RebootCheckFile" in HKLM (when the key can be created)
// and HKCU. Returns the path (empty when scheduling failed).
std::wstring createRebootCheckFile();

}  // namespace shipkit::cleanup
