#include "jre/ShippedRuntime.h"

#include <string>

#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RunState.h"
#include "core/TreeDeletion.h"
#include "jre/DownloadDigest.h"
#include "jre/Pack200.h"
#include "jre/UntarGz.h"
#include "jvm/locate/LoadDll.h"
#include "win/Text.h"

namespace shipkit::jre {

using core::logError;
using core::logLine;

namespace {

// The fatal exit empties the extraction directory only two levels deep; an unpacked runtime
// is deeper, so its tree goes first (never in a language restart, which keeps its directory).
[[noreturn]] void fatalAfterUnpacking(const wchar_t* text, int messageId = 0) {
  if (!core::runState().languageRestart) core::removeTree(L"jre");  // files in use stay; links are never entered
  if (messageId != 0) core::fatalMessage(messageId);
  core::fatalText(text);
}

}  // namespace

void unpackShippedRuntime(core::Progress& progress) {
  const DWORD start = ::GetTickCount();
  logLine(L"extracting JRE");
  if (!::CreateDirectoryA("jre", nullptr)) logError(L"Could not create JRE dir");
  MemberName uncreatable;
  if (!untarGz("jre.tar.gz", "jre", progress, core::configInt(151), uncreatable)) {
    if (!uncreatable.bytes.empty()) {
      // Formatted into a buffer of 6000 characters, as every message text.
      const std::wstring name =
          uncreatable.utf8 ? win::fromUtf8(uncreatable.bytes) : win::wide(uncreatable.bytes);
      std::wstring text = L"Could not open file " + name + L"\n";
      if (text.size() > 5999) text.resize(5999);
      logError(L"%s", text.c_str());
      fatalAfterUnpacking(text.c_str());
    }
    logError(L"Could not untar JRE");
    fatalAfterUnpacking(
        L"The bundled JRE is corrupted. If you downloaded the setup file please download it again.");
  }
  releaseVerifiedArchive();
  ::DeleteFileA("jre.tar.gz");
  const DWORD untarDuration = ::GetTickCount() - start;
  if (core::configInt(153) != 0) {
    logLine(L"JRE is packed");
    if (progress.hasDialog()) startPack200Progress(progress, untarDuration);
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
  fatalAfterUnpacking(L"Could not use bundled JRE. Please send this log file to your software vendor:",
                      core::perUserFallback() ? 1015 : 0);
}

}  // namespace shipkit::jre
