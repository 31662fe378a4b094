#include "jre/ShippedRuntime.h"

#include <string>

#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "jre/Pack200.h"
#include "jre/UntarGz.h"
#include "jvm/locate/LoadDll.h"

namespace shipkit::jre {

using core::logError;
using core::logLine;

void unpackShippedRuntime(HWND window) {
  const DWORD start = ::GetTickCount();
  logLine(L"extracting JRE");
  if (!::CreateDirectoryA("jre", nullptr)) logError(L"Could not create JRE dir");
  if (!untarGz("jre.tar.gz", "jre", window, core::configInt(151))) {
    logError(L"Could not untar JRE");
    core::fatalText(
        L"The bundled JRE is corrupted. If you downloaded the setup file please download it again.");
  }
  ::DeleteFileA("jre.tar.gz");
  const DWORD untarDuration = ::GetTickCount() - start;
  if (core::configInt(153) != 0) {
    logLine(L"JRE is packed");
    if (window) startPack200Progress(window, untarDuration);
    unpackRuntimeJars("jre");
    unpackRuntimeJars("jre\\jre");
    stopPack200Progress();
  }
  useShippedRuntime();
}

void useShippedRuntime() {
  char full[6000] = {};
  DWORD n = ::GetFullPathNameA("jre", sizeof full, full, nullptr);
  std::string dir = n > 0 && n < sizeof full ? std::string(full, n) : std::string("jre");
  logLine(L"JRE dir: %S", dir.c_str());
  if (jvm::LoadDLL(false, &dir, false)) return;
  logError(L"Could not load bundled JRE. Trying to find another JRE.");
  if (jvm::LoadDLL(false, nullptr, false)) return;
  logError(L"Could not find another JRE.");
  if (core::perUserFallback()) core::fatalMessage(1015);
  core::fatalText(L"Could not use bundled JRE. Please send this log file to your software vendor:");
}

}  // namespace shipkit::jre
