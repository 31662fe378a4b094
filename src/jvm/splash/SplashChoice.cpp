#include "jvm/splash/SplashChoice.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

namespace shipkit::jvm {

int splashStartOffset(float scale) {
  // Bounded in double before the conversion: a scale beyond the images (or not a number)
  // starts at the last image rather than at an integer the conversion cannot hold.
  const double percent = double(scale) * 100;
  if (!(percent < 100 + 25.0 * (kSplashMaxOffset + 1))) return kSplashMaxOffset;
  if (!(percent >= 100)) return 0;
  return (int(percent) - 100) / 25;
}

SplashPlan planSplash(float scale, const std::function<bool(int)>& hasImage) {
  SplashPlan plan;
  plan.startOffset = splashStartOffset(scale);
  int found = -1;
  for (int k = plan.startOffset; k <= kSplashMaxOffset && found < 0; ++k)
    if (k >= 0 && hasImage(k)) found = k;
  for (int k = plan.startOffset - 1; k >= 1 && found < 0; --k)
    if (k <= kSplashMaxOffset && hasImage(k)) found = k;
  plan.offset = found < 0 ? 0 : found;
  plan.imageScale = 1.0f + float(plan.offset) * 0.25f;
  plan.remaining = scale / plan.imageScale;
  plan.rescale = plan.remaining > 1.1f || plan.remaining < 0.9f;
  return plan;
}

std::optional<float> parseUiScale(std::string_view text) {
  std::string s(text);
  if (s.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  float value = std::strtof(s.c_str(), &end);
  if (end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(value) || value <= 0 ||
      value > kSplashMaxScale)
    return std::nullopt;
  return value;
}

std::optional<ScaledSize> rescaledSize(unsigned width, unsigned height, float factor) {
  const double w = double(width) * factor, h = double(height) * factor;
  if (!(w >= 1 && h >= 1 && w <= kSplashMaxSide && h <= kSplashMaxSide)) return std::nullopt;
  return ScaledSize{unsigned(w), unsigned(h)};
}

}  // namespace shipkit::jvm
