// Depth-image-based rendering against scenes whose true views are known: two textured
// planes (the right eye rendered from the left must be what a camera there would see, and
// its uncovered background must come from the background), and a depth ramp (no whole-pixel
// steps where the shift changes smoothly). Then every faster kernel against the plain one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "frames/dibr.h"

namespace zqr::frames {
namespace {

constexpr int32_t kWholePixel = 256;  // in the units of EyeShifts

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

TEST(Dibr, SpanWeightsAreTheIntegerQuotientsOverTheirWholeRange) {
  // The reciprocal table over every numerator and length; then each kernel set's weights
  // where the quotient is below 256, as a span's is (its numerator is below 256 times its
  // length).
  for (int32_t length = 1; length <= 512; ++length) {
    for (uint32_t n = 0; n <= (1u << 17); ++n) {
      if (SpanQuotient(n, length) != n / static_cast<uint32_t>(length)) {
        FAIL() << n << " / " << length << ": " << SpanQuotient(n, length);
      }
    }
  }
  std::vector<uint32_t> n(256 * 512), w(n.size());
  for (size_t i = 0; i < n.size(); ++i) n[i] = static_cast<uint32_t>(i);
  std::vector<int32_t> lengths(n.size());
  for (const DibrKernels& set : AvailableDibrKernelSets()) {
    for (int32_t length = 1; length <= 512; ++length) {
      const int32_t count = 256 * length;  // a multiple of 16
      std::fill(lengths.begin(), lengths.begin() + count, length);
      set.span_weights(n.data(), lengths.data(), w.data(), count);
      for (int32_t i = 0; i < count; ++i) {
        if (w[i] != n[i] / static_cast<uint32_t>(length)) {
          FAIL() << set.name << " " << n[i] << " / " << length << ": " << w[i];
        }
      }
    }
  }
}

// A depth row of one kind: noise, runs, a noisy ramp, a wave (spans stretched and squeezed
// in turn), steps (edges both ways) or steep slopes near the edge threshold.
std::vector<uint8_t> DepthRow(int kind, int32_t width, std::mt19937& rng) {
  std::vector<uint8_t> depth(static_cast<size_t>(width));
  const auto level = [&rng](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
  };
  int g = level(0, 255);
  const int base = level(20, 200);
  const double slope = level(-300, 300) / 100.0;
  const double period = level(8, 200);
  for (int32_t x = 0; x < width; ++x) {
    switch (kind) {
      case 0:
        g = level(0, 255);
        break;
      case 1:
        if (level(0, 19) == 0) g = level(0, 255);
        break;
      case 2:
        g = static_cast<int>(base + slope * x) + level(-1, 1);
        break;
      case 3:
        g = static_cast<int>(128 + 120 * std::sin(x * 6.2832 / period));
        break;
      case 4:
        if (level(0, 29) == 0) g = level(0, 1) != 0 ? std::min(255, g + 60) : std::max(0, g - 60);
        g += level(-1, 1);
        break;
      default:
        g += level(-12, 12);
        break;
    }
    depth[static_cast<size_t>(x)] = static_cast<uint8_t>(std::clamp(g, 0, 255));
  }
  return depth;
}

// Shift tables of whole pixels make spans land on pixels exactly, where the depth test
// meets ties; tables of random steps make folds and edges at every level.
EyeShifts RandomShifts(int32_t width, std::mt19937& rng) {
  EyeShifts shifts;
  shifts.identity = false;
  const bool whole = rng() % 2 == 0;
  const int reach = std::max(1, width / 8);
  for (int32_t& s : shifts.at) {
    s = whole ? kWholePixel * std::uniform_int_distribution<int>(-3, 3)(rng)
              : std::uniform_int_distribution<int>(-reach * 256, reach * 256)(rng);
  }
  if (rng() % 2 == 0) std::sort(shifts.at.begin(), shifts.at.end());
  return shifts;
}

TEST(Dibr, EveryKernelSetEqualsThePlainKernel) {
  // The depth buffer a kernel leaves is compared as well: a wrong depth shows in the colours
  // only where a later span or a gap reads it.
  std::mt19937 rng(11);
  std::vector<int32_t> widths;
  for (int32_t w = 1; w <= 67; ++w) widths.push_back(w);
  for (int32_t w : {255, 640, 1920, 1921, 4099}) widths.push_back(w);
  DibrRowScratch reference_scratch;
  for (const DibrKernels& set : AvailableDibrKernelSets()) {
    // One scratch for all rows, so that a row never depends on what the last one left.
    DibrRowScratch scratch;
    for (int32_t width : widths) {
      std::vector<uint32_t> picture(static_cast<size_t>(width));
      for (int trial = 0; trial < 16; ++trial) {
        for (uint32_t& p : picture) p = static_cast<uint32_t>(rng());
        const int kind = trial % 6;
        const std::vector<uint8_t> depth = DepthRow(kind, width, rng);
        DibrSettings settings;
        const double divergences[] = {0.5, 2.5, 25.0, 0.1 + (rng() % 250) / 10.0};
        const double convergences[] = {0.0, 0.5, 1.0, (rng() % 101) / 100.0};
        settings.divergence_percent = divergences[rng() % 4];
        settings.convergence = convergences[rng() % 4];
        settings.synthetic = static_cast<SyntheticView>(trial % 3);
        std::vector<EyeShifts> eyes = {LeftEyeShifts(settings, width),
                                       RightEyeShifts(settings, width)};
        if (trial >= 12) eyes = {RandomShifts(width, rng)};
        for (const EyeShifts& shifts : eyes) {
          std::vector<uint32_t> plain(picture.size(), 0x5A5A5A5Au);
          std::vector<uint32_t> candidate(picture.size(), 0xA5A5A5A5u);
          RenderEyeRowScalar(picture.data(), depth.data(), width, shifts, plain.data(),
                             reference_scratch);
          set.render_eye_row(picture.data(), depth.data(), width, shifts, candidate.data(),
                             scratch);
          const auto what = [&] {
            return testing::Message()
                   << set.name << " width " << width << " kind " << kind << " trial " << trial
                   << " divergence " << settings.divergence_percent << " convergence "
                   << settings.convergence;
          };
          ASSERT_EQ(plain, candidate) << what();
          if (shifts.identity) continue;
          ASSERT_TRUE(std::equal(reference_scratch.depth.begin(),
                                 reference_scratch.depth.begin() + width, scratch.depth.begin()))
              << what();
        }
      }
    }
  }
}

TEST(Dibr, EveryKernelSetEqualsThePlainKernelAtEverySpanLength) {
  // A depth ramp of a level a pixel under a shift table that rises by `length` - 256 a
  // level: every span of the row is `length` long, from squeezed to nothing to stretched to
  // two pixels, so that blocks of targets reach across every number of pairs.
  constexpr int32_t kWidth = 300;
  std::mt19937 rng(3);
  std::vector<uint32_t> picture(kWidth), plain(kWidth), candidate(kWidth);
  std::vector<uint8_t> depth(kWidth);
  const std::vector<DibrKernels> sets = AvailableDibrKernelSets();
  DibrRowScratch scratch;
  for (int32_t length = 1; length <= 512; ++length) {
    EyeShifts shifts;
    shifts.identity = false;
    const int32_t start = static_cast<int32_t>(rng() % 512);
    for (int32_t g = 0; g < 256; ++g) shifts.at[g] = (length - 256) * g - start;
    for (uint32_t& p : picture) p = static_cast<uint32_t>(rng());
    const int32_t from = static_cast<int32_t>(rng() % 40);
    for (int32_t x = 0; x < kWidth; ++x)
      depth[x] = static_cast<uint8_t>(std::clamp(x - from, 0, 255));
    RenderEyeRowScalar(picture.data(), depth.data(), kWidth, shifts, plain.data(), scratch);
    for (const DibrKernels& set : sets) {
      set.render_eye_row(picture.data(), depth.data(), kWidth, shifts, candidate.data(), scratch);
      ASSERT_EQ(plain, candidate) << set.name << " length " << length;
    }
  }
}

TEST(Dibr, ATieOfTheDepthTestGoesToTheEarlierSpanInEveryKernelSet) {
  // Pixels 0 .. 63 at level 11 land 64 pixels on, over pixels 64 .. 127, which alternate
  // levels 10 and 12 a pixel apart: each of their spans covers two targets, the second at
  // weight 128 and so at level 11 exactly. The earlier surface keeps every target.
  constexpr int32_t kHalf = 64, kWidth = 3 * kHalf;
  EyeShifts shifts;
  shifts.identity = false;
  shifts.at[11] = kHalf * kWholePixel;
  shifts.at[12] = kWholePixel;
  std::vector<uint32_t> picture(kWidth);
  std::vector<uint8_t> depth(kWidth, 10);
  for (int32_t x = 0; x < kWidth; ++x) {
    picture[x] = Bgr(static_cast<uint32_t>(x), 0, static_cast<uint32_t>(x / kHalf) * 100);
    if (x < kHalf) depth[x] = 11;
    if (x >= kHalf && x % 2 == 1) depth[x] = 12;
  }
  DibrRowScratch scratch;
  std::vector<uint32_t> plain(kWidth);
  RenderEyeRowScalar(picture.data(), depth.data(), kWidth, shifts, plain.data(), scratch);
  for (int32_t c = kHalf; c < 2 * kHalf; ++c) ASSERT_EQ(plain[c], picture[c - kHalf]) << c;
  for (const DibrKernels& set : AvailableDibrKernelSets()) {
    std::vector<uint32_t> out(kWidth);
    set.render_eye_row(picture.data(), depth.data(), kWidth, shifts, out.data(), scratch);
    EXPECT_EQ(out, plain) << set.name;
  }
}

TEST(Dibr, TheBandsAreRenderedByTheBestSetUnlessThePlainOneIsForced) {
  // The unit tests also run with ZQR_FORCE_SCALAR=1.
  const char* forced = std::getenv("ZQR_FORCE_SCALAR");
  const std::vector<DibrKernels> sets = AvailableDibrKernelSets();
  ASSERT_STREQ(sets.front().name, "scalar");
  const bool plain = forced != nullptr && forced[0] != '\0' && std::string(forced) != "0";
  EXPECT_STREQ(ActiveDibrKernels().name, plain ? "scalar" : sets.back().name);
}

TEST(Dibr, ABandOfRowsIsEachRowByThePlainKernelAndNothingElse) {
  // Rows 2 .. 5 of a picture with padding past each row's end: the padding stays as it was.
  constexpr int32_t kWidth = 301, kStride = 320, kRows = 8, kBegin = 2, kEnd = 6;
  std::mt19937 rng(5);
  std::vector<uint32_t> picture(kStride * kRows);
  for (uint32_t& p : picture) p = static_cast<uint32_t>(rng());
  std::vector<uint8_t> depth;
  for (int32_t y = 0; y < kRows; ++y) {
    const std::vector<uint8_t> row = DepthRow(2 + y % 3, kStride, rng);
    depth.insert(depth.end(), row.begin(), row.end());
  }
  DibrSettings settings;
  settings.divergence_percent = 6;
  std::vector<uint32_t> left(picture.size(), 7), right(picture.size(), 7);
  DibrRowScratch scratch;
  RenderDibrRows(picture.data(), kStride, depth.data(), kStride, kWidth, kBegin, kEnd, settings,
                 left.data(), right.data(), scratch);
  const EyeShifts l = LeftEyeShifts(settings, kWidth);
  const EyeShifts r = RightEyeShifts(settings, kWidth);
  std::vector<uint32_t> want(kWidth);
  for (int32_t y = 0; y < kRows; ++y) {
    const size_t row = static_cast<size_t>(y) * kStride;
    for (const auto& [view, shifts] : {std::pair{&left, &l}, std::pair{&right, &r}}) {
      if (y >= kBegin && y < kEnd) {
        RenderEyeRowScalar(picture.data() + row, depth.data() + row, kWidth, *shifts, want.data(),
                           scratch);
      } else {
        std::fill(want.begin(), want.end(), 7u);
      }
      EXPECT_TRUE(std::equal(want.begin(), want.end(), view->begin() + row)) << y;
      EXPECT_TRUE(std::all_of(view->begin() + row + kWidth, view->begin() + row + kStride,
                              [](uint32_t p) { return p == 7u; }))
          << y;
    }
  }
}

}  // namespace
}  // namespace zqr::frames
