#include "jvm/RuntimeSteps.h"

#include "launcher/ErrorDisplay.h"
#include "launcher/Log.h"

namespace shipkit::jvm {

using launcher::logLine;

// Steps whose subsystems are not built yet: no runtime is ever found or provisioned, so a
// run ends with the messages a machine without Java would show.
bool searchRuntime() { return false; }

void downloadRuntime(HWND) {
  logLine(L"No JRE found");
  std::wstring bitness = L"64";
  launcher::fatalMessage(1016, std::wstring_view(bitness));
}

void setProgressBase(int) {}
void unpackShippedRuntime(HWND) {}
void useUnpackedRuntime(HWND) {}
void unpackPack200(const std::string&) {}
void startStartWait(HWND) {}
bool launchJvm(const std::vector<std::wstring>&) { return false; }

}  // namespace shipkit::jvm
