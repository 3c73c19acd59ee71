// The filter chain: throttle, noise smoothing, brightness and contrast, with the values
// the program's documentation gives.
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <vector>

#include "frames/brightness_contrast.h"
#include "frames/filter_chain.h"
#include "frames/smooth.h"
#include "frames/throttle.h"
#include "tests/frames/frames_test_util.h"

namespace zqr::frames {
namespace {

using test::Gray;
using test::Px;

std::vector<int32_t> sleeps;
void RecordSleep(int32_t milliseconds) {
  sleeps.push_back(milliseconds);
}

TEST(Throttle, SleepsTenMillisecondsPerMissingPercent) {
  EXPECT_EQ(ThrottleMilliseconds(100), 0);
  EXPECT_EQ(ThrottleMilliseconds(50), 500);
  EXPECT_EQ(ThrottleMilliseconds(92), 80);
  EXPECT_EQ(ThrottleMilliseconds(0), 1000);
  EXPECT_EQ(ThrottleMilliseconds(-20), 1000);
  EXPECT_EQ(ThrottleMilliseconds(150), 0);
}

TEST(Throttle, SleepsOnlyWhenSwitchedOnAndYieldsAtFullUsage) {
  sleeps.clear();
  Throttle(0, 50, RecordSleep);
  EXPECT_TRUE(sleeps.empty());
  Throttle(1, 100, RecordSleep);
  Throttle(1, 50, RecordSleep);
  Throttle(1, 0, RecordSleep);
  EXPECT_EQ(sleeps, (std::vector<int32_t>{0, 500, 1000}));
}

// Brightness and contrast of one pixel with the given settings.
uint32_t Bc(uint32_t pixel, int32_t b_on, int32_t b, int32_t c_on, int32_t c) {
  uint32_t frame[1] = {pixel};
  if (BrightnessContrastRuns(b, c_on)) {
    BrightnessContrastScalar(frame, 1, MakeBrightnessContrastParams(b_on, b, c_on, c));
  }
  return frame[0];
}

TEST(BrightnessContrast, DefaultContrastMapsZeroToOneAndFullToFullMinusOne) {
  EXPECT_EQ(Bc(Px(0, 255, 0), 0, 127, 1, 127), Px(1, 254, 1));
  EXPECT_EQ(Bc(Px(128, 64, 200), 0, 127, 1, 128), Px(128, 64, 200));
  EXPECT_EQ(Bc(Px(0, 77, 255), 0, 127, 1, 0), Px(128, 128, 128));
}

TEST(BrightnessContrast, FullContrastFloorsTowardsMinusInfinityAndClamps) {
  EXPECT_EQ(Bc(Px(127, 129, 0), 0, 127, 1, 255), Px(126, 129, 0));
  EXPECT_EQ(Bc(Px(255, 0, 200), 0, 127, 1, 255), Px(255, 0, 255));
}

TEST(BrightnessContrast, NeutralBrightnessLeavesTheFrameUnchanged) {
  EXPECT_EQ(Bc(Px(1, 2, 3, 4), 1, 127, 0, 127), Px(1, 2, 3, 4));
}

TEST(BrightnessContrast, ZeroBrightnessWithContrastOffSkipsTheStep) {
  EXPECT_FALSE(BrightnessContrastRuns(0, 0));
  uint32_t frame[2] = {Px(10, 200, 126, 9), Px(255, 127, 0, 0)};
  ApplyBrightnessContrast(frame, 2, 1, 0, 0, 127);
  EXPECT_EQ(frame[0], Px(10, 200, 126, 9));
  EXPECT_EQ(frame[1], Px(255, 127, 0, 0));
}

TEST(BrightnessContrast, OffsetIsAppliedBeforeContrast) {
  // Brightness 0 with contrast on: offset -127 first, bytes below 127 become 0, then the
  // identity contrast 128.
  EXPECT_EQ(Bc(Px(100, 127, 200, 50), 1, 0, 1, 128), Px(0, 0, 73, 0));
  // Brightness +20 then contrast 127 on the clamped result.
  EXPECT_EQ(Bc(Px(240, 0, 100), 1, 147, 1, 127), Px(254, 20, 120, 19));
}

TEST(BrightnessContrast, SwitchesOffWithNonZeroBrightnessChangeNothing) {
  EXPECT_TRUE(BrightnessContrastRuns(200, 0));
  EXPECT_EQ(Bc(Px(3, 4, 5, 6), 0, 200, 0, 127), Px(3, 4, 5, 6));
}

TEST(BrightnessContrast, FourthByteTakesOffsetAndUnpivotedScale) {
  EXPECT_EQ(test::Fourth(Bc(Px(0, 0, 0, 100), 1, 177, 0, 0)), 150u);
  EXPECT_EQ(test::Fourth(Bc(Px(0, 0, 0, 100), 0, 127, 1, 64)), 50u);    // 100 x 64 / 128
  EXPECT_EQ(test::Fourth(Bc(Px(0, 0, 0, 200), 0, 127, 1, 255)), 255u);  // 398, saturated
  EXPECT_EQ(test::Fourth(Bc(Px(0, 0, 0, 255), 0, 127, 1, 0)), 0u);
}

TEST(BrightnessContrast, ValuesOutsideTheRangeAreTakenAtTheNearestEnd) {
  EXPECT_EQ(Bc(Px(0, 255, 0), 0, 127, 1, 900), Bc(Px(0, 255, 0), 0, 127, 1, 255));
  EXPECT_EQ(Bc(Px(90, 255, 0), 1, 400, 0, 0), Px(218, 255, 128, 128));
}

// Smoothing of a frame given as rows of gray values (bottom row first); the spare row
// is added as zero.
FrameArray GrayFrame(int32_t width, const std::vector<std::vector<uint32_t>>& rows) {
  FrameArray frame;
  frame.Allocate(width, static_cast<int32_t>(rows.size()) + 1);
  for (size_t y = 0; y < rows.size(); ++y) {
    for (int32_t x = 0; x < width; ++x) frame.data()[y * width + x] = Gray(rows[y][x]);
  }
  return frame;
}

TEST(SmoothFramePass, IsRecursiveInMemoryOrder) {
  // Pixel 3 (end of the bottom row) is 80, all else 0. Worked by hand:
  // i=4: (80)/8 = 10; i=5: (new 4 = 10)/8 = 1; i=6: (new 5 = 1, pixel 3 = 80)/8 = 10;
  // i=7: (new 6 = 10, pixel 3 = 80, new 4 = 10)/8 = 12.
  FrameArray frame = GrayFrame(4, {{0, 0, 0, 80}, {0, 0, 0, 0}, {0, 0, 0, 0}});
  SmoothFramePassScalar(frame.data(), 4, 12);
  const uint32_t* p = frame.data();
  EXPECT_EQ(p[4], Gray(10));
  EXPECT_EQ(p[5], Gray(1));
  EXPECT_EQ(p[6], Gray(10));
  EXPECT_EQ(p[7], Gray(12));
  // A filter that reads only the old frame would give 10, 0, 10, 10.
  EXPECT_EQ(p[3], Gray(80));
  for (int i = 8; i < 12; ++i) EXPECT_EQ(p[i], 0u) << i;
}

TEST(SmoothFramePass, LeavesFirstAndLastRowsAndDiffersFromCopyBasedMean) {
  std::mt19937 rng(7);
  FrameArray frame = test::RandomFrame(23, 6, rng);
  const FrameArray before = test::CopyOf(frame);
  const int64_t w = 23;
  const int64_t n = w * 5;
  SmoothFramePassScalar(frame.data(), 23, n);
  for (int64_t i = 0; i < w; ++i) EXPECT_EQ(frame.data()[i], before.data()[i]);
  for (int64_t i = n - w; i <= n; ++i) EXPECT_EQ(frame.data()[i], before.data()[i]);
  // The mean of the old frame only.
  int64_t differing = 0;
  const uint8_t* old = reinterpret_cast<const uint8_t*>(before.data());
  const uint8_t* now = reinterpret_cast<const uint8_t*>(frame.data());
  for (int64_t i = w; i < n - w; ++i) {
    for (int64_t c = 0; c < 4; ++c) {
      int32_t sum = 0;
      for (int64_t off : std::initializer_list<int64_t>{0, 1, -1, w, w - 1, w + 1, -w, -w + 1})
        sum += old[(i + off) * 4 + c];
      if ((sum >> 3) != now[i * 4 + c]) ++differing;
    }
  }
  EXPECT_GT(differing, (n - 2 * w) * 2);
  EXPECT_TRUE(test::GuardsZero(frame));
}

TEST(SmoothFramePass, UniformFrameChangesOnlyInTheLastSmoothedPixel) {
  const int32_t w = 19;
  const int32_t h = 4;
  FrameArray frame;
  frame.Allocate(w, h + 1);
  for (int64_t i = 0; i < int64_t{w} * h; ++i) frame.data()[i] = Px(200, 8, 96, 40);
  const int64_t n = int64_t{w} * h;
  SmoothFramePassScalar(frame.data(), w, n);
  for (int64_t i = 0; i < n; ++i) {
    if (i == n - w - 1) continue;
    ASSERT_EQ(frame.data()[i], Px(200, 8, 96, 40)) << i;
  }
  // Its sample i + W + 1 is the first pixel of the zero spare row: 7 x v / 8.
  EXPECT_EQ(frame.data()[n - w - 1], Px(175, 7, 84, 35));
}

TEST(SmoothFramePass, FramesOfFewerThanThreeRowsAreLeftAlone) {
  std::mt19937 rng(3);
  FrameArray frame = test::RandomFrame(17, 3, rng);
  const FrameArray before = test::CopyOf(frame);
  SmoothFramePassScalar(frame.data(), 17, 34);
  SmoothFramePass(frame.data(), 17, 34);
  SmoothFramePass(frame.data(), 17, 1);
  EXPECT_EQ(test::FirstDifference(before.data(), frame.data(), 51), "");
}

TEST(FilterChain, RunsTheGivenNumberOfPassesEachFromThePrevious) {
  std::mt19937 rng(11);
  FrameArray frame = test::RandomFrame(31, 7, rng);
  FrameArray expected = test::CopyOf(frame);
  const int64_t n = 31 * 6;
  for (int k = 0; k < 3; ++k) SmoothFramePassScalar(expected.data(), 31, n);
  FilterSettings settings;
  settings.noise_on = 1;
  settings.noise_passes = 3;
  settings.brightness = 0;  // with contrast off: no brightness/contrast step
  RunFilterChain(frame.data(), 31, n, settings, RecordSleep);
  EXPECT_EQ(test::FirstDifference(expected.data(), frame.data(), 31 * 7), "");
}

TEST(FilterChain, PassCountFollowsSwitchAndRange) {
  EXPECT_EQ(SmoothingPasses(0, 3), 0);
  EXPECT_EQ(SmoothingPasses(1, 0), 0);
  EXPECT_EQ(SmoothingPasses(1, 5), 5);
  EXPECT_EQ(SmoothingPasses(1, 1000000), 5);
  EXPECT_EQ(SmoothingPasses(1, -4), 0);
}

TEST(FilterChain, OrderIsThrottleSmoothingThenBrightnessContrast) {
  std::mt19937 rng(12);
  FrameArray frame = test::RandomFrame(40, 5, rng);
  FrameArray expected = test::CopyOf(frame);
  const int64_t n = 40 * 4;
  SmoothFramePassScalar(expected.data(), 40, n);
  BrightnessContrastScalar(expected.data(), n, MakeBrightnessContrastParams(1, 150, 1, 140));
  FilterSettings settings{1, 70, 1, 1, 1, 150, 1, 140};
  sleeps.clear();
  RunFilterChain(frame.data(), 40, n, settings, RecordSleep);
  EXPECT_EQ(sleeps, std::vector<int32_t>{300});
  EXPECT_EQ(test::FirstDifference(expected.data(), frame.data(), 40 * 5), "");
}

}  // namespace
}  // namespace zqr::frames

