// Sharpen: weights, clamping, blend, untouched first and last rows, and the one-pass copy
// that the frame callback uses.
#include <gtest/gtest.h>

#include "frames/sharpen.h"
#include "tests/frames/frames_test_util.h"

namespace zqr::frames {
namespace {

using test::Gray;

constexpr int32_t kW = 20;
constexpr int32_t kH = 7;

FrameArray Field(uint32_t value) {
  FrameArray frame;
  frame.Allocate(kW, kH + 1);
  for (int64_t i = 0; i < int64_t{kW} * kH; ++i) frame.data()[i] = Gray(value);
  return frame;
}

uint32_t& At(FrameArray& f, int x, int y) {
  return f.data()[y * kW + x];
}

TEST(Sharpen, SinglePeakWithAmountOneRadiusZero) {
  FrameArray frame = Field(50);
  FrameArray scratch;
  scratch.Allocate(kW, kH + 1);
  At(frame, 9, 3) = Gray(100);
  SharpenFrame(kW, kH, frame.data(), scratch.data(), 1, 0);
  EXPECT_EQ(At(frame, 9, 3), Gray(255));  // 5 x 100 - 4 x 50 = 300, clamped
  EXPECT_EQ(At(frame, 8, 3), Gray(0));    // 5 x 50 - (100 + 3 x 50)
  EXPECT_EQ(At(frame, 10, 3), Gray(0));
  EXPECT_EQ(At(frame, 9, 2), Gray(0));
  EXPECT_EQ(At(frame, 9, 4), Gray(0));
  EXPECT_EQ(At(frame, 8, 2), Gray(50));
  EXPECT_EQ(At(frame, 10, 4), Gray(50));
  EXPECT_EQ(At(frame, 10, 2), Gray(50));
  EXPECT_EQ(At(frame, 8, 4), Gray(50));
}

TEST(Sharpen, StrongestAmountWithRadiusThreeBlendsOneEighth) {
  FrameArray frame = Field(50);
  FrameArray scratch;
  scratch.Allocate(kW, kH + 1);
  At(frame, 4, 2) = Gray(100);
  SharpenFrame(kW, kH, frame.data(), scratch.data(), 5, 3);
  EXPECT_EQ(At(frame, 4, 2), Gray(119));  // (255 + 7 x 100) / 8
  // A neighbour: 21 x 50 - 5 x (100 + 150) = -200 -> 0; (0 + 350) / 8 = 43.
  EXPECT_EQ(At(frame, 5, 2), Gray(43));
}

TEST(Sharpen, RadiusBlends) {
  for (int32_t radius : {0, 1, 2, 3, 9}) {
    FrameArray frame = Field(50);
    FrameArray scratch;
    scratch.Allocate(kW, kH + 1);
    At(frame, 4, 2) = Gray(60);  // s = 5 x 60 - 200 = 100, o = 60
    SharpenFrame(kW, kH, frame.data(), scratch.data(), 1, radius);
    const uint32_t expected = radius == 0 ? 100 : radius == 1 ? 80 : radius == 2 ? 70 : 65;
    EXPECT_EQ(At(frame, 4, 2), Gray(expected)) << "radius " << radius;
  }
}

TEST(Sharpen, UniformFrameIsUnchangedForEveryAmountAndRadius) {
  for (int32_t amount = 0; amount <= 5; ++amount) {
    for (int32_t radius = 0; radius <= 3; ++radius) {
      FrameArray frame = Field(77);
      FrameArray scratch;
      scratch.Allocate(kW, kH + 1);
      SharpenFrame(kW, kH, frame.data(), scratch.data(), amount, radius);
      for (int64_t i = 0; i < int64_t{kW} * kH; ++i) ASSERT_EQ(frame.data()[i], Gray(77));
    }
  }
}

TEST(Sharpen, AmountZeroChangesNothingAndOutOfRangeActsAsOne) {
  std::mt19937 rng(5);
  FrameArray frame = test::RandomFrame(kW, kH + 1, rng);
  const FrameArray before = test::CopyOf(frame);
  FrameArray scratch;
  scratch.Allocate(kW, kH + 1);
  SharpenFrame(kW, kH, frame.data(), scratch.data(), 0, 0);
  EXPECT_EQ(test::FirstDifference(before.data(), frame.data(), frame.pixel_count()), "");

  FrameArray seven = test::CopyOf(before);
  FrameArray one = test::CopyOf(before);
  SharpenFrame(kW, kH, seven.data(), scratch.data(), 7, 2);
  SharpenFrame(kW, kH, one.data(), scratch.data(), 1, 2);
  EXPECT_EQ(test::FirstDifference(one.data(), seven.data(), frame.pixel_count()), "");
  EXPECT_NE(test::FirstDifference(before.data(), one.data(), frame.pixel_count()), "");
}

TEST(Sharpen, FirstAndLastRowsStayAndRowEndsUseAdjacentRows) {
  std::mt19937 rng(6);
  FrameArray frame = test::RandomFrame(kW, kH + 1, rng);
  const FrameArray before = test::CopyOf(frame);
  FrameArray scratch;
  scratch.Allocate(kW, kH + 1);
  SharpenFrame(kW, kH, frame.data(), scratch.data(), 3, 0);
  for (int x = 0; x < kW; ++x) {
    EXPECT_EQ(frame.data()[x], before.data()[x]);
    EXPECT_EQ(frame.data()[(kH - 1) * kW + x], before.data()[(kH - 1) * kW + x]);
  }
  // First column of row 2: its left neighbour is the last pixel of row 1.
  const uint8_t* p = reinterpret_cast<const uint8_t*>(before.data());
  const int64_t i = 2 * kW;
  for (int c = 0; c < 4; ++c) {
    const int32_t s = 13 * p[i * 4 + c] - 3 * (p[(i - kW) * 4 + c] + p[(i + kW) * 4 + c] +
                                               p[(i - 1) * 4 + c] + p[(i + 1) * 4 + c]);
    const int32_t expected = s < 0 ? 0 : s > 255 ? 255 : s;
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(frame.data())[i * 4 + c], expected) << c;
  }
}

TEST(SharpenCopy, EqualsCopyFollowedBySharpenFrame) {
  std::mt19937 rng(8);
  for (int32_t amount : {0, 1, 4, 6}) {
    for (int32_t height : {1, 2, 3, 5}) {
      FrameArray src = test::RandomFrame(33, height + 1, rng);
      src.data()[src.pixel_count() - 1] = 0xDEADBEEF;  // the spare row is copied too
      FrameArray expected = test::CopyOf(src);
      FrameArray scratch;
      scratch.Allocate(33, height + 1);
      SharpenFrame(33, height, expected.data(), scratch.data(), amount, 1);
      FrameArray dst;
      dst.Allocate(33, height + 1);
      SharpenCopy(src.data(), dst.data(), 33, height, height + 1, amount, 1);
      EXPECT_EQ(test::FirstDifference(expected.data(), dst.data(), dst.pixel_count()), "")
          << "amount " << amount << " height " << height;
      EXPECT_TRUE(test::GuardsZero(dst));
    }
  }
}

}  // namespace
}  // namespace zqr::frames
