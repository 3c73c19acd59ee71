// Stereo composition: the documented values of the reference composition, and the fused
// frame step against the reference step.
#include <gtest/gtest.h>

#include <vector>

#include "frames/stereo.h"
#include "tests/frames/frames_test_util.h"

namespace zqr::frames {
namespace {

using test::Px;

// The six arrays of a composition, width x (height + 1).
struct Arrays {
  FrameArray d1, d2, d3, d4, v1, v2;
  int32_t width;
  int32_t height;
  Arrays(int32_t w, int32_t h) : width(w), height(h) {
    for (FrameArray* a : {&d1, &d2, &d3, &d4, &v1, &v2}) a->Allocate(w, h + 1);
  }
  StereoArrays Ref() { return {d1.data(), d2.data(), d3.data(), v1.data(), v2.data()}; }
  StereoFrameSet Set() { return {&d1, &d2, &d3, &d4, &v1, &v2}; }
  int64_t total() const { return int64_t{width} * (height + 1); }
};

StereoSettings Static(int32_t tuning) {
  return {1, tuning, 0, 30};
}

TEST(StereoParameters, DepthDisplacementRoundsTheSinglePrecisionProductToEven) {
  const float k30 = DisplacementFactor(30);
  EXPECT_EQ(ColourDisplacement(255, k30), 8);  // exactly 8.5 in single precision
  EXPECT_EQ(ColourDisplacement(15, k30), 0);   // 0.5
  EXPECT_EQ(ColourDisplacement(45, k30), 2);   // 1.5
  const float k20 = DisplacementFactor(20);
  EXPECT_EQ(ColourDisplacement(255, k20), 13);  // 12.75
  EXPECT_EQ(ColourDisplacement(10, k20), 0);    // 0.5
  EXPECT_EQ(ColourDisplacement(30, k20), 2);    // 1.5
  EXPECT_EQ(ColourDisplacement(0, DisplacementFactor(100)), 0);
  EXPECT_EQ(ColourDisplacement(255, DisplacementFactor(0)), 255);  // divisor taken as 1
}

TEST(StereoParameters, ShiftIsTwiceTheTuningWithinItsRange) {
  EXPECT_EQ(StereoShift(6), 12);
  EXPECT_EQ(StereoShift(-10), -20);
  EXPECT_EQ(StereoShift(0), 0);
  EXPECT_EQ(StereoShift(40), 20);
  EXPECT_EQ(StereoShift(-32768), -20);
}

TEST(ComposeStereo, StaticZeroTuningWithoutDepthGivesTheInput) {
  std::mt19937 rng(1);
  Arrays a(45, 4);
  test::FillRandom(a.d1.data(), 45 * 4, rng);
  const FrameArray input = test::CopyOf(a.d1);
  ComposeStereo(a.Ref(), 45, 4, Static(0));
  EXPECT_EQ(test::FirstDifference(input.data(), a.d1.data(), a.total()), "");
}

TEST(ComposeStereo, StaticTuningSixTakesRedTwelvePixelsOn) {
  std::mt19937 rng(2);
  Arrays a(45, 4);
  test::FillRandom(a.d1.data(), 45 * 4, rng);
  const FrameArray input = test::CopyOf(a.d1);
  ComposeStereo(a.Ref(), 45, 4, Static(6));
  const uint32_t* in = input.data();
  const uint32_t* out = a.d1.data();
  for (int64_t i = 0; i < 24; ++i) ASSERT_EQ(out[i], in[i]) << i;
  for (int64_t i = 24; i < 45 * 4 + 24; ++i) {
    ASSERT_EQ(out[i], (in[i] & 0xFFFF) | (in[i + 12] & 0xFFFF0000u)) << i;
  }
  // Near the end of a row the red comes from the start of the next row.
  EXPECT_EQ(test::Red(out[44]), test::Red(in[56]));
}

TEST(ComposeStereo, NegativeTuningReachesBackTwentyPixels) {
  std::mt19937 rng(3);
  Arrays a(45, 3);
  test::FillRandom(a.d1.data(), 45 * 3, rng);
  const FrameArray input = test::CopyOf(a.d1);
  ComposeStereo(a.Ref(), 45, 3, Static(-10));
  EXPECT_EQ(test::Red(a.d1.data()[24]), test::Red(input.data()[4]));
  EXPECT_EQ(test::Fourth(a.d1.data()[24]), test::Fourth(input.data()[4]));
  EXPECT_EQ(test::Blue(a.d1.data()[24]), test::Blue(input.data()[24]));
  EXPECT_EQ(a.d1.data()[23], input.data()[23]);
}

TEST(ComposeStereo, DynamicModeFirstFrameHasNoRed) {
  std::mt19937 rng(4);
  Arrays a(64, 5);
  test::FillRandom(a.d1.data(), 64 * 5, rng);
  const FrameArray input = test::CopyOf(a.d1);
  StereoFrameStepReference(a.Ref(), a.d4.data(), 64, 5, {0, 6, 0, 30});
  for (int64_t i = 24; i < 64 * 5 + 24; ++i) {
    ASSERT_EQ(a.d1.data()[i] & 0xFFFF0000u, 0u) << i;
    ASSERT_EQ(a.d1.data()[i] & 0xFFFF, input.data()[i] & 0xFFFF) << i;
  }
  for (int64_t i = 0; i < 24; ++i) ASSERT_EQ(a.d1.data()[i], input.data()[i]);
  // DMEM3 holds the frame as it was before its composition.
  EXPECT_EQ(test::FirstDifference(input.data(), a.d3.data(), a.total()), "");
}

TEST(ComposeStereo, DynamicModeOnEqualFramesActsLikeStaticFromTheSecondFrame) {
  std::mt19937 rng(5);
  Arrays a(50, 4);
  test::FillRandom(a.d1.data(), 50 * 4, rng);
  const FrameArray input = test::CopyOf(a.d1);
  StereoFrameStepReference(a.Ref(), a.d4.data(), 50, 4, {0, 6, 0, 30});
  for (int64_t i = 0; i < a.total(); ++i) a.d1.data()[i] = input.data()[i];
  StereoFrameStepReference(a.Ref(), a.d4.data(), 50, 4, {0, 6, 0, 30});
  Arrays b(50, 4);
  for (int64_t i = 0; i < b.total(); ++i) b.d1.data()[i] = input.data()[i];
  ComposeStereo(b.Ref(), 50, 4, Static(6));
  EXPECT_EQ(test::FirstDifference(b.d1.data(), a.d1.data(), a.total()), "");
}

TEST(ComposeStereo, DepthDisplacesByRedAndGreenAndSparesBlackPixels) {
  // Static mode, tuning 0, divisor 30: the output pixel p takes blue and green from
  // input p + dr and red from input p - dg (red 255 -> 8, green 45 -> 2).
  const int32_t w = 60;
  const int32_t h = 3;
  Arrays a(w, h);
  for (int64_t i = 0; i < int64_t{w} * h; ++i) {
    a.d1.data()[i] = Px(static_cast<uint32_t>(i % 200), 0, 0, 1);
  }
  const int64_t p = 90;  // row 1
  a.d1.data()[p] = Px(7, 45, 255, 9);
  const FrameArray input = test::CopyOf(a.d1);
  ComposeStereo(a.Ref(), w, h, {1, 0, 1, 30});
  const uint32_t* in = input.data();
  EXPECT_EQ(a.d1.data()[p] & 0xFFFF, in[p + 8] & 0xFFFF);
  EXPECT_EQ(a.d1.data()[p] & 0xFFFF0000u, in[p - 2] & 0xFFFF0000u);
  // Pixels with red and green 0 stay where they are.
  EXPECT_EQ(a.d1.data()[p + 1], in[p + 1]);
  EXPECT_EQ(a.d1.data()[p - 1], in[p - 1]);
}

TEST(ComposeStereo, DepthLeavesFirstAndLastRows) {
  // Divisor 20: red 255 moves the first view by 13 pixels; the marked pixels have red
  // and green 0 and do not move themselves.
  const int32_t w = 48;
  const int32_t h = 3;
  Arrays a(w, h);
  for (int64_t i = 0; i < int64_t{w} * h; ++i) a.d1.data()[i] = Px(1, 200, 255, 0);
  a.d1.data()[30] = Px(55, 0, 0, 0);         // first row
  a.d1.data()[w + 20] = Px(99, 0, 0, 0);     // inner row
  a.d1.data()[2 * w + 5] = Px(77, 0, 0, 0);  // last row
  ComposeStereo(a.Ref(), w, h, {1, 0, 1, 20});
  const uint32_t* out = a.d1.data();
  EXPECT_EQ(out[30], Px(55, 0, 0, 0));
  EXPECT_EQ(test::Blue(out[30 - 13]), 1u);  // the first row reads nothing displaced
  EXPECT_EQ(test::Blue(out[w + 20 - 13]), 99u);
  EXPECT_EQ(test::Blue(out[2 * w + 5 - 13]), 77u);  // an inner pixel reads the last row
  EXPECT_EQ(out[2 * w + 5], Px(77, 0, 0, 0));
  EXPECT_EQ(test::Blue(out[2 * w + 5 - 1]), 1u);
}

// The fused step against the reference step, over several frames so that the previous
// frame carries over, with random settings.
void ExpectFusedStepMatches(int32_t w, int32_t h, uint32_t seed) {
  std::mt19937 rng(seed);
  Arrays ref(w, h);
  Arrays fused(w, h);
  for (int frame = 0; frame < 4; ++frame) {
    test::FillRandom(ref.d1.data(), int64_t{w} * h, rng);
    for (int64_t i = 0; i < ref.total(); ++i) fused.d1.data()[i] = ref.d1.data()[i];
    const StereoSettings settings{
        static_cast<int32_t>(rng() % 2), static_cast<int32_t>(rng() % 21) - 10,
        static_cast<int32_t>(rng() % 2), static_cast<int32_t>(20 + 5 * (rng() % 17))};
    StereoFrameStepReference(ref.Ref(), ref.d4.data(), w, h, settings);
    ASSERT_TRUE(StereoFrameStep(fused.Set(), settings));
    ASSERT_EQ(test::FirstDifference(ref.d1.data(), fused.d1.data(), ref.total()), "")
        << w << "x" << h << " frame " << frame;
    ASSERT_EQ(test::FirstDifference(ref.d3.data(), fused.d3.data(), ref.total()), "")
        << w << "x" << h << " frame " << frame;
    for (FrameArray* array : {&fused.d1, &fused.d2, &fused.d3, &fused.d4, &ref.d1, &ref.d2}) {
      ASSERT_TRUE(test::GuardsZero(*array));
    }
  }
}

TEST(StereoFrameStep, MatchesTheReferenceStep) {
  uint32_t seed = 100;
  for (int32_t w : {17, 23, 44, 45, 100, 641}) {
    for (int32_t h = 1; h <= 5; ++h) ExpectFusedStepMatches(w, h, seed++);
  }
}

TEST(StereoFrameStep, RefusesMissingOrMismatchedArrays) {
  Arrays a(30, 3);
  a.d4.Allocate(31, 4);
  EXPECT_FALSE(StereoFrameStep(a.Set(), Static(6)));
  a.d4.Free();
  EXPECT_FALSE(StereoFrameStep(a.Set(), Static(6)));
}

}  // namespace
}  // namespace zqr::frames