namespace zqr::frames {
namespace {

// The chain in the order of its steps with the reference kernels, for comparison with the
// chain as it runs (last smoothing pass and brightness/contrast interleaved in slices).
void ReferenceChain(uint32_t* frame, int32_t w, int64_t count, const FilterSettings& s) {
  for (int32_t k = 0; k < SmoothingPasses(s.noise_on, s.noise_passes); ++k) {
    SmoothFramePassScalar(frame, w, count);
  }
  if (BrightnessContrastRuns(s.brightness, s.contrast_on)) {
    BrightnessContrastScalar(
        frame, count,
        MakeBrightnessContrastParams(s.brightness_on, s.brightness, s.contrast_on, s.contrast));
  }
}

TEST(FilterChain, InterleavedLastPassEqualsTheStepsInOrder) {
  std::mt19937 rng(77);
  struct Case {
    int32_t w, h;
    int64_t cut;  // pixels short of the whole picture
  };
  for (const Case c : {Case{641, 40, 0}, Case{1921, 5, 0}, Case{17, 400, 0}, Case{700, 30, 333},
                       Case{45, 3, 0}, Case{45, 2, 0}}) {
    for (int32_t passes : {1, 2}) {
      FrameArray frame = test::RandomFrame(c.w, c.h + 1, rng);
      FrameArray expected = test::CopyOf(frame);
      const int64_t count = int64_t{c.w} * c.h - c.cut;
      const FilterSettings settings{0, 100, 1, passes, 1, 90, 1, 200};
      ReferenceChain(expected.data(), c.w, count, settings);
      RunFilterChain(frame.data(), c.w, count, settings, RecordSleep);
      ASSERT_EQ(test::FirstDifference(expected.data(), frame.data(), frame.pixel_count()), "")
          << c.w << "x" << c.h << " passes " << passes;
      ASSERT_TRUE(test::GuardsZero(frame));
    }
  }
}

}  // namespace
}  // namespace zqr::frames
