#pragma once
// The process-wide run state: written during start-up, read afterwards by every step.

#include <windows.h>

#include <string>

namespace shipkit::core {

struct RunState {
  bool quiet = false;
  bool messageBoxMode = true;
  bool consoleAttached = false;
  bool integrityCheck = true;
  bool manualRuntime = false;
  bool splashRequested = false;
  bool languageRestart = false;
  bool restartFailed = false;
  bool extractOnly = false;
  bool runtimeArchivePresent = false;
  bool startWithoutDialog = false;
  char launcherKind = 0;  // first character of configuration entry 2001
  HINSTANCE instance = nullptr;
  HWND errorOwner = nullptr;
  std::string extractionDir;  // narrow; empty when none
};

RunState& runState();

// "jarwrap" for launcher kind 'e', "shipkit" otherwise.
const wchar_t* productNameW();
const char* productName();

}  // namespace shipkit::core
