#pragma once
// The splash screen, shown by the chosen runtime's splashscreen.dll with an image from the
// launcher's own resources (RT_RCDATA 10000 + k for scale 1 + k * 0.25).

#include <windows.h>

#include <string>

namespace shipkit::jvm {

// Shows the splash (show) for the display's scale with the chosen runtime's library, at most
// once per process; or closes a shown splash (!show). Failures are error lines in the log.
void showOrCloseSplash(bool show);

// The same steps with the runtime home, the module holding the images and the display scale
// given instead of asked for.
void showSplashWith(const std::string& jvmHome, HMODULE images, float scale);

// Whether the image module carries image 10000, the one for scale 1.0.
bool hasSplashImage();

// The module whose resources hold the images: the launcher's executable unless set (tests
// hand a module of their own, which must stay loaded while a splash may be shown).
void setSplashImageModule(HMODULE module);

bool splashShown();
// Forgets a shown splash so that it can be shown again in the same process (tests only; the
// library stays loaded).
void forgetSplash();

}  // namespace shipkit::jvm
