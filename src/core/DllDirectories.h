#pragma once
// Where Windows looks for libraries loaded into the launcher's process.

#include <windows.h>

#include <string>

namespace shipkit::core {

// Restricts library loading to the system directory and added directories (not on 6.0).
void restrictDllSearch();
// Adds a narrow directory to the DLL directories; 0 when that is not possible.
DLL_DIRECTORY_COOKIE addDllDirectory(const std::string& dir);
void removeDllDirectory(DLL_DIRECTORY_COOKIE cookie);

}  // namespace shipkit::core
