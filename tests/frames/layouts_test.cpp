// The output layouts against references worked out here from their definitions: the two
// views against today's merge and against the edge rule, the colour anaglyphs against
// floating-point formulas (Dubois's published matrices in linear light, BT.601 luma), and
// the placement and squeezes of the side-by-side and top-and-bottom layouts pixel by pixel.
#include "frames/layouts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "frames/colour_anaglyphs.h"
#include "frames/stereo.h"
#include "frames/stereo_views.h"
#include "tests/frames/frames_test_util.h"

namespace zqr::frames {
namespace {

using Pixels = std::vector<uint32_t>;

Pixels RandomPixels(int64_t count, std::mt19937& rng) {
  Pixels pixels(static_cast<size_t>(count));
  test::FillRandom(pixels.data(), count, rng);
  return pixels;
}

StereoSettings RandomSettings(std::mt19937& rng, int32_t min_divisor) {
  return {static_cast<int32_t>(rng() % 2), static_cast<int32_t>(rng() % 21) - 10,
          static_cast<int32_t>(rng() % 3 != 0), min_divisor + static_cast<int32_t>(rng() % 60)};
}

// Pixel i of each view from the definitions: the left view is the second view, displaced
// by the green of the current frame, at i + shift; the right view is the current frame
// displaced by its red; every source held within the picture.
struct Views {
  Pixels left, right;
};
Views ReferenceViews(const Pixels& current, const Pixels& previous, int32_t width,
                     const StereoSettings& settings) {
  const int64_t n = static_cast<int64_t>(current.size());
  const Pixels& second = settings.mode == 0 ? previous : current;
  const float k = DisplacementFactor(settings.divisor);
  const bool depth = settings.displacement_on == 1;
  auto at = [n](const Pixels& frame, int64_t p) {
    return frame[static_cast<size_t>(std::clamp<int64_t>(p, 0, n - 1))];
  };
  auto moved = [&](int64_t p) { return depth && p >= width && p < n - width; };
  Views views{Pixels(current.size()), Pixels(current.size())};
  for (int64_t i = 0; i < n; ++i) {
    const uint32_t own = at(current, i);
    views.right[static_cast<size_t>(i)] =
        moved(i) ? at(current, i + ColourDisplacement(static_cast<int32_t>(test::Red(own)), k))
                 : own;
    const int64_t j = std::clamp<int64_t>(i + StereoShift(settings.tuning), 0, n - 1);
    const int32_t green = static_cast<int32_t>(test::Green(at(current, j)));
    views.left[static_cast<size_t>(i)] =
        moved(j) ? at(second, j - ColourDisplacement(green, k)) : at(second, j);
  }
  return views;
}

Views ComposedViews(const Pixels& current, const Pixels& previous, int32_t width, int32_t height,
                    const StereoSettings& settings) {
  Views views{Pixels(current.size()), Pixels(current.size())};
  EXPECT_TRUE(ComposeStereoViews(current.data(), previous.data(), width, height, settings,
                                 views.left.data(), views.right.data()));
  return views;
}

// The inputs are exactly the picture, so a read past it is a fault under the sanitizers.
TEST(StereoViews, FollowTheirDefinitionOnFramesOfAnyWidth) {
  std::mt19937 rng(11);
  for (int32_t width : {1, 7, 20, 45, 300}) {
    for (int32_t height : {1, 2, 5}) {
      for (int round = 0; round < 6; ++round) {
        const int64_t n = int64_t{width} * height;
        const Pixels current = RandomPixels(n, rng);
        const Pixels previous = RandomPixels(n, rng);
        const StereoSettings settings = RandomSettings(rng, 1);
        const Views expected = ReferenceViews(current, previous, width, settings);
        const Views actual = ComposedViews(current, previous, width, height, settings);
        ASSERT_EQ(test::FirstDifference(expected.left.data(), actual.left.data(), n), "")
            << width << "x" << height << " tuning " << settings.tuning;
        ASSERT_EQ(test::FirstDifference(expected.right.data(), actual.right.data(), n), "")
            << width << "x" << height << " depth " << settings.displacement_on;
      }
    }
  }
}

// Today's anaglyph, made from the views, over the whole merged part of the picture. The
// merge reads its red past the picture from the spare row; with that row holding copies of
// the last pixel it reads what the views' edge rule gives. Displacements of at most the
// width never leave the picture in either.
TEST(StereoViews, AnaglyphOfTheViewsIsTheMerge) {
  std::mt19937 rng(12);
  for (int32_t width : {45, 64, 256, 641}) {
    for (int32_t height : {1, 3, 6}) {
      for (int round = 0; round < 6; ++round) {
        const int64_t n = int64_t{width} * height;
        const StereoSettings settings = RandomSettings(rng, width >= 256 ? 1 : 6);
        FrameArray arrays[5];
        for (FrameArray& array : arrays) array.Allocate(width, height + 1);
        test::FillRandom(arrays[0].data(), n, rng);
        test::FillRandom(arrays[2].data(), n, rng);
        for (FrameArray* source : {&arrays[0], &arrays[2]}) {
          std::fill(source->data() + n, source->data() + n + width, source->data()[n - 1]);
        }
        const Pixels current(arrays[0].data(), arrays[0].data() + n);
        const Pixels previous(arrays[2].data(), arrays[2].data() + n);
        const Views views = ComposedViews(current, previous, width, height, settings);
        ComposeStereo({arrays[0].data(), arrays[1].data(), arrays[2].data(), arrays[3].data(),
                       arrays[4].data()},
                      width, height, settings);
        for (int64_t i = kStereoMergeStart; i < n; ++i) {
          const size_t p = static_cast<size_t>(i);
          ASSERT_EQ(arrays[0].data()[i], (views.right[p] & kLowHalf) | (views.left[p] & kHighHalf))
              << width << "x" << height << " pixel " << i << " tuning " << settings.tuning
              << " depth " << settings.displacement_on << " divisor " << settings.divisor;
        }
      }
    }
  }
}

// sRGB and BT.601 as floating-point formulas, and Dubois's red/cyan matrices as he
// publishes them (rows red, green, blue; columns left red, green, blue, right red, green,
// blue).
double Decode(uint32_t byte) {
  const double e = byte / 255.0;
  return e <= 0.04045 ? e / 12.92 : std::pow((e + 0.055) / 1.055, 2.4);
}
double Encode(double linear) {
  const double e = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
  return 255.0 * e;
}
constexpr double kDubois[3][6] = {{0.456, 0.500, 0.176, -0.043, -0.088, -0.002},
                                  {-0.040, -0.038, -0.016, 0.378, 0.734, -0.018},
                                  {-0.015, -0.021, -0.005, -0.072, -0.113, 1.226}};
double Luma(uint32_t p) {
  return 0.299 * test::Red(p) + 0.587 * test::Green(p) + 0.114 * test::Blue(p);
}

// Random frames with a share of extreme bytes, so that the clipping and the ends of the
// tables are reached.
Pixels TestFrame(int64_t count, std::mt19937& rng) {
  Pixels pixels = RandomPixels(count, rng);
  for (uint32_t& p : pixels) {
    if (rng() % 4 == 0) p &= rng() % 2 ? 0xFF00FF00u : 0x00FF00FFu;
    if (rng() % 4 == 0) p |= rng() % 2 ? 0x00FF00FFu : 0xFF00FF00u;
  }
  return pixels;
}

struct LayoutRun {
  Pixels out;
  Views views;
};
// `crop` columns of each view are left out on the right, as the frame files leave them.
LayoutRun RunLayout(OutputLayout layout, int32_t width, int32_t height, uint32_t seed,
                    int32_t crop = 0) {
  std::mt19937 rng(seed);
  const int64_t n = int64_t{width} * height;
  const Pixels current = TestFrame(n, rng);
  const Pixels previous = TestFrame(n, rng);
  const StereoSettings settings = RandomSettings(rng, 1);
  const LayoutSize size = LayoutOutputSize(layout, width - crop, height);
  LayoutRun run;
  // Two fills: a pixel left unwritten keeps its fill, which the two runs then disagree on;
  // the pixels past the output must keep theirs.
  for (uint32_t fill : {0x00000000u, 0xFFFFFFFFu}) {
    Pixels out(static_cast<size_t>(size.pixels) + 64, fill);
    LayoutScratch scratch;
    EXPECT_TRUE(ComposeLayout(layout, current.data(), previous.data(), width, height, settings,
                              out.data(), scratch, width - crop));
    for (size_t i = static_cast<size_t>(size.pixels); i < out.size(); ++i) {
      EXPECT_EQ(out[i], fill) << LayoutName(layout) << " wrote past its output at " << i;
    }
    out.resize(static_cast<size_t>(size.pixels));
    if (!run.out.empty()) {
      EXPECT_EQ(test::FirstDifference(run.out.data(), out.data(), size.pixels), "")
          << LayoutName(layout) << " " << width << "x" << height << " leaves pixels unwritten";
    }
    run.out = std::move(out);
  }
  run.views = ComposedViews(current, previous, width, height, settings);
  return run;
}

const std::pair<int32_t, int32_t> kSizes[] = {{1, 1}, {1, 4}, {7, 3}, {33, 5}, {64, 4}, {301, 7}};

TEST(ColourAnaglyphs, DuboisIsWithinOneOfLinearLightMatrices) {
  uint32_t seed = 20;
  for (auto [width, height] : kSizes) {
    const LayoutRun run = RunLayout(OutputLayout::kDubois, width, height, seed++);
    for (size_t i = 0; i < run.out.size(); ++i) {
      const uint32_t l = run.views.left[i], r = run.views.right[i];
      const double in[6] = {Decode(test::Red(l)), Decode(test::Green(l)), Decode(test::Blue(l)),
                            Decode(test::Red(r)), Decode(test::Green(r)), Decode(test::Blue(r))};
      const uint32_t got[3] = {test::Red(run.out[i]), test::Green(run.out[i]),
                               test::Blue(run.out[i])};
      for (int row = 0; row < 3; ++row) {
        double sum = 0;
        for (int column = 0; column < 6; ++column) sum += kDubois[row][column] * in[column];
        ASSERT_NEAR(got[row], Encode(std::clamp(sum, 0.0, 1.0)), 1.0)
            << width << "x" << height << " pixel " << i << " row " << row;
      }
      ASSERT_EQ(test::Fourth(run.out[i]), test::Fourth(l));
    }
  }
}

// Every input at once. A row's fixed-point sum, in linear light, is off the published
// matrix by at most the sum over its six columns of that column's worst product over all
// 256 bytes. The encoding is a step function of the sum, rising within each of its pieces;
// for each step, every true value that the sums on it can stand for must encode within
// one of the step's byte.
TEST(ColourAnaglyphs, DuboisIsWithinOneForEveryInput) {
  double worst = 0;
  for (size_t row = 0; row < 3; ++row) {
    double below = 0, above = 0, top = kDuboisBias;
    for (size_t column = 0; column < 6; ++column) {
      double low = 0, high = 0;
      for (uint32_t b = 0; b < 256; ++b) {
        const double error =
            static_cast<double>(kDuboisWords[row][column]) * kSrgbToLinear[b] / kDuboisOne -
            kDubois[row][column] * Decode(b);
        low = std::min(low, error);
        high = std::max(high, error);
      }
      below += low;
      above += high;
      top += std::max(0, kDuboisWords[row][column] * kSrgbToLinear[255]);
    }
    // Sums are ordered by piece, then by byte within a piece.
    auto key = [](int32_t sum) {
      return (std::bit_cast<uint32_t>(DuboisEncodeInput(sum)) >> kDuboisPieceShift) << 8 |
             DuboisEncode(sum);
    };
    for (int64_t first = kDuboisBias; first <= top;) {
      int64_t lo = first, hi = static_cast<int64_t>(top);
      while (lo < hi) {
        const int64_t mid = lo + (hi - lo + 1) / 2;
        if (key(static_cast<int32_t>(mid)) == key(static_cast<int32_t>(first))) {
          lo = mid;
        } else {
          hi = mid - 1;
        }
      }
      const double byte = DuboisEncode(static_cast<int32_t>(first));
      // The first step also takes every sum below the bias (linear values below 0).
      const double least = first == kDuboisBias ? -1.0 : (first - kDuboisBias) / double{kDuboisOne};
      const double most = (lo - kDuboisBias) / double{kDuboisOne};
      const double low = Encode(std::clamp(least - above, 0.0, 1.0));
      const double high = Encode(std::clamp(most - below, 0.0, 1.0));
      ASSERT_LE(byte - low, 1.0) << "row " << row << " sum " << first;
      ASSERT_LE(high - byte, 1.0) << "row " << row << " sum " << lo;
      ASSERT_GE(key(static_cast<int32_t>(lo + 1)), key(static_cast<int32_t>(lo)))
          << row << " " << lo;
      worst = std::max({worst, byte - low, high - byte});
      first = lo + 1;
    }
  }
  RecordProperty("worst", std::to_string(worst));
}

TEST(ColourAnaglyphs, HalfColourAndGreyTakeLuma) {
  uint32_t seed = 40;
  for (auto [width, height] : kSizes) {
    const LayoutRun half = RunLayout(OutputLayout::kHalfColour, width, height, seed);
    const LayoutRun grey = RunLayout(OutputLayout::kGrey, width, height, seed++);
    for (size_t i = 0; i < half.out.size(); ++i) {
      const uint32_t l = half.views.left[i], r = half.views.right[i];
      ASSERT_NEAR(test::Red(half.out[i]), Luma(l), 1.0) << i;
      ASSERT_EQ(half.out[i] & 0xFFFF, r & 0xFFFF) << i;
      ASSERT_EQ(test::Fourth(half.out[i]), test::Fourth(l)) << i;
      // Grey ran on the same frames and settings, so on the same views.
      ASSERT_NEAR(test::Red(grey.out[i]), Luma(l), 1.0) << i;
      ASSERT_NEAR(test::Green(grey.out[i]), Luma(r), 1.0) << i;
      ASSERT_EQ(test::Blue(grey.out[i]), test::Green(grey.out[i])) << i;
      ASSERT_EQ(test::Fourth(grey.out[i]), test::Fourth(l)) << i;
    }
  }
}

TEST(ColourAnaglyphs, LumaOfGreysIsTheGrey) {
  for (uint32_t v = 0; v < 256; ++v) {
    const uint32_t pixel = test::Px(v, v, v, 0);
    uint32_t out = 0;
    ScalarKernels().layouts.grey(&pixel, &pixel, &out, 1);
    ASSERT_EQ(out, test::Px(v, v, v, 0)) << v;
  }
}

// The rounded mean of two pixels, byte by byte, halves rounded up.
uint32_t Mean(uint32_t a, uint32_t b) {
  uint32_t out = 0;
  for (int byte = 0; byte < 4; ++byte) {
    const double sum = ((a >> (8 * byte)) & 0xFF) + ((b >> (8 * byte)) & 0xFF);
    out |= static_cast<uint32_t>(std::floor(sum / 2 + 0.5)) << (8 * byte);
  }
  return out;
}

// Picture line y counted from the top of a frame stored bottom line first.
uint32_t At(const Pixels& frame, int32_t width, int32_t height, int32_t x, int32_t y) {
  return frame[static_cast<size_t>(int64_t{height - 1 - y} * width + x)];
}

// Each test of the placed layouts runs whole and with the views cropped on the right.
int32_t CropFor(int32_t width, int round) {
  return round == 0 || width <= 3 ? 0 : 3;
}

TEST(WholeViewLayouts, SideBySideAndTopAndBottom) {
  uint32_t seed = 60;
  for (int round = 0; round < 2; ++round) {
    for (auto [width, height] : kSizes) {
      const int32_t crop = CropFor(width, round);
      const int32_t pw = width - crop;
      const LayoutRun sbs = RunLayout(OutputLayout::kSbs, width, height, seed, crop);
      const LayoutRun tab = RunLayout(OutputLayout::kTab, width, height, seed++, crop);
      const Views& v = sbs.views;
      for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < pw; ++x) {
          ASSERT_EQ(At(sbs.out, 2 * pw, height, x, y), At(v.left, width, height, x, y));
          ASSERT_EQ(At(sbs.out, 2 * pw, height, pw + x, y), At(v.right, width, height, x, y));
          ASSERT_EQ(At(tab.out, pw, 2 * height, x, y), At(v.left, width, height, x, y));
          ASSERT_EQ(At(tab.out, pw, 2 * height, x, height + y), At(v.right, width, height, x, y));
        }
      }
    }
  }
}

