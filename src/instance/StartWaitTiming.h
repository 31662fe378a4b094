#pragma once
// The pace of the wait for the Java side's first window: one pass every 100 ms and the
// time-out check at pass 2400 (about 240 s). Kept in a unit of its own so that a test
// build of the launcher can link a shorter pace in its place.

#include <windows.h>

namespace shipkit::instance {

struct StartWaitTiming {
  DWORD stepMs = 100;
  int timeoutPasses = 2400;  // the time-out is checked at pass timeoutPasses - 1
};

StartWaitTiming startWaitTiming();

}  // namespace shipkit::instance
