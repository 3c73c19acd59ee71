// Every kernel set's layout kernels against the plain ones, byte for byte, on random and
// extreme pixels, with counts and widths that are not multiples of any vector width, and
// the views on inputs of exactly the picture's size (a read past it shows under the
// sanitizers).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "frames/kernels.h"
#include "frames/stereo.h"
#include "frames/stereo_views.h"
#include "tests/frames/frames_test_util.h"

namespace zqr::frames {
namespace {

using Pixels = std::vector<uint32_t>;

class LayoutCheckasm : public ::testing::TestWithParam<int> {
 protected:
  const LayoutKernels& ref() const { return ScalarKernels().layouts; }
  const LayoutKernels& candidate() const { return sets_[static_cast<size_t>(GetParam())].layouts; }
  std::string Name() const { return sets_[static_cast<size_t>(GetParam())].name; }
  static std::vector<FrameKernels> sets_;
};
std::vector<FrameKernels> LayoutCheckasm::sets_ = AvailableKernelSets();

// Random pixels, a share of them pushed to 0 or 255 in some bytes.
Pixels TestPixels(int64_t count, std::mt19937& rng) {
  Pixels pixels(static_cast<size_t>(count));
  test::FillRandom(pixels.data(), count, rng);
  for (uint32_t& p : pixels) {
    if (rng() % 3 == 0) p &= rng() % 2 ? 0xFF0000FFu : 0x00FFFF00u;
    if (rng() % 3 == 0) p |= rng() % 2 ? 0x00FF00FFu : 0xFFFF0000u;
  }
  return pixels;
}

const int32_t kWidths[] = {1, 8, 17, 18, 23, 31, 33, 45, 64, 100, 641, 1921};

TEST_P(LayoutCheckasm, StereoViewsInRandomPieces) {
  std::mt19937 rng(100 + GetParam());
  for (int32_t w : kWidths) {
    for (int32_t h = 1; h <= 5; ++h) {
      for (int round = 0; round < 4; ++round) {
        const int64_t n = int64_t{w} * h;
        const Pixels current = TestPixels(n, rng);
        const Pixels previous = TestPixels(n, rng);
        // Near displacements (at most 8 pixels), far ones, and none.
        const int32_t divisor = round == 0   ? 1 + static_cast<int32_t>(rng() % 31)
                                : round == 1 ? 32 + static_cast<int32_t>(rng() % 80)
                                             : 1 + static_cast<int32_t>(rng() % 100);
        const StereoSettings settings{static_cast<int32_t>(rng() % 2),
                                      static_cast<int32_t>(rng() % 21) - 10, round != 3, divisor};
        const auto table = DisplacementTableFor(DisplacementFactor(divisor));
        StereoViewArgs args =
            MakeStereoViewArgs(current.data(), previous.data(), w, h, settings, table);
        Pixels left_a(static_cast<size_t>(n)), right_a(left_a.size());
        ref().stereo_views(args, 0, n, left_a.data(), right_a.data());
        // The vector kernels work the displacements out themselves when given no table.
        if (rng() % 2 == 0) args.displacement_table = nullptr;
        Pixels left_b(left_a.size(), 0x5A5A5A5Au), right_b(left_a.size(), 0x5A5A5A5Au);
        for (int64_t start = 0; start < n;) {
          const int64_t stop = std::min<int64_t>(n, start + 1 + static_cast<int64_t>(rng() % 90));
          candidate().stereo_views(args, start, stop, left_b.data() + start,
                                   right_b.data() + start);
          start = stop;
        }
        ASSERT_EQ(test::FirstDifference(left_a.data(), left_b.data(), n), "")
            << Name() << " left " << w << "x" << h << " shift " << args.shift << " depth "
            << args.displacement << " divisor " << divisor;
        ASSERT_EQ(test::FirstDifference(right_a.data(), right_b.data(), n), "")
            << Name() << " right " << w << "x" << h << " depth " << args.displacement << " divisor "
            << divisor;
      }
    }
  }
}

// The kernels that make the views and a layout in one pass, against the plain views and
// the plain layout kernels, over pieces of random length with near and far displacements.
TEST_P(LayoutCheckasm, ViewsAndLayoutInOnePass) {
  std::mt19937 rng(400 + GetParam());
  using Colour = void (*)(const StereoViewArgs&, int64_t, int64_t, uint32_t*);
  using Plain = void (*)(const uint32_t*, const uint32_t*, uint32_t*, int64_t);
  const std::tuple<const char*, Colour, Plain> colours[] = {
      {"half-colour", candidate().half_colour_views, ref().half_colour},
      {"grey", candidate().grey_views, ref().grey}};
  for (int32_t w : {17, 45, 100, 641}) {
    for (int32_t h : {2, 5}) {
      const int64_t n = int64_t{w} * h;
      const Pixels current = TestPixels(n, rng);
      const Pixels previous = TestPixels(n, rng);
      const int32_t divisor =
          h == 2 ? 1 + static_cast<int32_t>(rng() % 31) : 32 + static_cast<int32_t>(rng() % 80);
      const StereoSettings settings{static_cast<int32_t>(rng() % 2),
                                    static_cast<int32_t>(rng() % 21) - 10, true, divisor};
      const auto table = DisplacementTableFor(DisplacementFactor(divisor));
      const StereoViewArgs args =
          MakeStereoViewArgs(current.data(), previous.data(), w, h, settings, table);
      Pixels left(static_cast<size_t>(n)), right(left.size());
      ref().stereo_views(args, 0, n, left.data(), right.data());
      for (const auto& [name, kernel, plain] : colours) {
        if (kernel == nullptr) continue;
        Pixels a(left.size()), b(left.size(), 0x5A5A5A5Au);
        plain(left.data(), right.data(), a.data(), n);
        for (int64_t start = 0; start < n;) {
          const int64_t stop = std::min<int64_t>(n, start + 1 + static_cast<int64_t>(rng() % 200));
          kernel(args, start, stop, b.data() + start);
          start = stop;
        }
        ASSERT_EQ(test::FirstDifference(a.data(), b.data(), n), "")
            << Name() << " " << name << " " << w << "x" << h << " divisor " << divisor;
      }
      if (candidate().average_rows_views == nullptr) continue;
      // Lines 0 and h - 1, squeezed into one.
      Pixels a(2 * static_cast<size_t>(w)), b(a.size(), 0x5A5A5A5Au);
      const int64_t last = (h - 1) * int64_t{w};
      ref().average_rows(left.data(), left.data() + last, a.data(), w);
      ref().average_rows(right.data(), right.data() + last, a.data() + w, w);
      candidate().average_rows_views(args, 0, last, w, b.data(), b.data() + w);
      ASSERT_EQ(test::FirstDifference(a.data(), b.data(), 2 * w), "")
          << Name() << " average rows " << w << "x" << h << " divisor " << divisor;
    }
  }
}

// The three colour anaglyphs over counts around the vector widths and a long row, with
// room past the end that must stay untouched.
TEST_P(LayoutCheckasm, ColourAnaglyphs) {
  std::mt19937 rng(200 + GetParam());
  using Kernel = void (*)(const uint32_t*, const uint32_t*, uint32_t*, int64_t);
  const std::pair<const char*, Kernel LayoutKernels::*> kernels[] = {
      {"dubois", &LayoutKernels::dubois},
      {"half-colour", &LayoutKernels::half_colour},
      {"grey", &LayoutKernels::grey}};
  for (int64_t count : {0, 1, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 100, 1921}) {
    const Pixels left = TestPixels(count, rng);
    const Pixels right = TestPixels(count, rng);
    for (const auto& [name, kernel] : kernels) {
      Pixels a(static_cast<size_t>(count) + 16, 0xA5A5A5A5u), b(a);
      (ref().*kernel)(left.data(), right.data(), a.data(), count);
      (candidate().*kernel)(left.data(), right.data(), b.data(), count);
      ASSERT_EQ(test::FirstDifference(a.data(), b.data(), count + 16), "")
          << Name() << " " << name << " count " << count;
    }
  }
}

// Every pair of sRGB bytes through Dubois: each table entry and the clipping at both ends.
TEST_P(LayoutCheckasm, DuboisEveryBytePair) {
  Pixels left(65536), right(65536);
  for (uint32_t i = 0; i < 65536; ++i) {
    const uint32_t a = i & 0xFF, b = i >> 8;
    left[i] = test::Px(a, b, a ^ b, b);
    right[i] = test::Px(b, a, 255 - a, a);
  }
  Pixels a(left.size()), b(left.size());
  ref().dubois(left.data(), right.data(), a.data(), 65536);
  candidate().dubois(left.data(), right.data(), b.data(), 65536);
  ASSERT_EQ(test::FirstDifference(a.data(), b.data(), 65536), "") << Name();
}

TEST_P(LayoutCheckasm, Squeezes) {
  std::mt19937 rng(300 + GetParam());
  for (int32_t w = 1; w <= 70; ++w) {
    for (int32_t width : {w, w + 1851}) {
      const Pixels row = TestPixels(width, rng);
      for (int32_t count : {(width + 1) / 2, width / 2}) {
        Pixels a(static_cast<size_t>(count) + 16, 0xA5A5A5A5u), b(a);
        ref().halve_columns(row.data(), width, count, a.data());
        candidate().halve_columns(row.data(), width, count, b.data());
        ASSERT_EQ(test::FirstDifference(a.data(), b.data(), count + 16), "")
            << Name() << " halve columns " << width << " count " << count;
      }
      const Pixels other = TestPixels(width, rng);
      Pixels a(static_cast<size_t>(width) + 16, 0xA5A5A5A5u), b(a);
      ref().average_rows(row.data(), other.data(), a.data(), width);
      candidate().average_rows(row.data(), other.data(), b.data(), width);
      ASSERT_EQ(test::FirstDifference(a.data(), b.data(), width + 16), "")
          << Name() << " average rows " << width;
    }
  }
}

std::string SetName(const ::testing::TestParamInfo<int>& info) {
  return AvailableKernelSets()[static_cast<size_t>(info.param)].name;
}

INSTANTIATE_TEST_SUITE_P(Kernels, LayoutCheckasm,
                         ::testing::Range(0, static_cast<int>(AvailableKernelSets().size())),
                         SetName);

}  // namespace
}  // namespace zqr::frames
