#include "jvm/RuntimeSteps.h"

#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "instance/StartWait.h"
#include "jre/Pack200.h"
#include "jre/ShippedRuntime.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/launch/JavaVMLauncher.h"
#include "jvm/locate/LoadDll.h"

namespace shipkit::jvm {

using core::logLine;

bool searchRuntime() {
  return LoadDLL(false, nullptr, false);
}

// Runtime download and manual selection are not built yet: a run without a runtime ends
// with the message a machine without Java would show.

void downloadRuntime(HWND) {
  logLine(L"No JRE found");
  std::wstring bitness = L"64";
  core::fatalMessage(1016, std::wstring_view(bitness));
}

void setProgressBase(int base) {
  instance::setProgressBase(base);
}
void unpackShippedRuntime(HWND window) {
  jre::unpackShippedRuntime(window);
}
void useUnpackedRuntime(HWND) {
  jre::useShippedRuntime();
}
void unpackPack200(const std::string& path) {
  jre::unpackPackedJar(chosenRuntime().home, path);
}
void startStartWait(HWND window) {
  instance::startStartWait(window);
}
bool launchJvm(const std::vector<std::wstring>& arguments) {
  return createAndRunJvm(arguments, true);
}

}  // namespace shipkit::jvm
