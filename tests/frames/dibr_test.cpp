// Depth-image-based rendering against scenes whose true views are known: two textured
// planes (the right eye rendered from the left must be what a camera there would see, and
// its uncovered background must come from the background), and a depth ramp (no whole-pixel
// steps where the shift changes smoothly).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "frames/dibr.h"

namespace zqr::frames {
namespace {

uint32_t Bgr(uint32_t b, uint32_t g, uint32_t r) {
  return (r & 0xFF) << 16 | (g & 0xFF) << 8 | (b & 0xFF);
}
uint32_t Background(int u) {
  return Bgr(static_cast<uint32_t>(u * 3), 100, 0);
}
uint32_t Foreground(int u) {
  return Bgr(0, static_cast<uint32_t>(u * 5), 200);
}

// A background plane at level 51 and, in front of it, a plane at level 204 over picture
// columns 150 .. 249: at 10 pixels of disparity per level unit, whole-pixel disparities.
TEST(Dibr, TheRenderedRightEyeIsWhatTheRightCameraSees) {
  constexpr int32_t kWidth = 400;
  constexpr int32_t kRows = 3;
  constexpr int kNear = 204, kFar = 51, kFrom = 150, kTo = 250;
  std::vector<uint32_t> picture(kWidth * kRows), left(kWidth * kRows), right(kWidth * kRows);
  std::vector<uint8_t> depth(kWidth * kRows);
  for (int32_t y = 0; y < kRows; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      const bool near = x >= kFrom && x < kTo;
      picture[y * kWidth + x] = near ? Foreground(x) : Background(x);
      depth[y * kWidth + x] = static_cast<uint8_t>(near ? kNear : kFar);
    }
  }
  for (double convergence : {0.0, 0.5}) {
    SCOPED_TRACE(convergence);
    DibrSettings settings;
    settings.divergence_percent = 2.5;
    settings.convergence = convergence;
    settings.synthetic = SyntheticView::kRight;
    DibrRowScratch scratch;
    RenderDibrRows(picture.data(), kWidth, depth.data(), kWidth, kWidth, 0, kRows, settings,
                   left.data(), right.data(), scratch);
    EXPECT_EQ(left, picture);  // the picture is the left eye
    const int near_d = static_cast<int>((0.8 - convergence) * 10);
    const int far_d = static_cast<int>((0.2 - convergence) * 10);
    int compared = 0, holes = 0;
    for (int32_t y = 0; y < kRows; ++y) {
      for (int32_t x = 0; x < kWidth; ++x) {
        const uint32_t got = right[y * kWidth + x];
        // The right eye sees a point d pixels left of where the left eye sees it.
        const bool near = x + near_d >= kFrom && x + near_d < kTo;
        const int from_far = x + far_d;
        const bool far_seen_left =
            from_far >= 0 && from_far < kWidth && !(from_far >= kFrom && from_far < kTo);
        const bool at_edge = std::abs(x - (kFrom - near_d)) <= 1 ||
                             std::abs(x - (kTo - near_d)) <= 1 || x < 12 || x >= kWidth - 12;
        if (at_edge) continue;
        if (near) {
          ASSERT_EQ(got, Foreground(x + near_d)) << x;
          ++compared;
        } else if (far_seen_left) {
          ASSERT_EQ(got, Background(from_far)) << x;
          ++compared;
        } else {
          // Background the left eye never saw: filled from the background, not the plane
          // in front (whose red is 200).
          EXPECT_EQ(got >> 16 & 0xFF, 0u) << x;
          ++holes;
        }
      }
    }
    EXPECT_GT(compared, kRows * 340);
    EXPECT_EQ(holes, kRows * (near_d - far_d - 2));  // the gap, less its edge pixels
  }
}

TEST(Dibr, BothEyesShareTheDisparityAndASmoothRampHasNoSteps) {
  // Depth rises along the row: the right eye's shift goes from +4 to -4 pixels, so the
  // picture is squeezed by a tenth. A gradient of 3 levels a pixel must then climb by 3 or
  // 4 at every pixel: a warp to whole pixels would drop a pixel now and then (a climb of 6
  // or more) or repeat one (0).
  constexpr int32_t kWidth = 80;
  std::vector<uint32_t> picture(kWidth), left(kWidth), right(kWidth);
  std::vector<uint8_t> depth(kWidth);
  for (int32_t x = 0; x < kWidth; ++x) {
    picture[x] = Bgr(0, static_cast<uint32_t>(3 * x), 0);
    depth[x] = static_cast<uint8_t>(x * 255 / (kWidth - 1));
  }
  DibrSettings settings;
  settings.divergence_percent = 10;
  settings.convergence = 0.5;
  settings.synthetic = SyntheticView::kRight;
  DibrRowScratch scratch;
  RenderDibrRows(picture.data(), kWidth, depth.data(), kWidth, kWidth, 0, 1, settings, left.data(),
                 right.data(), scratch);
  for (int32_t x = 6; x < kWidth - 6; ++x) {
    const int climb =
        static_cast<int>(right[x] >> 8 & 0xFF) - static_cast<int>(right[x - 1] >> 8 & 0xFF);
    EXPECT_GE(climb, 3) << x;
    EXPECT_LE(climb, 4) << x;
  }
  // Shared between the eyes, each moves half as far, in opposite directions: the screen's
  // plane (level 127.5) stays where it was in both.
  settings.synthetic = SyntheticView::kBoth;
  const EyeShifts l = LeftEyeShifts(settings, kWidth);
  const EyeShifts r = RightEyeShifts(settings, kWidth);
  EXPECT_EQ(l.at[255], 2 * 256);
  EXPECT_EQ(r.at[255], -2 * 256);
  EXPECT_EQ(l.at[0] - r.at[0], -4 * 256);
  EXPECT_EQ(l.at[128], 2);  // 0.0078 pixel
  // No divergence: both eyes are the picture.
  settings.divergence_percent = 0;
  RenderDibrRows(picture.data(), kWidth, depth.data(), kWidth, kWidth, 0, 1, settings, left.data(),
                 right.data(), scratch);
  EXPECT_EQ(left, picture);
  EXPECT_EQ(right, picture);
}

TEST(Dibr, TheRunKernelEqualsThePlainOneOnRandomRows) {
  // Depth planes of runs and of noise, odd widths, every synthetic eye and strong shifts.
  uint32_t seed = 7;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  DibrRowScratch scratch;
  for (int32_t width : {1, 2, 3, 17, 255, 640, 1921}) {
    for (int trial = 0; trial < 12; ++trial) {
      std::vector<uint32_t> picture(static_cast<size_t>(width));
      std::vector<uint8_t> depth(static_cast<size_t>(width));
      uint32_t level = next() & 0xFF;
      for (size_t x = 0; x < depth.size(); ++x) {
        picture[x] = next();
        if (next() % (trial % 3 == 0 ? 2 : 29) == 0) level = next() & 0xFF;
        depth[x] = static_cast<uint8_t>(trial % 4 == 1 ? (level + next() % 3) & 0xFF : level);
      }
      DibrSettings settings;
      settings.divergence_percent = 0.5 + (next() % 250) / 10.0;
      settings.convergence = (next() % 101) / 100.0;
      settings.synthetic = static_cast<SyntheticView>(trial % 3);
      for (const EyeShifts& shifts :
           {LeftEyeShifts(settings, width), RightEyeShifts(settings, width)}) {
        std::vector<uint32_t> plain(picture.size()), runs(picture.size());
        RenderEyeRowScalar(picture.data(), depth.data(), width, shifts, plain.data(), scratch);
        RenderEyeRow(picture.data(), depth.data(), width, shifts, runs.data(), scratch);
        ASSERT_EQ(plain, runs) << "width " << width << " trial " << trial;
      }
    }
  }
}

}  // namespace
}  // namespace zqr::frames
