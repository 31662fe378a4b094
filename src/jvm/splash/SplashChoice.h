#pragma once
// Which splash image fits the display scale: resource 10000 is the image for scale 1.0,
// 10000 + k (k = 1..64) the image for scale 1 + k * 0.25.

#include <functional>
#include <optional>
#include <string_view>

namespace shipkit::jvm {

inline constexpr int kSplashResourceBase = 10000;
inline constexpr int kSplashMaxOffset = 64;
// The largest scale an image can have: 1 + 64 * 0.25.
inline constexpr float kSplashMaxScale = 17.0f;
// The longest side a rescaled image may have, in pixels.
inline constexpr unsigned kSplashMaxSide = 16384;

struct SplashPlan {
  int startOffset = 0;      // the first offset looked for
  int offset = 0;           // the image chosen: resource kSplashResourceBase + offset
  float imageScale = 1.0f;  // the scale the image was made for
  float remaining = 1.0f;   // display scale / image scale
  bool rescale = false;     // the remaining factor is outside 0.9 .. 1.1
};

// The offset the search starts from: (integer part of scale * 100 - 100) / 25, kept within
// 0..64 (any scale beyond the images, or not a number, starts at 64).
int splashStartOffset(float scale);
// Searches up from the start offset to 64, then down to 1; 0 when neither has an image.
SplashPlan planSplash(float scale, const std::function<bool(int offset)>& hasImage);

// The "J2D_UISCALE" value as a scale factor (2 means 200 %): a positive finite decimal
// number up to 17, the largest scale an image can have; anything else is no override.
std::optional<float> parseUiScale(std::string_view text);

struct ScaledSize {
  unsigned width = 0;
  unsigned height = 0;
};
// The size of an image rescaled by `factor` (each side truncated), or none when a side would
// be below one pixel or above 16384: such an image is loaded unscaled.
std::optional<ScaledSize> rescaledSize(unsigned width, unsigned height, float factor);

}  // namespace shipkit::jvm
