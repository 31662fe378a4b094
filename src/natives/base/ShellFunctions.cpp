#include "natives/base/ShellFunctions.h"

#include <atomic>

#include "win/LateBound.h"

namespace shipkit::natives {

namespace {

std::atomic<bool> helpersPreloaded{false};

}  // namespace

void preloadShellHelpers() {
  if (helpersPreloaded.exchange(true)) return;
  ::LoadLibraryW(L"davhlpr.dll");
  ::LoadLibraryW(L"fwbase.dll");
}

// Resolved once and published whole through an atomic pointer, without a lock: a native
// thread sees either nothing yet (and resolves the same values itself) or a complete pair.
ShellFunctions& shellFunctions() {
  static std::atomic<ShellFunctions*> published{nullptr};
  if (ShellFunctions* functions = published.load(std::memory_order_acquire)) return *functions;
  preloadShellHelpers();
  auto* bound = new ShellFunctions;
  if (HMODULE shell32 = win::systemLibrary(L"shell32.dll")) {
    bound->changeNotify = reinterpret_cast<SHChangeNotifyFn>(
        reinterpret_cast<void*>(::GetProcAddress(shell32, "SHChangeNotify")));
    bound->shellExecute = reinterpret_cast<ShellExecuteWFn>(
        reinterpret_cast<void*>(::GetProcAddress(shell32, "ShellExecuteW")));
  }
  // The two are used as a pair: without either, neither is offered.
  if (!bound->changeNotify || !bound->shellExecute) *bound = {};
  ShellFunctions* expected = nullptr;
  if (!published.compare_exchange_strong(expected, bound, std::memory_order_acq_rel)) {
    delete bound;
    return *expected;
  }
  return *bound;
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
