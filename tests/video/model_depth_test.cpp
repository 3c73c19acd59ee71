// The model's depth stage on small models: the plane follows the model's output at the
// picture's size, the model runs on keyframes and scene cuts only, and the input takes the
// model's declared size or the picture's aspect; between keyframes the depth follows the
// picture's motion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "video/model_depth.h"

namespace zqr {
namespace {

constexpr int32_t kWidth = 160;
constexpr int32_t kHeight = 96;

std::string ModelFile(const char* name) {
  return std::string(ZQR_SOURCE_DIR) + "/tests/video/models/" + name;
}

// A grey ramp across the picture, `offset` levels brighter.
std::vector<uint32_t> Ramp(int32_t offset) {
  std::vector<uint32_t> picture(static_cast<size_t>(kWidth) * kHeight);
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      const auto g = static_cast<uint32_t>(std::min(255, 20 + x + offset));
      picture[static_cast<size_t>(y * kWidth + x)] = g | g << 8 | g << 16;
    }
  }
  return picture;
}

TEST(Keyframes, EveryNthFrameAndEachCut) {
  Keyframes keys(4);
  std::string runs;
  for (int k = 0; k < 12; ++k) runs += keys.Next(k == 6) ? 'K' : '.';
  EXPECT_EQ(runs, "K...K.K...K.");
  keys.Reset();
  EXPECT_TRUE(keys.Next(false));
  Keyframes every(1);
  EXPECT_TRUE(every.Next(false) && every.Next(false));
}

TEST(SceneCuts, ANewShotButNotABrighterOrShiftedOne) {
  SceneCuts cuts;
  const std::vector<uint32_t> ramp = Ramp(0);
  EXPECT_FALSE(cuts.Next(ramp.data(), kWidth, kWidth, kHeight));
  EXPECT_FALSE(cuts.Next(Ramp(6).data(), kWidth, kWidth, kHeight));
  std::vector<uint32_t> other(ramp.rbegin(), ramp.rend());
  EXPECT_TRUE(cuts.Next(other.data(), kWidth, kWidth, kHeight));
  EXPECT_FALSE(cuts.Next(other.data(), kWidth, kWidth, kHeight));
}

class ModelDepthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ModelDepth::Available()) GTEST_SKIP() << "built without a model runtime";
  }
};

TEST_F(ModelDepthTest, TheDepthFollowsTheModelAtThePicturesSize) {
  for (const char* name : {"follow.onnx", "fixed.onnx"}) {
    for (const bool invert : {false, true}) {
      ModelDepth model;
      ModelChoice choice;
      choice.file = ModelFile(name);
      choice.size = 100;
      choice.invert = invert;
      std::string failure;
      ASSERT_TRUE(model.Open(choice, kWidth, kHeight, failure)) << failure;
      // The declared 80x48, else the picture's aspect at multiples of 32.
      EXPECT_EQ(model.InputWidth(), name[1] == 'i' ? 80 : 96) << name;
      EXPECT_EQ(model.InputHeight(), name[1] == 'i' ? 48 : 64) << name;
      std::vector<uint8_t> plane(static_cast<size_t>(kWidth) * kHeight, 0);
      model.Estimate(Ramp(0).data(), kWidth, plane.data());
      // Brighter is nearer (the model's output), across the whole width, on every row.
      for (int32_t y = 0; y < kHeight; y += 19) {
        const uint8_t* row = plane.data() + static_cast<size_t>(y) * kWidth;
        const int left = invert ? row[kWidth - 8] : row[8];
        const int right = invert ? row[8] : row[kWidth - 8];
        EXPECT_LE(left, 20) << name << " row " << y;
        EXPECT_GE(right, 235) << name << " row " << y;
        for (int32_t x = 8; x + 16 < kWidth; x += 16) {
          EXPECT_EQ(row[x] < row[x + 16], !invert) << name << " " << x << "," << y;
        }
      }
    }
  }
}

