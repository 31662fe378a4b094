#pragma once
#include <windows.h>

namespace shipkit::launcher {

// The whole start-up sequence; returns the process exit code.
int launcherMain(HINSTANCE instance, const char* commandLine);

}  // namespace shipkit::launcher
