// Every kernel set this CPU can run against the plain kernels, byte for byte, on random
// frames and settings, with widths that are not multiples of any vector width and
// heights 1 to 5.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "frames/kernels.h"
#include "frames/stereo.h"
#include "tests/frames/frames_test_util.h"

namespace zqr::frames {
namespace {

const int32_t kWidths[] = {17, 18, 23, 31, 33, 45, 64, 100, 641, 1921};

class Checkasm : public ::testing::TestWithParam<int> {
 protected:
  const FrameKernels& ref() const { return ScalarKernels(); }
  const FrameKernels& candidate() const { return sets_[static_cast<size_t>(GetParam())]; }
  std::string Name() const { return candidate().name; }
  static std::vector<FrameKernels> sets_;
};
std::vector<FrameKernels> Checkasm::sets_ = AvailableKernelSets();

// The displacement table the frame step hands to the stereo kernels.
std::array<int16_t, 256> DepthTable(float factor) {
  std::array<int16_t, 256> table;
  for (int32_t v = 0; v < 256; ++v) {
    table[static_cast<size_t>(v)] = static_cast<int16_t>(ColourDisplacement(v, factor));
  }
  return table;
}

TEST_P(Checkasm, SmoothPass) {
  std::mt19937 rng(1000 + GetParam());
  for (int32_t w : kWidths) {
    for (int32_t h = 1; h <= 5; ++h) {
      FrameArray a = test::RandomFrame(w, h + 1, rng);
      FrameArray b = test::CopyOf(a);
      const int64_t n = int64_t{w} * h;
      // Whole pictures, and counts that end inside a row; the candidate's pass in random
      // slices, which must give the same as one piece.
      for (int64_t count : {n, n - 1, n - w / 2 - 3}) {
        if (count - w <= w) continue;
        for (int pass = 0; pass < 2; ++pass) {
          ref().smooth_range(a.data(), w, w, count - w);
          for (int64_t start = w; start < count - w;) {
            const int64_t stop = std::min<int64_t>(count - w, start + 1 + rng() % (3 * w));
            candidate().smooth_range(b.data(), w, start, stop);
            start = stop;
          }
        }
        ASSERT_EQ(test::FirstDifference(a.data(), b.data(), a.pixel_count()), "")
            << Name() << " " << w << "x" << h << " count " << count;
      }
      ASSERT_TRUE(test::GuardsZero(b));
    }
  }
}

TEST_P(Checkasm, SmoothPassOnExtremeValues) {
  // All 255 (largest sums) and alternating 0 / 255 columns.
  for (int32_t w : {17, 45, 641}) {
    FrameArray a;
    a.Allocate(w, 6);
    for (int64_t i = 0; i < int64_t{w} * 5; ++i) a.data()[i] = (i % 3 == 0) ? 0 : 0xFFFFFFFFu;
    FrameArray b = test::CopyOf(a);
    ref().smooth_range(a.data(), w, w, int64_t{w} * 4);
    candidate().smooth_range(b.data(), w, w, int64_t{w} * 4);
    ASSERT_EQ(test::FirstDifference(a.data(), b.data(), a.pixel_count()), "") << Name() << w;
  }
}

TEST_P(Checkasm, BrightnessContrast) {
  std::mt19937 rng(2000 + GetParam());
  const int32_t contrasts[] = {0, 1, 64, 127, 128, 129, 200, 255};
  for (int round = 0; round < 60; ++round) {
    const int64_t count = static_cast<int64_t>(rng() % 700) + 1;
    FrameArray a;
    a.Allocate(static_cast<int32_t>(count), 1);
    test::FillRandom(a.data(), count, rng);
    FrameArray b = test::CopyOf(a);
    BrightnessContrastParams params;
    params.brightness_on = rng() % 4 != 0;
    params.offset = static_cast<int32_t>(rng() % 256) - 127;
    params.contrast_on = rng() % 4 != 0;
    params.contrast = round < 8 ? contrasts[round] : static_cast<int32_t>(rng() % 256);
    ref().brightness_contrast(a.data(), count, params);
    candidate().brightness_contrast(b.data(), count, params);
    ASSERT_EQ(test::FirstDifference(a.data(), b.data(), count), "")
        << Name() << " count " << count << " offset " << params.offset << " contrast "
        << params.contrast;
    ASSERT_TRUE(test::GuardsZero(b));
  }
}

TEST_P(Checkasm, BrightnessContrastEveryByteValue) {
  // All 256 values in every byte position, for every offset and contrast edge.
  FrameArray a;
  a.Allocate(256, 1);
  for (uint32_t v = 0; v < 256; ++v) a.data()[v] = test::Px(v, 255 - v, v ^ 0x55, v);
  for (int32_t offset : {-127, -1, 0, 1, 77, 128}) {
    for (int32_t contrast : {0, 127, 128, 255}) {
      for (int mode = 1; mode < 4; ++mode) {
        FrameArray x = test::CopyOf(a);
        FrameArray y = test::CopyOf(a);
        const BrightnessContrastParams params{(mode & 1) != 0, offset, (mode & 2) != 0, contrast};
        ref().brightness_contrast(x.data(), 256, params);
        candidate().brightness_contrast(y.data(), 256, params);
        ASSERT_EQ(test::FirstDifference(x.data(), y.data(), 256), "")
            << Name() << " offset " << offset << " contrast " << contrast << " mode " << mode;
      }
    }
  }
}

TEST_P(Checkasm, SharpenRows) {
  std::mt19937 rng(3000 + GetParam());
  for (int32_t w : kWidths) {
    for (int32_t h = 1; h <= 5; ++h) {
      for (int32_t amount = 1; amount <= 5; ++amount) {
        const int32_t radius = static_cast<int32_t>(rng() % 5);  // 4: the "any other" case
        const FrameArray src = test::RandomFrame(w, h + 1, rng);
        FrameArray a = test::RandomFrame(w, h + 1, rng);  // rows the kernel must not touch
        FrameArray b = test::CopyOf(a);
        ref().sharpen_rows(src.data(), a.data(), w, h, amount, radius);
        candidate().sharpen_rows(src.data(), b.data(), w, h, amount, radius);
        ASSERT_EQ(test::FirstDifference(a.data(), b.data(), a.pixel_count()), "")
            << Name() << " " << w << "x" << h << " amount " << amount << " radius " << radius;
        ASSERT_TRUE(test::GuardsZero(b));
      }
    }
  }
}

TEST_P(Checkasm, StereoPass) {
  std::mt19937 rng(4000 + GetParam());
  for (int32_t w : kWidths) {
    for (int32_t h = 1; h <= 5; ++h) {
      for (int round = 0; round < 4; ++round) {
        const FrameArray current = test::RandomFrame(w, h + 1, rng);
        const FrameArray previous = test::RandomFrame(w, h + 1, rng);
        FrameArray a = test::RandomFrame(w, h + 1, rng);  // every pixel must be written
        FrameArray b = test::CopyOf(a);
        StereoPassArgs args;
        args.current = current.data();
        args.second = rng() % 2 ? previous.data() : current.data();
        args.width = w;
        args.picture = int64_t{w} * h;
        args.total = int64_t{w} * (h + 1);
        args.shift = StereoShift(static_cast<int32_t>(rng() % 21) - 10);
        args.displacement = round != 0;
        args.displacement_factor =
            DisplacementFactor(round == 3 ? 1 + static_cast<int32_t>(rng() % 30)
                                          : 20 + static_cast<int32_t>(rng() % 81));
        args.out = a.data();
        ref().stereo_pass(args);
        args.out = b.data();
        args.stream_out = round % 2 == 1;  // stores past the cache give the same bytes
        candidate().stereo_pass(args);
        candidate().stream_fence();
        ASSERT_EQ(test::FirstDifference(a.data(), b.data(), a.pixel_count()), "")
            << Name() << " " << w << "x" << h << " shift " << args.shift << " depth "
            << args.displacement << " k " << args.displacement_factor << " streamed "
            << args.stream_out;
        ASSERT_TRUE(test::GuardsZero(b));
      }
    }
  }
}

TEST_P(Checkasm, StereoPassEveryDisplacement) {
  // Every red and green value with every divisor of the drop-down list and beyond.
  const int32_t w = 641;
  const int32_t h = 4;
  FrameArray current;
  current.Allocate(w, h + 1);
  for (int64_t i = 0; i < int64_t{w} * h; ++i) {
    const uint32_t v = static_cast<uint32_t>(i % 256);
    current.data()[i] = test::Px(v, (v * 7) & 255, v, 0);
  }
  for (int32_t divisor = 1; divisor <= 130; ++divisor) {
    FrameArray a;
    a.Allocate(w, h + 1);
    FrameArray b;
    b.Allocate(w, h + 1);
    StereoPassArgs args{current.data(),
                        current.data(),
                        a.data(),
                        w,
                        int64_t{w} * h,
                        int64_t{w} * (h + 1),
                        12,
                        true,
                        DisplacementFactor(divisor)};
    ref().stereo_pass(args);
    // The kernels take the displacements from the frame step's table when it gives one.
    const std::array<int16_t, 256> table = DepthTable(args.displacement_factor);
    for (const int16_t* given : {static_cast<const int16_t*>(nullptr), table.data()}) {
      std::memset(b.data(), 0, b.byte_size());
      args.out = b.data();
      args.displacement_table = given;
      candidate().stereo_pass(args);
      ASSERT_EQ(test::FirstDifference(a.data(), b.data(), a.pixel_count()), "")
          << Name() << " divisor " << divisor << (given != nullptr ? " with table" : "");
    }
  }
}

// The pass reading its pixels not yet replaced from another frame: the WorkFrame beyond
// what the pass has written may hold anything.
TEST_P(Checkasm, SmoothPassFromAnotherFrame) {
  std::mt19937 rng(5000 + GetParam());
  for (int32_t w : {1, 2, 16, 17, 45, 641}) {
    for (int32_t h = 3; h <= 6; ++h) {
      const int64_t n = int64_t{w} * h;
      const FrameArray src = test::RandomFrame(w, h + 1, rng);
      FrameArray a = test::CopyOf(src);
      ref().smooth_range(a.data(), w, w, n - w);
      FrameArray b = test::RandomFrame(w, h + 1, rng);
      std::memcpy(b.data(), src.data(), static_cast<size_t>(w) * 4);  // the first row
      candidate().smooth_range_from(src.data(), b.data(), w, w, n - w);
      ASSERT_EQ(test::FirstDifference(a.data() + w, b.data() + w, n - 2 * w), "")
          << Name() << " " << w << "x" << h;
      ASSERT_TRUE(test::GuardsZero(b));
    }
  }
}

// The range kernels over a frame cut into pieces at random points give the plain
// kernel's whole frame.
TEST_P(Checkasm, SharpenAndStereoInRandomPieces) {
  std::mt19937 rng(6000 + GetParam());
  for (int32_t w : kWidths) {
    for (int32_t h : {3, 4, 7}) {
      const int64_t n = int64_t{w} * h;
      const int32_t amount = 1 + static_cast<int32_t>(rng() % 5);
      const int32_t radius = static_cast<int32_t>(rng() % 5);
      const FrameArray src = test::RandomFrame(w, h + 1, rng);
      FrameArray a = test::RandomFrame(w, h + 1, rng);
      FrameArray b = test::CopyOf(a);
      ref().sharpen_rows(src.data(), a.data(), w, h, amount, radius);
      for (int64_t start = w; start < n - w;) {
        const int64_t stop = std::min<int64_t>(n - w, start + 1 + static_cast<int64_t>(rng() % 70));
        candidate().sharpen_range(src.data(), b.data(), w, start, stop, amount, radius);
        start = stop;
      }
      ASSERT_EQ(test::FirstDifference(a.data(), b.data(), a.pixel_count()), "")
          << Name() << " sharpen " << w << "x" << h;
      ASSERT_TRUE(test::GuardsZero(b));

      const FrameArray previous = test::RandomFrame(w, h + 1, rng);
      StereoPassArgs args;
      args.current = src.data();
      args.second = rng() % 2 ? previous.data() : src.data();
      args.width = w;
      args.picture = n;
      args.total = n + w;
      args.shift = StereoShift(static_cast<int32_t>(rng() % 21) - 10);
      args.displacement = rng() % 4 != 0;
      args.displacement_factor = DisplacementFactor(1 + static_cast<int32_t>(rng() % 60));
      args.out = a.data();
      ref().stereo_pass(args);
      const std::array<int16_t, 256> table = DepthTable(args.displacement_factor);
      if (rng() % 2 == 0) args.displacement_table = table.data();
      // In pieces of random lengths, as the frame step calls it, into a frame that starts at
      // any pixel of a cache line (the stores past the cache need whole aligned blocks).
      const size_t skew = rng() % 16;
      std::vector<uint32_t> out(static_cast<size_t>(n + w) + 32, 0x5A5A5A5Au);
      args.out = out.data() + 16 + skew;
      args.stream_out = rng() % 2 == 0;
      for (int64_t start = 0; start < n + w;) {
        const int64_t stop = std::min<int64_t>(n + w, start + 1 + static_cast<int64_t>(rng() % 90));
        candidate().stereo_range(args, start, stop);
        start = stop;
      }
      candidate().stream_fence();
      ASSERT_EQ(test::FirstDifference(a.data(), args.out, a.pixel_count()), "")
          << Name() << " stereo " << w << "x" << h << " shift " << args.shift << " k "
          << args.displacement_factor << " skew " << skew << " streamed " << args.stream_out;
      EXPECT_EQ(out[15 + skew], 0x5A5A5A5Au) << "a store before the output";
      EXPECT_EQ(out[16 + skew + static_cast<size_t>(n + w)], 0x5A5A5A5Au) << "a store after it";
    }
  }
}

// The 4:2:0 planes of two lines, each with 32 bytes past its end that no kernel may store.
constexpr uint8_t kUntouched = 0xA5;
struct Yuv420Lines {
  std::vector<uint8_t> luma_upper, luma_lower, blue_diff, red_diff;
  explicit Yuv420Lines(int32_t pairs)
      : luma_upper(static_cast<size_t>(2 * pairs) + 32, kUntouched),
        luma_lower(luma_upper),
        blue_diff(static_cast<size_t>(pairs) + 32, kUntouched),
        red_diff(blue_diff) {}
  bool operator==(const Yuv420Lines&) const = default;
};

// Two lines of 2 x `pairs` pixels into 4:2:0, by the plain kernel and the candidate, on
// random lines and on lines of extreme bytes.
TEST_P(Checkasm, Yuv420RowPair) {
  std::mt19937 rng(7000 + GetParam());
  auto run = [](const FrameKernels& kernels, const std::vector<uint8_t>& upper,
                const std::vector<uint8_t>& lower, int32_t pairs) {
    Yuv420Lines out(pairs);
    kernels.yuv420_row_pair(upper.data(), lower.data(), pairs, out.luma_upper.data(),
                            out.luma_lower.data(), out.blue_diff.data(), out.red_diff.data());
    return out;
  };
  for (int32_t pairs : {0, 1, 7, 8, 15, 16, 17, 31, 32, 33, 47, 63, 100, 952}) {
    std::vector<uint8_t> upper(static_cast<size_t>(8 * pairs));
    std::vector<uint8_t> lower(upper.size());
    for (int fill = 0; fill < 4; ++fill) {
      for (size_t i = 0; i < upper.size(); ++i) {
        switch (fill) {
          case 0:  // random
            upper[i] = static_cast<uint8_t>(rng());
            lower[i] = static_cast<uint8_t>(rng());
            break;
          case 1:  // all 255: the largest sums
            upper[i] = lower[i] = 255;
            break;
          case 2:  // all 0
            upper[i] = lower[i] = 0;
            break;
          default:  // alternating bytes, lines and colours: the extremes of each chroma
            upper[i] = (i % 3 == 0) ? 255 : 0;
            lower[i] = (i % 2 == 0) ? 0 : 255;
        }
      }
      const Yuv420Lines expected = run(ref(), upper, lower, pairs);
      const Yuv420Lines actual = run(candidate(), upper, lower, pairs);
      ASSERT_EQ(expected.luma_upper[static_cast<size_t>(2 * pairs)], kUntouched);
      EXPECT_TRUE(expected == actual) << Name() << " pairs " << pairs << " fill " << fill;
    }
  }
}

std::string SetName(const ::testing::TestParamInfo<int>& info) {
  return AvailableKernelSets()[static_cast<size_t>(info.param)].name;
}

INSTANTIATE_TEST_SUITE_P(Kernels, Checkasm,
                         ::testing::Range(0, static_cast<int>(AvailableKernelSets().size())),
                         SetName);

TEST(KernelChoice, ActiveKernelsFollowTheScalarSwitch) {
  const char* forced = std::getenv("ZQR_FORCE_SCALAR");
  const bool scalar = forced != nullptr && std::strcmp(forced, "1") == 0;
  if (scalar) {
    EXPECT_STREQ(ActiveKernels().name, "scalar");
  } else {
    EXPECT_STREQ(ActiveKernels().name, AvailableKernelSets().back().name);
  }
}

}  // namespace
}  // namespace zqr::frames
