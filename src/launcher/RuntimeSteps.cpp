#include "launcher/RuntimeSteps.h"

#include "core/RunState.h"
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

bool downloadRuntime(core::Progress& progress) {
  return jre::downloadRuntime(progress);
}
void stopDownload() {
  jre::awaitCanceledTransfer();
}

void setProgressBase(int base) {
  instance::setProgressBase(base);
}
void unpackShippedRuntime(core::Progress& progress) {
  jre::unpackShippedRuntime(progress);
}
void useUnpackedRuntime() {
  jre::useShippedRuntime();
}
void unpackPack200(const std::string& path) {
  jre::unpackPackedJar(jvm::chosenRuntime().home, path);
}
void startStartWait(core::Progress& progress) {
  instance::startStartWait(progress);
}
bool launchJvm(const std::vector<std::wstring>& arguments) {
  // A vendor who packed splash images into the launcher (image 10000 is the one for scale
  // 1.0) wants them shown; a launcher without images shows no splash and logs nothing of it.
  // Only in runs that may show windows: a quiet run (also "-c" and a language restart) shows none.
  return jvm::createAndRunJvm(arguments, true, !core::runState().quiet && jvm::hasSplashImage());
}

}  // namespace shipkit::launcher
