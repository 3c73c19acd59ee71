// The time estimate of a conversion.
#include <gtest/gtest.h>

#include <limits>

#include "frames/estimate.h"

namespace zqr::frames {
namespace {

TEST(Estimate, UsesTheSinglePrecisionConstant) {
  // 30 frames of a 3000-frame video took 6 s: 0.0333 x 6 x 3000 = 599.4 (1/30 would give 600).
  EXPECT_EQ(EstimateSeconds(6.0, 3000), 599);
  // 5000 frames at 1 s per 30 frames: the decimal 0.0333 would give exactly 166.5 and round
  // to even (166); the single-precision constant is 0.0333000011..., which gives 166.500006.
  EXPECT_EQ(EstimateSeconds(1.0, 5000), 167);
  EXPECT_EQ(EstimateSeconds(0.0, 3000), 0);
  EXPECT_EQ(EstimateSeconds(6.0, 0), 0);
}

TEST(Estimate, RoundsTiesToEvenAndSaturates) {
  EXPECT_EQ(ElapsedSeconds(2.5), 2);
  EXPECT_EQ(ElapsedSeconds(3.5), 4);
  EXPECT_EQ(ElapsedSeconds(59.4), 59);
  EXPECT_EQ(ElapsedSeconds(1e12), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(EstimateSeconds(1e9, 2000000000), std::numeric_limits<int32_t>::max());
}

double fake_now = 0.0;
double FakeClock() {
  return fake_now;
}

TEST(EstimateClock, UpdatesOnEveryThirtiethFrame) {
  EstimateClock clock(FakeClock);
  fake_now = 1000.0;
  clock.Reset();
  int32_t estimate = -1;
  int32_t elapsed = -1;
  for (int frame = 1; frame <= 29; ++frame) {
    fake_now += 0.2;
    EXPECT_FALSE(clock.Tick(3000, &estimate, &elapsed)) << frame;
  }
  fake_now += 0.2;  // 30 frames in 6 s
  ASSERT_TRUE(clock.Tick(3000, &estimate, &elapsed));
  EXPECT_EQ(estimate, 599);
  EXPECT_EQ(elapsed, 6);
  EXPECT_EQ(clock.count(), 0);
  // The next 30 frames take 3 s; elapsed counts from the start.
  for (int frame = 1; frame <= 29; ++frame) {
    fake_now += 0.1;
    EXPECT_FALSE(clock.Tick(3000, &estimate, &elapsed));
  }
  fake_now += 0.1;
  ASSERT_TRUE(clock.Tick(3000, &estimate, &elapsed));
  EXPECT_EQ(estimate, 300);  // 0.0333 x 3 x 3000 = 299.7
  EXPECT_EQ(elapsed, 9);
}

TEST(EstimateClock, MonotonicClockDoesNotGoBack) {
  const double first = MonotonicSeconds();
  const double second = MonotonicSeconds();
  EXPECT_GE(second, first);
}

}  // namespace
}  // namespace zqr::frames
