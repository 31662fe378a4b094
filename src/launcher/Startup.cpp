#include "launcher/Startup.h"

#include <cstring>
#include <string>
#include <vector>

#include "cleanup/DeferredDeletion.h"
#include "cleanup/Reboot.h"
#include "core/CommandLine.h"
#include "core/Config.h"
#include "core/DllDirectories.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RunState.h"
#include "instance/SingleInstance.h"
#include "jre/Pack200.h"
#include "jvm/launch/ExpandVariables.h"
#include "jvm/locate/LoadDll.h"
#include "launcher/DllPath.h"
#include "launcher/MainWork.h"
#include "launcher/ProgressDialog.h"
#include "natives/base/ShellFunctions.h"
#include "payload/Container.h"
#include "win/LateBound.h"
#include "win/Text.h"

namespace shipkit::launcher {

// The shared services (log, configuration, paths, run state, error display).
using namespace core;

namespace {

bool startsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Libraries that some shell functions load late; loading them once up front keeps them
// from being searched for later in the restricted search path. One flag with the natives'
// binding of shell32, so the pair is loaded once per process.
void preloadShellHelpers() {
  natives::preloadShellHelpers();
}

// Attaches to the parent's console or creates one; an access-denied answer means one is
// already attached.
void attachConsole() {
  if (!::AttachConsole(ATTACH_PARENT_PROCESS) && ::GetLastError() != ERROR_ACCESS_DENIED) ::AllocConsole();
  runState().consoleAttached = true;
}

void earlySwitches(std::vector<std::wstring>& args) {
  RunState& rs = runState();
  rs.extractionDir.clear();
  if (takeLogSwitch(args)) setLogRequested();
  takeTempSwitch(args, [](const std::wstring& dir) {
    bool usable = setManualTempDir(dir);
    std::string narrowDir = win::narrow(dir);
    if (usable)
      logLine(L"Using manual temp dir %s (%S)", dir.c_str(), manualTempDirNarrow().c_str());
    else
      logLine(L"Manual temp dir not usable %s (%S)", dir.c_str(), narrowDir.c_str());
    return usable;
  });
  payload::readContainer(args);
  std::string kind = core::configString(2001, 2);
  rs.launcherKind = kind.empty() ? 0 : kind[0];
  reducePath();
  if (!rs.languageRestart) {
    std::wstring workDir = core::configWString(146);
    if (!workDir.empty()) {
      workDir = resolvePath(jvm::expandWide(workDir, true), true, true);
      if (::SetCurrentDirectoryW(workDir.c_str()))
        logLine(L"change working directory to %s", workDir.c_str());
      else
        logError(L"could not change working directory to %s (error %d)", workDir.c_str(),
                 int(::GetLastError()));
    } else {
      logLine(L"working directory unchanged");
    }
  }
  if (logRequested()) offerLogFolder();
}

void runSwitches(const std::vector<std::wstring>& args) {
  RunState& rs = runState();
  rs.integrityCheck = true;
  RunSwitches s = parseRunSwitches(args);
  if (s.quiet) rs.quiet = true;
  if (s.messageBoxOff) rs.messageBoxMode = false;
  if (s.console) attachConsole();
  rs.splashRequested = s.splash;
  rs.integrityCheck = s.integrityCheck;
  if (s.manual) rs.manualRuntime = true;
}

}  // namespace

int launcherMain(HINSTANCE instance, const char* commandLine) {
  if (!commandLine) commandLine = "";
  RunState& rs = runState();
  restrictDllSearch();
  preloadShellHelpers();
  // A runtime directory the search is given may still hold pack200-packed class libraries.
  jvm::setRuntimeDirectoryPreparation(jre::unpackRuntimeJars);
  if (std::strcmp(commandLine, "__skt_reboot") == 0) {
    cleanup::rebootMode();
    return 0;
  }
  rs.quiet = false;
  if (startsWith(commandLine, "__skt_lang_restart")) {
    logLine(L"language restart");
    rs.languageRestart = true;
    rs.quiet = true;
  }
  if (startsWith(commandLine, "__skt_extract_and_exit")) {
    logLine(L"extract and exit mode");
    rs.extractOnly = true;
  }
  // The common controls are initialised before the launcher's first window or message box
  // (core/CommonControls.h), not here: a run that shows none does not wait for them.
  std::vector<std::wstring> args;
  splitCommandLine(::GetCommandLineW(), args);
  if (startsWith(commandLine, "__skt_windel") && args.size() >= 3)
    return cleanup::runDeferredDeletion(args[2]);

  rs.instance = instance;
  earlySwitches(args);
  runSwitches(args);
  if (!rs.languageRestart) instance::initInstanceControl();
  rs.startWithoutDialog = core::configInt(155) != 0;
  logLine(L"Init done");

  if (rs.quiet && !rs.splashRequested) {
    logLine(L"Quiet installer.");
    runMainWork(core::noProgress());
  } else if (rs.startWithoutDialog) {
    registerDialogClass();
    runMainWork(core::noProgress());
  } else {
    registerDialogClass();
    runProgressDialog(nullptr);
  }
  return 0;
}

}  // namespace shipkit::launcher
