#include "jvm/splash/DisplayDpi.h"

#include <windows.h>
// (windows.h first)
#include <d2d1.h>
#include <shellscalingapi.h>

#include "jvm/splash/SplashChoice.h"
#include "win/ComPtr.h"
#include "win/Environment.h"
#include "win/LateBound.h"
#include "win/Text.h"

namespace shipkit::jvm {

namespace {

constexpr float kBaseDpi = 96.0f;

using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, MONITOR_DPI_TYPE, UINT*, UINT*);
using D2D1CreateFactoryFn = HRESULT(WINAPI*)(D2D1_FACTORY_TYPE, REFIID, const D2D1_FACTORY_OPTIONS*, void**);

win::LateBound<GetDpiForMonitorFn> gGetDpiForMonitor(L"shcore.dll", "GetDpiForMonitor");
win::LateBound<D2D1CreateFactoryFn> gD2D1CreateFactory(L"D2d1.dll", "D2D1CreateFactory");

// Read once per process: later changes of the variable do not count.
const std::optional<float>& uiScaleOverride() {
  static const std::optional<float> value = [] {
    std::optional<std::wstring> text = win::environmentVariable(L"J2D_UISCALE");
    return text ? parseUiScale(win::narrow(*text)) : std::nullopt;
  }();
  return value;
}

}  // namespace

std::optional<Dpi> displayDpi() {
  if (const std::optional<float>& scale = uiScaleOverride()) return Dpi{*scale * kBaseDpi, *scale * kBaseDpi};
  if (GetDpiForMonitorFn getDpi = gGetDpiForMonitor.get()) {
    HMONITOR monitor = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    UINT x = 0, y = 0;
    if (FAILED(getDpi(monitor, MDT_EFFECTIVE_DPI, &x, &y))) return std::nullopt;
    return Dpi{float(x), float(y)};
  }
  D2D1CreateFactoryFn create = gD2D1CreateFactory.get();
  if (!create) return std::nullopt;
  win::ComPtr<ID2D1Factory> factory;
  if (FAILED(create(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr, factory.putVoid())) ||
      !factory)
    return std::nullopt;
  Dpi dpi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  factory->GetDesktopDpi(&dpi.x, &dpi.y);
#pragma GCC diagnostic pop
  return dpi;
}

float displayScale() {
  std::optional<Dpi> dpi = displayDpi();
  return dpi && dpi->x > 0 ? dpi->x / kBaseDpi : 1.0f;
}

}  // namespace shipkit::jvm
