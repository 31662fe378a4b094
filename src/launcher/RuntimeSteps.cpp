#include "launcher/RuntimeSteps.h"

#include "instance/StartWait.h"
#include "jre/Download.h"
#include "jre/Pack200.h"
#include "jre/ShippedRuntime.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/launch/JavaVMLauncher.h"
#include "jvm/locate/LoadDll.h"
#include "jvm/splash/Splash.h"

namespace shipkit::launcher {

bool searchRuntime() {
  return jvm::LoadDLL(false, nullptr, false);
}

void downloadRuntime(HWND window) {
  jre::downloadRuntime(window);
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
  jre::unpackPackedJar(jvm::chosenRuntime().home, path);
}
void startStartWait(HWND window) {
  instance::startStartWait(window);
}
bool launchJvm(const std::vector<std::wstring>& arguments) {
  // A vendor who packed splash images into the launcher (image 10000 is the one for scale
  // 1.0) wants them shown; a launcher without images shows no splash and logs nothing of it.
  return jvm::createAndRunJvm(arguments, true, jvm::hasSplashImage());
}

}  // namespace shipkit::launcher
