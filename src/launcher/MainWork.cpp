#include "launcher/MainWork.h"

#include <cstdio>

#include "core/CommandLine.h"
#include "core/CommonControls.h"
#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RunState.h"
#include "instance/StartMarkers.h"
#include "launcher/DllPath.h"
#include "launcher/ProgressDialog.h"
#include "launcher/RuntimeSteps.h"
#include "payload/ContainerFormat.h"
#include "payload/Extract.h"
#include "payload/Integrity.h"
#include "win/Text.h"

namespace shipkit::launcher {

// The shared services (log, configuration, paths, run state, error display).
using namespace core;

namespace {

bool fileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void enterExtractionDir() {
  const std::string& dir = runState().extractionDir;
  if (!::SetCurrentDirectoryA(dir.c_str()))
    logError(L"Could not change working dir to %S (%d)", dir.c_str(), int(::GetLastError()));
}

// False when the user canceled during the extraction: the run ends.
bool freshExtraction(core::Progress& progress) {
  RunState& rs = runState();
  if (rs.extractOnly) {
    rs.extractionDir = launcherPath() + ".test";
    logLine(L"Extracted dir: %S", rs.extractionDir.c_str());
    // An existing directory is fine; an existing file of that name is not.
    bool created = ::CreateDirectoryA(rs.extractionDir.c_str(), nullptr);
    int error = int(::GetLastError());
    DWORD attributes = ::GetFileAttributesA(rs.extractionDir.c_str());
    if (!created && !(error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
                      (attributes & FILE_ATTRIBUTE_DIRECTORY))) {
      std::string failed = rs.extractionDir;
      rs.extractionDir.clear();
      logLine(L"Could not create dir %S (%d)", failed.c_str(), error);
      fatalMessage(1009, std::string_view("70"));
    }
  } else {
    createExtractionDir();
  }
  setupNativeLibraryPath();
  enterExtractionDir();
  int result = payload::extractPayload(progress);
  if (result == payload::kExtractCanceled) return false;
  if (result != payload::kExtractOk) {
    if (!rs.quiet) {
      std::wstring text = core::message(result == payload::kExtractWriteFailed ? 20018 : 20016);
      ensureCommonControls();
      ::MessageBoxW(progress.owner(), text.c_str(), core::message(20013).c_str(), MB_ICONERROR | MB_OK);
    }
    fatalExit(1);
  }
  return true;
}

// Whether a usable runtime archive or unpacked runtime is present (step 6).
void detectShippedRuntime() {
  RunState& rs = runState();
  char full[2001] = {};
  ::GetFullPathNameA("jre.tar.gz", sizeof full, full, nullptr);
  logLine(L"Full JRE path: %S", full);
  rs.runtimeArchivePresent = fileExists(full);
  if (!rs.runtimeArchivePresent && rs.languageRestart && !rs.restartFailed) {
    logLine(L"Checking restart JRE: %S", full);
    char unpacked[2001] = {};
    ::GetFullPathNameA("jre", sizeof unpacked, unpacked, nullptr);
    logLine(L"Checking extracted JRE: %S", unpacked);
    rs.runtimeArchivePresent = fileExists(unpacked);
  }
  logLine(rs.runtimeArchivePresent ? L"JRE included" : L"No JRE included");
  if (rs.manualRuntime && rs.runtimeArchivePresent) {
    logLine(L"Included JRE not used because of manual switch");
    rs.runtimeArchivePresent = false;
  }
}

// False when the user canceled a download: the run ends.
bool chooseRuntime(core::Progress& progress) {
  RunState& rs = runState();
  const bool preferInstalled = core::configInt(161) != 0;
  if (!rs.runtimeArchivePresent) {
    instance::setStartMarkers(progress.hasDialog());
    if (!rs.manualRuntime && searchRuntime()) return true;
    if (rs.quiet) {
      if (core::configInt(157) == 0) {
        logError(L"No JRE found");
        writeStdout("No JRE found. Aborting.\n");
        instance::clearStartMarkers();
        std::exit(83);
      }
      writeStdout("No JRE found. Trying to download.\n");
      return downloadRuntime(core::noProgress());
    }
    if (progress.hasDialog()) return downloadRuntime(progress);
    // A dialog only for the download: its Cancel ends the run as the dialog's Cancel does.
    runProgressDialog(nullptr);
    return !progressDialogCanceled();
  }
  if (preferInstalled) {
    instance::setStartMarkers(progress.hasDialog());
    if (searchRuntime())
      rs.runtimeArchivePresent = false;
    else
      instance::clearStartMarkers();
  }
  return true;
}

}  // namespace

int runMainWork(core::Progress& progress) {
  RunState& rs = runState();
  logLine(L"Starting work");
  progress.setPosition(1);
  progress.setRange(0, 400);
  if (!rs.languageRestart) payload::verifyIntegrity(progress);

  bool reuse = false;
  if (rs.languageRestart) {
    char current[6000] = {};
    ::GetCurrentDirectoryA(sizeof current, current);
    rs.extractionDir = current;
    if (!fileExists(rs.extractionDir + "\\sktruntime.jar")) {
      logLine(L"could not find sktruntime.jar");
      rs.restartFailed = true;
    } else if (!fileExists(rs.extractionDir + "\\sktparams.conf")) {
      logLine(L"could not find sktparams.conf");
      rs.restartFailed = true;
    }
    if (rs.restartFailed)
      rs.extractionDir.clear();
    else
      reuse = true;
  }
  if (!reuse && !freshExtraction(progress)) return 0;

  char current[6000] = {};
  ::GetCurrentDirectoryA(sizeof current, current);
  logLine(L"Current working dir: %S", current);
  detectShippedRuntime();
  if (!chooseRuntime(progress)) return 0;
  enterExtractionDir();

  const bool fresh = !rs.languageRestart || rs.restartFailed;
  if (fresh) {
    setProgressBase(!rs.runtimeArchivePresent ? 100 : (core::configInt(153) != 0 ? 300 : 200));
    if (rs.runtimeArchivePresent) unpackShippedRuntime(progress);
  } else if (rs.runtimeArchivePresent) {
    useUnpackedRuntime();
  }
  if (fresh) {
    int32_t count = core::configInt(2002);
    for (const auto& name :
         payload::splitNames(core::configStringCopy(2003), count > 0 ? std::size_t(count) : 0)) {
      if (name.size() >= 5 && name.ends_with(".pack")) {
        logLine(L"unpacking %S", name.c_str());
        unpackPack200(rs.extractionDir + "\\" + name);
      }
    }
  }

  if (rs.extractOnly) {
    FILE* out = std::fopen("unextracted.txt", "w");
    if (!out) {
      logError(L"Could not write file with unextracted position");
      fatalMessage(1009, std::string_view("71"));
    }
    std::fprintf(out, "%d", int(payload::unextractedPosition()));
    std::fclose(out);
    instance::clearStartMarkers();
    std::exit(0);
  }

  if (progress.hasDialog()) startStartWait(progress);
  instance::setStartMarkers(progress.hasDialog());

  std::vector<std::wstring> javaArgs;
  splitCommandLine(::GetCommandLineW(), javaArgs);
  if (!launchJvm(javaArgs)) {
    logError(L"Could not start JVM");
    fatalMessage(1005);
  }
  return 0;
}

}  // namespace shipkit::launcher
