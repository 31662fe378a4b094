#pragma once
// The run-as-administrator step of the link natives, apart so that it can be checked on a
// link object of the test's own (Wine's link object ignores the flag).

#include <objbase.h>

namespace shipkit::natives {

inline constexpr DWORD kRunAsUserFlag = 0x2000;  // SLDF_RUNAS_USER

// Adds SLDF_RUNAS_USER to the link's data flags through IShellLinkDataList, keeping the
// others; false when the interface or either call fails.
bool addRunAsFlag(IUnknown* link);

}  // namespace shipkit::natives
