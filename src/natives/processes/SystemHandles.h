#pragma once
// The system's list of open handles through NtQuerySystemInformation.

#include <windows.h>

#include <optional>
#include <vector>

#include "natives/processes/HandleList.h"

namespace shipkit::natives {

using NtQuerySystemInformationFn = LONG(NTAPI*)(ULONG infoClass, PVOID buffer, ULONG bytes, PULONG returned);

// The entries of every process: the extended form (information class 64, full-width
// process ids and handle values), or the basic one (class 16) where the system lacks the
// extended form. The buffer starts at 65536 bytes and doubles while the system says it is
// too small. None when the query fails.
std::optional<std::vector<HandleEntry>> systemHandles(NtQuerySystemInformationFn query);

}  // namespace shipkit::natives
