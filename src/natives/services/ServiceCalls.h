#pragma once
// The Windows calls of the service natives that Wine only pretends to make (failure actions
// are not stored, delayed auto-start is refused) and the pause of the stop wait. The natives
// call them through this table; tests may replace entries and must put them back.

#include <windows.h>

namespace shipkit::natives {

using ChangeServiceConfig2WFn = BOOL(WINAPI*)(SC_HANDLE service, DWORD infoLevel, LPVOID info);

// ChangeServiceConfig2W as the restart configuration finds it: only in an advapi32 that the
// process has already loaded.
struct LoadedChangeConfig2 {
  bool advapiLoaded = false;
  ChangeServiceConfig2WFn fn = nullptr;
};

struct ServiceCalls {
  // Descriptions and delayed auto-start.
  ChangeServiceConfig2WFn changeConfig2;
  // Failure actions.
  LoadedChangeConfig2 (*loadedChangeConfig2)();
  // The pause between two status reads while waiting for a service to stop.
  DWORD stopPollMillis;
};

ServiceCalls& serviceCalls();

}  // namespace shipkit::natives
