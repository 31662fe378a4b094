#include "jvm/RuntimeSteps.h"

#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "jvm/launch/JavaVMLauncher.h"
#include "jvm/locate/LoadDll.h"

namespace shipkit::jvm {

using core::logLine;

bool searchRuntime() {
  return LoadDLL(false, nullptr, false);
}

// Runtime provisioning (download, manual selection, shipped archives, pack200) is not built
// yet: a run without a runtime ends with the message a machine without Java would show.

void downloadRuntime(HWND) {
  logLine(L"No JRE found");
  std::wstring bitness = L"64";
  core::fatalMessage(1016, std::wstring_view(bitness));
}

void setProgressBase(int) {}
void unpackShippedRuntime(HWND) {}
void useUnpackedRuntime(HWND) {}
void unpackPack200(const std::string&) {}
void startStartWait(HWND) {}
bool launchJvm(const std::vector<std::wstring>& arguments) {
  return createAndRunJvm(arguments, true);
}

}  // namespace shipkit::jvm
