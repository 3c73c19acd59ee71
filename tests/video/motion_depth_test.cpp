// The depth found in the video, on scenes whose depth is known: textured layers a camera
// moving sideways sees slide by amounts that grow with their nearness (the estimate must
// order them, and hold each steady), a still shot (a depth every frame, the same one), and a
// cut to another shot (nothing of the first carried over). Then the depth stage's choice
// between the estimator and the prior.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "frames/depth_prior.h"
#include "video/depth_stage.h"
#include "video/motion_depth.h"

namespace zqr {
namespace {

constexpr int32_t kWidth = 480;
constexpr int32_t kHeight = 270;

// Smooth value noise of two scales: texture the flow can follow at subpixel offsets.
float Noise(uint32_t seed, float u, float v, float cell) {
  const auto lattice = [seed](int32_t i, int32_t j) {
    uint32_t h = seed ^ static_cast<uint32_t>(i) * 73856093u ^ static_cast<uint32_t>(j) * 19349663u;
    h = (h ^ h >> 13) * 1274126177u;
    return static_cast<float>((h ^ h >> 16) & 0xFF);
  };
  const float x = u / cell;
  const float y = v / cell;
  const auto i = static_cast<int32_t>(std::floor(x));
  const auto j = static_cast<int32_t>(std::floor(y));
  const float fx = x - static_cast<float>(i);
  const float fy = y - static_cast<float>(j);
  const float top = lattice(i, j) + fx * (lattice(i + 1, j) - lattice(i, j));
  const float bottom = lattice(i, j + 1) + fx * (lattice(i + 1, j + 1) - lattice(i, j + 1));
  return top + fy * (bottom - top);
}

uint32_t Texel(uint32_t seed, float u, float v) {
  const float g = 0.6f * Noise(seed, u, v, 5.0f) + 0.4f * Noise(seed + 1, u, v, 19.0f);
  const auto level = static_cast<uint32_t>(std::clamp(g, 0.0f, 255.0f));
  return level | level << 8 | std::min(255u, level + 20) << 16;
}

// A layer: a rectangle of the picture (rows counted from the top), its texture, and its
// nearness (0 the background, 1 the nearest), which sets how far it slides each frame.
struct Layer {
  int32_t left, top, right, bottom;
  uint32_t seed;
  float nearness;
};

// The camera also turns against its travel, as when it follows a subject: the background
// slides fastest the other way, so only parallax, not the flow's size, gives the order.
float SlidePerFrame(float nearness) {
  return -1.8f + 3.0f * nearness;
}

// Which layer a camera moving right past them sees at (x, y) of frame t (rows from the top):
// the last one nearest the camera wins; where it sees it in that layer's texture in `u`.
int VisibleLayer(const std::vector<Layer>& layers, int32_t x, int32_t y, int t, float& u) {
  for (int k = static_cast<int>(layers.size()) - 1; k >= 0; --k) {
    const Layer& layer = layers[k];
    u = static_cast<float>(x) + SlidePerFrame(layer.nearness) * static_cast<float>(t);
    if (k == 0 || (u >= layer.left && u < layer.right && y >= layer.top && y < layer.bottom)) {
      return k;
    }
  }
  return 0;
}

// Frame t, stored bottom row first as the pipeline holds pictures.
std::vector<uint32_t> Render(const std::vector<Layer>& layers, int t) {
  std::vector<uint32_t> picture(static_cast<size_t>(kWidth) * kHeight);
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      float u = 0.0f;
      const int k = VisibleLayer(layers, x, y, t, u);
      picture[static_cast<size_t>(kHeight - 1 - y) * kWidth + x] =
          Texel(layers[k].seed, u, static_cast<float>(y));
    }
  }
  return picture;
}

// The median level of the plane where layer k is seen at frame t, at least `margin` pixels
// from where another is.
int MedianOver(const std::vector<uint8_t>& plane, const std::vector<Layer>& layers, int k, int t,
               int32_t margin) {
  std::vector<uint8_t> levels;
  float u = 0.0f;
  for (int32_t y = margin; y < kHeight - margin; ++y) {
    for (int32_t x = margin; x < kWidth - margin; ++x) {
      bool inside = true;
      for (const int32_t dy : {-margin, 0, margin}) {
        for (const int32_t dx : {-margin, 0, margin}) {
          inside = inside && VisibleLayer(layers, x + dx, y + dy, t, u) == k;
        }
      }
      if (inside) levels.push_back(plane[static_cast<size_t>(kHeight - 1 - y) * kWidth + x]);
    }
  }
  EXPECT_GT(levels.size(), 500u) << "layer " << k;
  if (levels.empty()) return -1;
  std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
  return levels[levels.size() / 2];
}

int LargestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int largest = 0;
  for (size_t i = 0; i < a.size(); ++i) largest = std::max(largest, std::abs(a[i] - b[i]));
  return largest;
}

std::vector<uint8_t> Plane() {
  return std::vector<uint8_t>(static_cast<size_t>(kWidth) * kHeight);
}

