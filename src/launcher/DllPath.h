#pragma once
// The configured native library directories, and PATH.

#include <windows.h>

#include <string>

namespace shipkit::launcher {

// Adds the configured native library directories as DLL directories and in front of PATH.
void setupNativeLibraryPath();
// Removes the Windows directory's entries from PATH when configured.
void reducePath();

}  // namespace shipkit::launcher
