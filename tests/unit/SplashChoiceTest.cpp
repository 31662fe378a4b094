// The choice of the splash image by display scale and the "J2D_UISCALE" override.
#include <gtest/gtest.h>

#include <limits>
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
      {20.0f, {0, 1}, 64, 1, 1.25f, true},   // a start beyond 64 is held at 64 and searches down
      {1e9f, {0, 1}, 64, 1, 1.25f, true},    // no overflow of the integer percentage
      {std::numeric_limits<float>::infinity(), {0, 64}, 64, 64, 17.0f, true},
      {2.0f, {0, 65}, 4, 0, 1.0f, true},  // 65 is no splash image
  };
  for (const auto& c : cases) {
    int asked = 0;
    SplashPlan p = planSplash(c.scale, [&](int k) {
      ++asked;
      EXPECT_TRUE(k >= 0 && k <= 64) << k;
      return c.images.count(k) > 0;
    });
    EXPECT_LE(asked, 65) << "each image is looked for once at most";
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
      {"2", 2.0f},           {"1.5", 1.5f},         {"0", std::nullopt},    {"-1", std::nullopt},
      {"", std::nullopt},    {"abc", std::nullopt}, {"2x", std::nullopt},   {"1e999", std::nullopt},
      {"nan", std::nullopt}, {"inf", std::nullopt}, {"17", 17.0f},          {"17.01", std::nullopt},
      {"96", std::nullopt},  {"1e9", std::nullopt}, {"-inf", std::nullopt}, {"0.5", 0.5f},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parseUiScale(text), expected) << text;
}

// The start offset of any float, NaN and infinities included, stays within the 64 images.
TEST(SplashChoice, StartOffsetStaysWithinTheImages) {
  const std::pair<float, int> cases[] = {
      {1.0f, 0},
      {1.5f, 2},
      {17.0f, 64},
      {17.24f, 64},
      {17.25f, 64},
      {1e9f, 64},
      {3e38f, 64},
      {-2.0f, 0},
      {0.5f, 0},
      {std::numeric_limits<float>::infinity(), 64},
      {-std::numeric_limits<float>::infinity(), 0},
      {std::numeric_limits<float>::quiet_NaN(), 64},
  };
  for (const auto& [scale, start] : cases) EXPECT_EQ(splashStartOffset(scale), start) << scale;
}

// A rescaled side above 16384 pixels or below one loads the image unscaled.
TEST(SplashChoice, RescaledSizeIsBounded) {
  struct Row {
    unsigned w, h;
    float factor;
    std::optional<std::pair<unsigned, unsigned>> size;
  };
  const Row rows[] = {
      {160, 80, 1.5f, std::pair{240u, 120u}},
      {8192, 4096, 2.0f, std::pair{16384u, 8192u}},
      {160, 80, 96.0f, std::pair{15360u, 7680u}},
      {160, 80, 102.5f, std::nullopt},
      {80, 160, 103.0f, std::nullopt},
      {160, 80, 1e9f, std::nullopt},
      {160, 80, 0.001f, std::nullopt},
      {160, 80, std::numeric_limits<float>::quiet_NaN(), std::nullopt},
      {16384, 1, 1.0f, std::pair{16384u, 1u}},
      {16385, 1, 1.0f, std::nullopt},
  };
  for (const auto& r : rows) {
    std::optional<ScaledSize> s = rescaledSize(r.w, r.h, r.factor);
    SCOPED_TRACE(testing::Message() << r.w << "x" << r.h << " by " << r.factor);
    ASSERT_EQ(s.has_value(), r.size.has_value());
    if (s) {
      EXPECT_EQ(std::pair(s->width, s->height), *r.size);
    }
  }
}

}  // namespace
