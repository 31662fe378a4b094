#include "launcher/DllPath.h"

#include <cstdlib>

#include "core/Config.h"
#include "core/DllDirectories.h"
#include "core/Log.h"
#include "core/PathList.h"
#include "core/Paths.h"
#include "jvm/launch/ExpandVariables.h"
#include "win/Text.h"

namespace shipkit::launcher {

// The shared services (log, configuration, paths, run state, error display).
using namespace core;

void setupNativeLibraryPath() {
  std::string configured = core::configString(10004);
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
  if (core::configInt(10010) == 0) return;
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
