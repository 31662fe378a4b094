#pragma once
// The running processes as process list entries ("<id> <path>") for getRunningModules0.

#include <string>
#include <vector>

namespace shipkit::natives {

// Process ids with the path of their executable, in enumeration order: through
// EnumProcesses and the image name queries, or through a Toolhelp snapshot when that
// produced nothing. Processes that cannot be opened or queried are left out.
std::vector<std::wstring> runningModules();

// The two enumerations by themselves: EnumProcesses with the image name queries, and the
// Toolhelp snapshot with each process's first module.
std::vector<std::wstring> runningModulesByIds();
std::vector<std::wstring> runningModulesBySnapshot();

}  // namespace shipkit::natives
