#pragma once
// The display's DPI for the splash image: the "J2D_UISCALE" override, else the effective DPI
// of the primary monitor (shcore), else the desktop DPI of Direct2D.

#include <optional>

namespace shipkit::jvm {

struct Dpi {
  float x = 0;
  float y = 0;
};

// The primary monitor's DPI, or none when the system gives none. The override is read once per
// process and kept: a positive "J2D_UISCALE" is a scale factor, so 2 gives 192 DPI.
std::optional<Dpi> displayDpi();

// The display scale: horizontal DPI / 96 when that is positive, else 1.
float displayScale();

}  // namespace shipkit::jvm
