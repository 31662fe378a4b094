#include "jvm/splash/Splash.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>

#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/splash/DisplayDpi.h"
#include "jvm/splash/SplashChoice.h"
#include "jvm/splash/SplashImage.h"
#include "win/LateBound.h"

namespace shipkit::jvm {

using core::logError;
using core::logLine;

namespace {

using SplashInitFn = void (*)();
using SplashLoadMemoryFn = int (*)(void* data, int size);
using SplashCloseFn = void (*)();
using SplashSetScaleFactorFn = void (*)(float scale);

// The library is never unloaded; SplashClose is kept for the error display, which may close
// the splash from any thread.
std::atomic<bool> gShown{false};
std::atomic<SplashCloseFn> gClose{nullptr};
std::atomic<HMODULE> gImageModule{nullptr};
const wchar_t* const kRcData = MAKEINTRESOURCEW(10);  // RT_RCDATA

HMODULE imageModule() {
  HMODULE module = gImageModule.load();
  return module ? module : ::GetModuleHandleW(nullptr);
}

struct Image {
  const std::uint8_t* data = nullptr;
  int size = 0;
  explicit operator bool() const { return data != nullptr; }
  std::span<const std::uint8_t> bytes() const { return {data, std::size_t(size)}; }
};

Image splashImage(HMODULE module, int offset) {
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(kSplashResourceBase + offset), kRcData);
  if (!found) return {};
  Image image;
  image.data = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(module, found)));
  image.size = int(::SizeofResource(module, found));
  return image;
}

void closeShownSplash() {
  if (!gShown.exchange(false)) return;
  if (SplashCloseFn close = gClose.load()) close();
}

// Loads the image and logs what the library answered, with the step that chose the image, the
// library's function and the bytes handed to it.
int loadMemory(SplashLoadMemoryFn load, int step, const std::uint8_t* data, int size) {
  const int result = load(const_cast<std::uint8_t*>(data), size);
  const wchar_t* format = step == 1   ? L"splash load memory returned 1 %d (%p, %p, %d)"
                          : step == 2 ? L"splash load memory returned 2 %d (%p, %p, %d)"
                                      : L"splash load memory returned 3 %d (%p, %p, %d)";
  logLine(format, result, reinterpret_cast<void*>(load), data, size);
  return result;
}

}  // namespace

void showSplashWith(const std::string& jvmHome, HMODULE images, float scale) {
  logLine(L"scale factor %f", double(scale));
  if (gShown) return;
  const std::string path = jvmHome + "\\bin\\splashscreen.dll";
  logLine(L"loading splashscreen dll from %S", path.c_str());
  HMODULE library = ::LoadLibraryA(path.c_str());
  if (!library) {
    logError(L"Could not load splashscreen.dll");
    return;
  }
  auto init = win::procAddress<SplashInitFn>(library, "SplashInit");
  auto load = win::procAddress<SplashLoadMemoryFn>(library, "SplashLoadMemory");
  auto close = win::procAddress<SplashCloseFn>(library, "SplashClose");
  auto setScale = win::procAddress<SplashSetScaleFactorFn>(library, "SplashSetScaleFactor");
  if (!init || !load || !close) {
    logError(L"Could not find functions in splashscreen.dll");
    return;
  }
  init();

  if (setScale && scale > 1.0f) {
    const SplashPlan plan =
        planSplash(scale, [images](int offset) { return bool(splashImage(images, offset)); });
    logLine(L"idOffset start %d", plan.startOffset);
    const Image image = splashImage(images, plan.offset);
    if (!image) {
      // Only reached without image 10000: the splash library is not handed a null image.
      logError(L"Could not find splash image %d", kSplashResourceBase + plan.offset);
      return;
    }
    bool loaded = false;
    if (plan.rescale) {
      logLine(L"scaling splash image %f", double(plan.remaining));
      if (std::optional<std::vector<std::uint8_t>> scaled = rescaleImage(image.bytes(), plan.remaining)) {
        setScale(scale);
        loadMemory(load, 1, scaled->data(), int(scaled->size()));
        loaded = true;
      }
    }
    if (!loaded) {
      setScale(plan.imageScale);
      loadMemory(load, 2, image.data, image.size);
    }
    logLine(L"setting scale factor %f", double(scale));
  } else {
    const Image image = splashImage(images, 0);
    if (!image) {
      logError(L"Could not find splash image %d", kSplashResourceBase);
      return;
    }
    loadMemory(load, 3, image.data, image.size);
  }
  gClose = close;
  gShown = true;
  core::setSplashCloser(&closeShownSplash);
}

void showOrCloseSplash(bool show) {
  if (!show) {
    closeShownSplash();
    return;
  }
  showSplashWith(chosenRuntime().home, imageModule(), displayScale());
}

bool hasSplashImage() {
  return bool(splashImage(imageModule(), 0));
}

void setSplashImageModule(HMODULE module) {
  gImageModule = module;
}

bool splashShown() {
  return gShown;
}

void forgetSplash() {
  gShown = false;
  gClose = nullptr;
}

}  // namespace shipkit::jvm