TEST(ColourAnaglyphs, CroppedViewsGiveTheCroppedRows) {
  for (OutputLayout layout :
       {OutputLayout::kDubois, OutputLayout::kHalfColour, OutputLayout::kGrey}) {
    const LayoutRun whole = RunLayout(layout, 301, 7, 7);
    const LayoutRun cropped = RunLayout(layout, 301, 7, 7, 16);
    for (int64_t y = 0; y < 7; ++y) {
      ASSERT_TRUE(std::equal(cropped.out.begin() + y * 285, cropped.out.begin() + (y + 1) * 285,
                             whole.out.begin() + y * 301))
          << LayoutName(layout) << " row " << y;
    }
  }
}

TEST(SqueezedLayouts, HalfSideBySide) {
  uint32_t seed = 80;
  for (int round = 0; round < 2; ++round) {
    for (auto [width, height] : kSizes) {
      const int32_t pw = width - CropFor(width, round);
      const LayoutRun run = RunLayout(OutputLayout::kHalfSbs, width, height, seed++, width - pw);
      const int32_t left_columns = (pw + 1) / 2;
      for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < pw; ++x) {
          const Pixels& view = x < left_columns ? run.views.left : run.views.right;
          const int32_t source = 2 * (x < left_columns ? x : x - left_columns);
          const uint32_t expected = Mean(At(view, width, height, source, y),
                                         At(view, width, height, std::min(source + 1, pw - 1), y));
          ASSERT_EQ(At(run.out, pw, height, x, y), expected)
              << width << "x" << height << " (" << pw << ") at " << x << "," << y;
        }
      }
    }
  }
}

