#include "launcher/DllPath.h"

#include "core/Config.h"
#include "core/DllDirectories.h"
#include "core/Log.h"
#include "core/PathList.h"
#include "core/Paths.h"
#include "jvm/launch/ExpandVariables.h"
#include "win/Environment.h"
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
  // PATH itself goes through the wide functions so that entries outside the ANSI code page
  // come back unchanged; only the configured part is narrow text.
  const std::wstring path = win::wide(list) + win::environmentVariable(L"PATH").value_or(std::wstring());
  const DWORD error = win::setEnvironmentVariable(L"PATH", &path);
  if (error == 0)
    logLine(L"Setting PATH (native libs) %s", path.c_str());
  else
    logLine(L"Setting PATH (native libs) %s failed with error %d", path.c_str(), int(error));
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
