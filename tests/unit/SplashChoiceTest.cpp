// The choice of the splash image by display scale and the "J2D_UISCALE" override.
#include <gtest/gtest.h>

#include <set>

#include "jvm/splash/SplashChoice.h"

using namespace shipkit::jvm;

namespace {

struct PlanCase {
  float scale;
  std::set<int> images;  // offsets present
  int start, offset;
  float imageScale;
  bool rescale;
};

TEST(SplashChoice, PicksTheNearestImageUpThenDown) {
  const PlanCase cases[] = {
      {1.5f, {0, 2}, 2, 2, 1.5f, false},     // the exact image, unscaled
      {1.5f, {0}, 2, 0, 1.0f, true},         // only the base image: rescaled by 1.5
      {1.75f, {0, 2, 4}, 3, 4, 2.0f, true},  // up first: 2.0 leaves 0.875, below 0.9
      {1.3f, {0, 1}, 1, 1, 1.25f, false},    // 1.3 starts at 1 and leaves 1.04
      {2.0f, {0, 1, 3}, 4, 3, 1.75f, true},  // nothing up to 64: down from 3 finds 3 first
      {1.25f, {0, 64}, 1, 64, 17.0f, true},  // up to the last offset
      {1.5f, {}, 2, 0, 1.0f, true},          // no image at all: 10000 all the same
      {1.1f, {0}, 0, 0, 1.0f, false},        // start 0 finds the base image, 1.1 is close enough
      {20.0f, {0, 1}, 76, 1, 1.25f, true},   // a start beyond 64 searches down only
      {2.0f, {0, 65}, 4, 0, 1.0f, true},     // 65 is no splash image
  };
  for (const auto& c : cases) {
    SplashPlan p = planSplash(c.scale, [&](int k) { return c.images.count(k) > 0; });
    SCOPED_TRACE(testing::Message() << "scale " << c.scale << " start " << c.start);
    EXPECT_EQ(p.startOffset, c.start);
    EXPECT_EQ(p.offset, c.offset);
    EXPECT_FLOAT_EQ(p.imageScale, c.imageScale);
    EXPECT_FLOAT_EQ(p.remaining, c.scale / c.imageScale);
    EXPECT_EQ(p.rescale, c.rescale);
  }
}

TEST(SplashChoice, UiScaleIsAPositiveFactor) {
  const std::pair<const char*, std::optional<float>> cases[] = {
      {"2", 2.0f},           {"1.5", 1.5f},         {"0", std::nullopt},  {"-1", std::nullopt},
      {"", std::nullopt},    {"abc", std::nullopt}, {"2x", std::nullopt}, {"1e999", std::nullopt},
      {"nan", std::nullopt}, {"inf", std::nullopt}, {"96", 96.0f},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parseUiScale(text), expected) << text;
}

}  // namespace
