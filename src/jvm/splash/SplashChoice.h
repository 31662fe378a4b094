#pragma once
// Which splash image fits the display scale: resource 10000 is the image for scale 1.0,
// 10000 + k (k = 1..64) the image for scale 1 + k * 0.25.

#include <functional>
#include <optional>
#include <string_view>

namespace shipkit::jvm {

inline constexpr int kSplashResourceBase = 10000;
inline constexpr int kSplashMaxOffset = 64;

struct SplashPlan {
  int startOffset = 0;      // the first offset looked for
  int offset = 0;           // the image chosen: resource kSplashResourceBase + offset
  float imageScale = 1.0f;  // the scale the image was made for
  float remaining = 1.0f;   // display scale / image scale
  bool rescale = false;     // the remaining factor is outside 0.9 .. 1.1
};

// The offset the search starts from: (integer part of scale * 100 - 100) / 25.
int splashStartOffset(float scale);
// Searches up from the start offset to 64, then down to 1; 0 when neither has an image.
SplashPlan planSplash(float scale, const std::function<bool(int offset)>& hasImage);

// The "J2D_UISCALE" value as a scale factor (2 means 200 %): a positive finite decimal
// number; anything else is no override.
std::optional<float> parseUiScale(std::string_view text);

}  // namespace shipkit::jvm
