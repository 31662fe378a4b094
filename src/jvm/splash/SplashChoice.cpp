#include "jvm/splash/SplashChoice.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

namespace shipkit::jvm {

int splashStartOffset(float scale) {
  return (int(scale * 100) - 100) / 25;
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
  if (end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(value) || value <= 0)
    return std::nullopt;
  return value;
}

}  // namespace shipkit::jvm
