#include "launcher/DllPath.h"

#include <cstdlib>

#include "jvm/launch/ExpandVariables.h"
#include "launcher/Log.h"
#include "launcher/PathList.h"
#include "launcher/Paths.h"
#include "payload/Config.h"
#include "win/OsVersion.h"
#include "win/Text.h"

namespace shipkit::launcher {

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

void setupNativeLibraryPath() {
  std::string configured = payload::configString(10004);
  logLine(L"native lib dir is %S", configured.c_str());
  configured = jvm::expandNarrow(configured);
  std::string list;
  for (const auto& entry : splitList<char>(configured)) {
    std::string dir = isRelative<char>(entry) ? collapseBackslashes<char>(launcherDir() + entry) : entry;
    if (!list.empty()) list += ';';
    list += dir;
    addDllDirectory(dir);
  }
  if (!list.empty() && list.back() != ';') list += ';';
  char current[48000];
  DWORD n = ::GetEnvironmentVariableA("PATH", current, sizeof current);
  if (n > 0 && n < sizeof current) list.append(current, n);
  if (::SetEnvironmentVariableA("PATH", list.c_str()))
    logLine(L"Setting PATH (native libs) %S", list.c_str());
  else
    logLine(L"Setting PATH (native libs) %S failed with error %d", list.c_str(), int(::GetLastError()));
  std::string crtEntry = "PATH=" + list;
  _putenv(crtEntry.c_str());
}

void reducePath() {
  if (payload::configInt(10010) == 0) return;
  DWORD size = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (size == 0) return;
  std::wstring path(size, L'\0');
  DWORD n = ::GetEnvironmentVariableW(L"PATH", path.data(), size);
  path.resize(n < size ? n : 0);
  if (path.empty()) return;
  wchar_t windowsDir[261] = {};
  UINT w = ::GetWindowsDirectoryW(windowsDir, 261);
  if (w == 0 || w > 260) return;
  logLine(L"reducing PATH %d %d %s", int(w), int(path.size()), path.c_str());
  std::wstring reduced = reducedPath(path, std::wstring_view(windowsDir, w));
  logLine(L"reduced PATH %d to %s", int(reduced.size()), reduced.c_str());
  if (!reduced.empty() && !::SetEnvironmentVariableW(L"PATH", reduced.c_str()))
    logLine(L"ERROR setting path");
}

}  // namespace shipkit::launcher
