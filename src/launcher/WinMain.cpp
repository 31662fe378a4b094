#include <windows.h>

#include "launcher/Startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  return shipkit::launcher::launcherMain(instance, commandLine);
}
