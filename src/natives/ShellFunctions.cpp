#include "natives/ShellFunctions.h"

#include "win/LateBound.h"

namespace shipkit::natives {

namespace {

// Written without a lock: concurrent first callers store the same values.
volatile bool helpersPreloaded = false;
volatile bool shellBound = false;

}  // namespace

void preloadShellHelpers() {
  if (helpersPreloaded) return;
  helpersPreloaded = true;
  ::LoadLibraryW(L"davhlpr.dll");
  ::LoadLibraryW(L"fwbase.dll");
}

ShellFunctions& shellFunctions() {
  static ShellFunctions functions;
  if (!shellBound) {
    preloadShellHelpers();
    ShellFunctions bound;
    if (HMODULE shell32 = win::systemLibrary(L"shell32.dll")) {
      bound.changeNotify = reinterpret_cast<SHChangeNotifyFn>(
          reinterpret_cast<void*>(::GetProcAddress(shell32, "SHChangeNotify")));
      bound.shellExecute = reinterpret_cast<ShellExecuteWFn>(
          reinterpret_cast<void*>(::GetProcAddress(shell32, "ShellExecuteW")));
    }
    // The two are used as a pair: without either, neither is offered.
    if (!bound.changeNotify || !bound.shellExecute) bound = {};
    functions = bound;
    shellBound = true;
  }
  return functions;
}

bool shChangeNotify(LONG eventId, UINT flags, LPCVOID item1, LPCVOID item2) {
  SHChangeNotifyFn fn = shellFunctions().changeNotify;
  if (!fn) return false;
  fn(eventId, flags, item1, item2);
  return true;
}

HINSTANCE shellExecute(HWND window, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                       INT showCommand) {
  ShellExecuteWFn fn = shellFunctions().shellExecute;
  if (!fn) return nullptr;
  return fn(window, operation, file, parameters, directory, showCommand);
}

}  // namespace shipkit::natives
