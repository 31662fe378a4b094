#pragma once
// The shutdown call of reboot0. Tests replace it (and put it back): under Wine a real
// ExitWindowsEx ends every process of the prefix.

#include <windows.h>

namespace shipkit::natives {

struct MiscCalls {
  decltype(&::ExitWindowsEx) exitWindowsEx;
};

MiscCalls& miscCalls();

}  // namespace shipkit::natives