TEST_F(ModelDepthTest, RunsOnKeyframesAndHoldsTheDepthBetween) {
  ModelDepth model;
  ModelChoice choice;
  choice.file = ModelFile("follow.onnx");
  choice.every = 4;
  std::string failure;
  ASSERT_TRUE(model.Open(choice, kWidth, kHeight, failure)) << failure;
  std::vector<uint8_t> plane(static_cast<size_t>(kWidth) * kHeight, 0);
  const std::vector<uint32_t> ramp = Ramp(0);
  model.Estimate(ramp.data(), kWidth, plane.data());
  const std::vector<uint8_t> first = plane;
  // The frames between: the keyframe's depth held.
  for (int k = 0; k < 3; ++k) model.Estimate(ramp.data(), kWidth, plane.data());
  EXPECT_EQ(plane, first);
  EXPECT_EQ(model.Runs(), 1);
  model.Estimate(ramp.data(), kWidth, plane.data());
  EXPECT_EQ(model.Runs(), 2);
  // A cut runs the model at once.
  std::vector<uint32_t> mirrored(ramp.rbegin(), ramp.rend());
  model.Estimate(mirrored.data(), kWidth, plane.data());
  EXPECT_EQ(model.Runs(), 3);
  EXPECT_GT(plane[8], plane[kWidth - 8]);
  model.Reset();
  model.Estimate(mirrored.data(), kWidth, plane.data());
  EXPECT_EQ(model.Runs(), 4);
}

// A textured picture panned `shift` pixels to the left.
std::vector<uint32_t> Panned(int32_t shift) {
  std::vector<uint32_t> picture(static_cast<size_t>(kWidth) * kHeight);
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      const double u = x + shift;
      const auto g = static_cast<uint32_t>(128 + 60 * std::sin(u / 5.0) + 40 * std::cos(y / 7.0) +
                                           20 * std::sin((u + y) / 11.0));
      picture[static_cast<size_t>(y * kWidth + x)] = g | g << 8 | g << 16;
    }
  }
  return picture;
}

TEST_F(ModelDepthTest, BetweenKeyframesTheDepthFollowsAPan) {
  std::string failure;
  ModelChoice choice;
  choice.file = ModelFile("follow.onnx");
  choice.size = kWidth;
  ModelDepth every_frame;
  ASSERT_TRUE(every_frame.Open(choice, kWidth, kHeight, failure)) << failure;
  choice.every = 6;
  ModelDepth keyframes;
  ASSERT_TRUE(keyframes.Open(choice, kWidth, kHeight, failure)) << failure;
  const size_t pixels = static_cast<size_t>(kWidth) * kHeight;
  std::vector<uint8_t> truth(pixels);
  std::vector<uint8_t> carried(pixels);
  std::vector<uint8_t> keyframe;
  for (int32_t k = 0; k < 6; ++k) {
    const std::vector<uint32_t> picture = Panned(2 * k);
    every_frame.Estimate(picture.data(), kWidth, truth.data());
    keyframes.Estimate(picture.data(), kWidth, carried.data());
    if (k == 0) keyframe = carried;
  }
  EXPECT_EQ(keyframes.Runs(), 1);
  // Ten pixels on, away from the edges the pan uncovers: the carried depth is near the
  // model's own, and much nearer than the keyframe's held.
  const auto error = [&](const std::vector<uint8_t>& depth) {
    double sum = 0;
    int count = 0;
    for (int32_t y = 8; y < kHeight - 8; ++y) {
      for (int32_t x = 8; x < kWidth - 24; ++x) {
        const size_t at = static_cast<size_t>(y * kWidth + x);
        sum += std::abs(depth[at] - truth[at]);
        ++count;
      }
    }
    return sum / count;
  };
  EXPECT_LT(error(carried), 6.0);
  EXPECT_LT(error(carried), 0.3 * error(keyframe));
}

TEST_F(ModelDepthTest, RefusesWhatCannotServe) {
  ModelDepth model;
  ModelChoice choice;
  std::string failure;
  choice.file = ModelFile("make_models.py");
  EXPECT_FALSE(model.Open(choice, kWidth, kHeight, failure));
  EXPECT_EQ(failure, "it is not an ONNX model");
  choice.file = ModelFile("no such model.onnx");
  EXPECT_FALSE(model.Open(choice, kWidth, kHeight, failure));
  EXPECT_EQ(failure, "it cannot be read");
}

}  // namespace
}  // namespace zqr