TEST(SqueezedLayouts, HalfTopAndBottom) {
  uint32_t seed = 100;
  for (int round = 0; round < 2; ++round) {
    for (auto [width, height] : kSizes) {
      const int32_t pw = width - CropFor(width, round);
      const LayoutRun run = RunLayout(OutputLayout::kHalfTab, width, height, seed++, width - pw);
      const int32_t top_lines = (height + 1) / 2;
      for (int32_t y = 0; y < height; ++y) {
        const Pixels& view = y < top_lines ? run.views.left : run.views.right;
        const int32_t source = 2 * (y < top_lines ? y : y - top_lines);
        for (int32_t x = 0; x < pw; ++x) {
          const uint32_t expected =
              Mean(At(view, width, height, x, source),
                   At(view, width, height, x, std::min(source + 1, height - 1)));
          ASSERT_EQ(At(run.out, pw, height, x, y), expected)
              << width << "x" << height << " (" << pw << ") at " << x << "," << y;
        }
      }
    }
  }
}

// Through ComposeLayout, the anaglyph is the stereo step's own composition, spare line
// included.
TEST(ComposeLayout, AnaglyphIsTheStereoStep) {
  std::mt19937 rng(120);
  for (auto [width, height] : {std::pair{45, 3}, std::pair{641, 4}}) {
    for (int round = 0; round < 4; ++round) {
      const StereoSettings settings = RandomSettings(rng, 1);
      FrameArray arrays[6];
      for (FrameArray& array : arrays) array.Allocate(width, height + 1);
      test::FillRandom(arrays[0].data(), arrays[0].pixel_count(), rng);
      test::FillRandom(arrays[2].data(), arrays[2].pixel_count(), rng);
      const FrameArray current = test::CopyOf(arrays[0]);
      const FrameArray previous = test::CopyOf(arrays[2]);
      ASSERT_TRUE(StereoFrameStep(
          {&arrays[0], &arrays[1], &arrays[2], &arrays[3], &arrays[4], &arrays[5]}, settings));
      const LayoutSize size = LayoutOutputSize(OutputLayout::kAnaglyph, width, height);
      ASSERT_EQ(size.pixels, current.pixel_count());
      Pixels out(static_cast<size_t>(size.pixels));
      LayoutScratch scratch;
      ASSERT_TRUE(ComposeLayout(OutputLayout::kAnaglyph, current.data(), previous.data(), width,
                                height, settings, out.data(), scratch));
      ASSERT_EQ(test::FirstDifference(arrays[0].data(), out.data(), size.pixels), "");
    }
  }
}

