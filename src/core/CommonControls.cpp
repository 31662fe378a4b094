#include "core/CommonControls.h"

#include <windows.h>

#include <mutex>

namespace shipkit::core {

namespace {

void initCommonControls() {
  HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
  if (!comctl) comctl = ::LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!comctl) return;
  using Fn = void(WINAPI*)();
  if (auto init =
          reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(comctl, "InitCommonControls"))))
    init();
}

}  // namespace

void ensureCommonControls() {
  // Trivially destructible, so it stays usable while the process ends.
  static std::once_flag done;
  std::call_once(done, initCommonControls);
}

}  // namespace shipkit::core
