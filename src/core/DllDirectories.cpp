#include "core/DllDirectories.h"

#include "core/Log.h"
#include "win/OsVersion.h"
#include "win/Text.h"

namespace shipkit::core {

namespace {
template <typename Fn>
Fn kernel32(const char* name) {
  HMODULE k = ::GetModuleHandleW(L"kernel32.dll");
  return k ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(k, name))) : nullptr;
}
}  // namespace

void restrictDllSearch() {
  // Windows Vista (6.0) is left alone.
  const win::OsVersion version = win::reportedOsVersion();
  if (version.major == 6 && version.minor == 0) return;
  using Fn = BOOL(WINAPI*)(DWORD);
  if (auto setDefault = kernel32<Fn>("SetDefaultDllDirectories")) {
    setDefault(0x0C00);
    logLine(L"restrict DLL directories");
  }
}

DLL_DIRECTORY_COOKIE addDllDirectory(const std::string& dir) {
  using Fn = DLL_DIRECTORY_COOKIE(WINAPI*)(PCWSTR);
  auto add = kernel32<Fn>("AddDllDirectory");
  if (!add) return nullptr;
  std::wstring wideDir = win::wide(dir);
  if (wideDir.empty() || wideDir.size() >= 6000) return nullptr;
  logLine(L"Adding DLL directory %s", wideDir.c_str());
  return add(wideDir.c_str());
}

void removeDllDirectory(DLL_DIRECTORY_COOKIE cookie) {
  if (!cookie) return;
  using Fn = BOOL(WINAPI*)(DLL_DIRECTORY_COOKIE);
  if (auto remove = kernel32<Fn>("RemoveDllDirectory")) {
    logLine(L"Removing DLL directory");
    remove(cookie);
  }
}

}  // namespace shipkit::core