TEST(ComposeLayout, SizesAndNames) {
  const OutputLayout all[] = {OutputLayout::kAnaglyph,   OutputLayout::kDubois,
                              OutputLayout::kHalfColour, OutputLayout::kGrey,
                              OutputLayout::kSbs,        OutputLayout::kHalfSbs,
                              OutputLayout::kTab,        OutputLayout::kHalfTab};
  for (OutputLayout layout : all) {
    EXPECT_EQ(LayoutFromName(LayoutName(layout)), layout);
    const LayoutSize size = LayoutOutputSize(layout, 1905, 1081);
    const bool wide = layout == OutputLayout::kSbs, tall = layout == OutputLayout::kTab;
    EXPECT_EQ(size.width, wide ? 3810 : 1905) << LayoutName(layout);
    EXPECT_EQ(size.height, tall ? 2162 : 1081) << LayoutName(layout);
    EXPECT_EQ(size.pixels,
              int64_t{size.width} * (size.height + (layout == OutputLayout::kAnaglyph)));
    EXPECT_EQ(LayoutOutputSize(layout, 0, 5).pixels, 0);
  }
  EXPECT_EQ(LayoutFromName("side-by-side"), std::nullopt);
}

TEST(ComposeLayout, RefusesMissingArraysAndEmptySizes) {
  Pixels frame(64, 1), out(256, 7);
  LayoutScratch scratch;
  const StereoSettings dynamic{0, 6, 0, 30};
  EXPECT_FALSE(
      ComposeLayout(OutputLayout::kSbs, frame.data(), nullptr, 8, 8, dynamic, out.data(), scratch));
  EXPECT_FALSE(ComposeLayout(OutputLayout::kSbs, frame.data(), frame.data(), 0, 8, dynamic,
                             out.data(), scratch));
  EXPECT_FALSE(ComposeLayout(OutputLayout::kGrey, frame.data(), frame.data(), 8, 8, dynamic,
                             nullptr, scratch));
  EXPECT_EQ(out, Pixels(256, 7));
  // The static mode has no use for a previous frame.
  EXPECT_TRUE(ComposeLayout(OutputLayout::kTab, frame.data(), nullptr, 8, 8, {1, 6, 0, 30},
                            out.data(), scratch));
}

}  // namespace
}  // namespace zqr::frames
