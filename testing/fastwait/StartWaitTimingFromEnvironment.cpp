// The launcher's wait for the Java window at a pace the tests choose: this definition
// takes the place of the library's fixed one (100 ms, 2400 passes) in the test build of
// the launcher only. SHIPKIT_TEST_WAIT_STEP_MS and SHIPKIT_TEST_WAIT_PASSES, when set to
// positive numbers, replace the step and the pass of the time-out.
#include <cwchar>

#include "instance/StartWaitTiming.h"

namespace shipkit::instance {

namespace {

int positiveVariable(const wchar_t* name, int fallback) {
  wchar_t value[32] = {};
  DWORD n = ::GetEnvironmentVariableW(name, value, 32);
  if (n == 0 || n >= 32) return fallback;
  int parsed = int(std::wcstol(value, nullptr, 10));
  return parsed > 0 ? parsed : fallback;
}

}  // namespace

StartWaitTiming startWaitTiming() {
  StartWaitTiming timing;
  timing.stepMs = DWORD(positiveVariable(L"SHIPKIT_TEST_WAIT_STEP_MS", int(timing.stepMs)));
  timing.timeoutPasses = positiveVariable(L"SHIPKIT_TEST_WAIT_PASSES", timing.timeoutPasses);
  return timing;
}

}  // namespace shipkit::instance