// The nearest layer high in the picture and the middle one low: the layout prior alone would
// order them the wrong way round.
const std::vector<Layer> kLayers = {
    {0, 0, kWidth, kHeight, 11, 0.0f},
    {40, 150, 400, 250, 22, 0.5f},
    {200, 20, 560, 120, 33, 1.0f},
};

TEST(MotionDepth, ACameraMovingPastLayersOrdersThemByNearnessAndHoldsThemSteady) {
  if (!MotionDepth::Available()) GTEST_SKIP() << "built without the flow";
  MotionDepth motion;
  motion.Open(kWidth, kHeight);
  std::vector<uint8_t> plane = Plane();
  constexpr int kFrames = 30;
  int last[3] = {-1, -1, -1};
  int largest_step = 0;
  for (int t = 0; t < kFrames; ++t) {
    const std::vector<uint32_t> picture = Render(kLayers, t);
    motion.Estimate(picture.data(), kWidth, plane.data());
    if (t < kFrames - 12) continue;
    for (int k = 0; k < 3; ++k) {
      const int level = MedianOver(plane, kLayers, k, t, 12);
      if (last[k] >= 0) largest_step = std::max(largest_step, std::abs(level - last[k]));
      last[k] = level;
    }
  }
  EXPECT_GT(last[1], last[0] + 40) << "middle " << last[1] << ", background " << last[0];
  EXPECT_GT(last[2], last[1] + 40) << "nearest " << last[2] << ", middle " << last[1];
  EXPECT_LE(largest_step, 6);
}

TEST(MotionDepth, AStillShotHasTheSameFullDepthEveryFrame) {
  MotionDepth motion;
  motion.Open(kWidth, kHeight);
  const std::vector<uint32_t> picture = Render(kLayers, 0);
  std::vector<uint8_t> first = Plane();
  std::vector<uint8_t> plane = Plane();
  motion.Estimate(picture.data(), kWidth, first.data());
  const auto [low, high] = std::minmax_element(first.begin(), first.end());
  EXPECT_GE(*high - *low, 150);
  // Lower in the picture is nearer where nothing moves.
  EXPECT_GT(first[kWidth / 2], first[static_cast<size_t>(kHeight - 1) * kWidth + kWidth / 2]);
  for (int t = 1; t < 15; ++t) {
    motion.Estimate(picture.data(), kWidth, plane.data());
    ASSERT_LE(LargestDifference(plane, first), 1) << "frame " << t;
  }
}

TEST(MotionDepth, NothingIsCarriedAcrossACutOrAReset) {
  if (!MotionDepth::Available()) GTEST_SKIP() << "built without the flow";
  // The other shot: the same kind of texture, so only the flow can tell the shots apart.
  const std::vector<Layer> other = {{0, 0, kWidth, kHeight, 77, 0.0f},
                                    {100, 60, 300, 200, 88, 0.7f}};
  const std::vector<uint32_t> after = Render(other, 0);
  MotionDepth fresh;
  fresh.Open(kWidth, kHeight);
  std::vector<uint8_t> expected = Plane();
  fresh.Estimate(after.data(), kWidth, expected.data());

  MotionDepth motion;
  motion.Open(kWidth, kHeight);
  std::vector<uint8_t> plane = Plane();
  for (int t = 0; t < 20; ++t) motion.Estimate(Render(kLayers, t).data(), kWidth, plane.data());
  ASSERT_GT(LargestDifference(plane, expected), 60) << "the first shot found no depth";
  motion.Estimate(after.data(), kWidth, plane.data());
  EXPECT_EQ(LargestDifference(plane, expected), 0);

  for (int t = 0; t < 20; ++t) motion.Estimate(Render(kLayers, t).data(), kWidth, plane.data());
  motion.Reset();
  motion.Estimate(after.data(), kWidth, plane.data());
  EXPECT_EQ(LargestDifference(plane, expected), 0);
}

TEST(MotionDepth, TheDepthStageFindsDepthUnlessThePriorIsChosen) {
  std::vector<uint8_t> prior = Plane();
  frames::FillVerticalDepthPrior(prior.data(), kWidth, kWidth, kHeight);
  for (const bool choose_prior : {false, true}) {
    DepthStage stage;
    std::string failure;
    ASSERT_TRUE(stage.Open(DepthChoice{.video = {}, .model = {}, .prior = choose_prior, .out = {}},
                           kWidth, kHeight, 25.0, failure))
        << failure;
    const uint8_t* depth = nullptr;
    for (int t = 0; t < 12; ++t) depth = stage.NextDepth(t, Render(kLayers, t).data());
    const std::vector<uint8_t> plane(depth, depth + prior.size());
    const bool found = stage.SourceText().find("found in the video") != std::string::npos;
    if (choose_prior) {
      EXPECT_FALSE(found) << stage.SourceText();
      EXPECT_EQ(plane, prior);
    } else if (MotionDepth::Available()) {
      EXPECT_TRUE(found) << stage.SourceText();
      EXPECT_GT(LargestDifference(plane, prior), 60);
    }
  }
}

}  // namespace
}  // namespace zqr
