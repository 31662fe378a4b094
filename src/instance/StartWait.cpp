#include "instance/StartWait.h"

#include <algorithm>
#include <cstdio>

#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/Progress.h"
#include "instance/StartMarkers.h"
#include "instance/StartWaitTiming.h"

namespace shipkit::instance {

namespace {

// Written before the wait thread starts, read only by it.
int gProgressBase = 100;
HWND gConsoleWindow = nullptr;
bool gConsoleSearched = false;

struct WindowCount {
  DWORD pid;
  int count;
};

BOOL CALLBACK countWindow(HWND window, LPARAM parameter) {
  auto* c = reinterpret_cast<WindowCount*>(parameter);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if (pid == c->pid && ::IsWindowVisible(window) && window != gConsoleWindow) ++c->count;
  return TRUE;
}

}  // namespace

void setProgressBase(int base) {
  gProgressBase = base;
}

void findConsoleWindow() {
  if (gConsoleSearched) return;
  gConsoleSearched = true;
  if (core::configInt(107) == 1) return;
  char saved[6000] = {};
  if (::GetConsoleTitleA(saved, sizeof saved) == 0) return;
  // A title nobody else has, found among the top-level windows, names the console window.
  char unique[64] = {};
  std::snprintf(unique, sizeof unique, "%d/%d", int(::GetTickCount()), int(::GetCurrentProcessId()));
  ::SetConsoleTitleA(unique);
  ::Sleep(40);
  gConsoleWindow = ::FindWindowA(nullptr, unique);
  ::SetConsoleTitleA(saved);
}

int countOwnVisibleWindows(DWORD pid) {
  findConsoleWindow();
  WindowCount c{pid, 0};
  ::EnumWindows(countWindow, reinterpret_cast<LPARAM>(&c));
  return c.count;
}

DWORD WINAPI startWaitThread(LPVOID parameter) {
  auto& progress = *static_cast<core::Progress*>(parameter);
  const StartWaitTiming timing = startWaitTiming();
  const int base = gProgressBase;
  int position = base;
  const DWORD pid = ::GetCurrentProcessId();
  // The progress dialog is one visible window of its own: wait for one more.
  for (int i = 0; countOwnVisibleWindows(pid) < 2; ++i) {
    if (readStartMarker(true) == 2) break;
    if ((i + 1) % 5 == 0) {
      position = std::min(position + (400 - base) / 4, 390);
      progress.setPosition(position);
    }
    if (i == timing.timeoutPasses - 1 && readStartMarker(true) == 1 && core::configInt(159) == 0) {
      core::logLine(L"timeout");
      core::fatalMessage(20014);
    }
    ::Sleep(timing.stepMs);
  }
  setStartMarkers(false, true, false);
  core::logLine(L"Java window visible");
  progress.hide();
  return 0;
}

// Also in a language restart with "-splash": the markers stay untouched there (they are a
// no-op), but a dialog that is never hidden would stand in front of the Java side.
void startStartWait(core::Progress& progress) {
  HANDLE thread = ::CreateThread(nullptr, 0, startWaitThread, &progress, CREATE_SUSPENDED, nullptr);
  if (!thread) {
    core::logError(L"could not start the wait thread (error %d)", int(::GetLastError()));
    return;
  }
  ::SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
  ::ResumeThread(thread);
  ::CloseHandle(thread);
}

}  // namespace shipkit::instance
