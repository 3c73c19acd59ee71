// The 4:2:0 conversion of a frame file's pixels against the floating-point BT.601 studio
// formulas: known colours, the order of the lines, and the column and line left out of odd
// sizes.
#include "frames/yuv420.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "tests/frames/frames_test_util.h"

namespace zqr::frames {
namespace {

struct Yuv {
  double y, u, v;
};
Yuv Bt601(double blue, double green, double red) {
  return {16 + 219 * (0.299 * red + 0.587 * green + 0.114 * blue) / 255,
          128 + 224 * (-0.168736 * red - 0.331264 * green + 0.5 * blue) / 255,
          128 + 224 * (0.5 * red - 0.418688 * green - 0.081312 * blue) / 255};
}

// A picture given top line first, stored as a frame file stores it: bottom line first.
std::vector<uint32_t> BottomUp(const std::vector<uint32_t>& picture, int32_t width,
                               int32_t height) {
  std::vector<uint32_t> rows(picture.size());
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      rows[static_cast<size_t>((height - 1 - y) * width + x)] =
          picture[static_cast<size_t>(y * width + x)];
    }
  }
  return rows;
}

std::vector<uint8_t> Convert(const std::vector<uint32_t>& picture, int32_t width, int32_t height) {
  const std::vector<uint32_t> rows = BottomUp(picture, width, height);
  std::vector<uint8_t> out(static_cast<size_t>(Yuv420SizeFor(width, height).bytes));
  BottomUpBgraToYuv420(reinterpret_cast<const uint8_t*>(rows.data()), width, height, out.data());
  return out;
}

TEST(Yuv420, SizesDropTheOddColumnAndLine) {
  const Yuv420Size odd = Yuv420SizeFor(7, 5);
  EXPECT_EQ(odd.width, 6);
  EXPECT_EQ(odd.height, 4);
  EXPECT_EQ(odd.bytes, 36);
  EXPECT_EQ(Yuv420SizeFor(1904, 1080).bytes, 1904 * 1080 * 3 / 2);
  EXPECT_EQ(Yuv420SizeFor(1, 9).bytes, 0);
  EXPECT_EQ(Yuv420SizeFor(-4, 4).bytes, 0);
}

// White (235, 128, 128), black (16, 128, 128), red, green and blue: each byte the exact
// value rounded to the nearest, whatever the fourth byte holds.
TEST(Yuv420, KnownColours) {
  for (uint32_t pixel : {test::Px(255, 255, 255, 0), test::Px(0, 0, 0, 255), test::Px(0, 0, 255),
                         test::Px(0, 255, 0, 7), test::Px(255, 0, 0)}) {
    const Yuv expected = Bt601(test::Blue(pixel), test::Green(pixel), test::Red(pixel));
    const std::vector<uint8_t> out = Convert(std::vector<uint32_t>(4 * 2, pixel), 4, 2);
    for (size_t i = 0; i < 8; ++i) EXPECT_NEAR(out[i], expected.y, 0.5) << std::hex << pixel;
    for (size_t i = 8; i < 10; ++i) EXPECT_NEAR(out[i], expected.u, 0.5) << std::hex << pixel;
    for (size_t i = 10; i < 12; ++i) EXPECT_NEAR(out[i], expected.v, 0.5) << std::hex << pixel;
  }
}

// Random pictures wide enough for the vector kernels and their tails, even and odd: every
// luma byte of picture line y comes from line y counted from the top, every chroma byte
// from the average of its 2 x 2 block, and the odd column and bottom line are left out.
TEST(Yuv420, RandomPicturesTopLineFirst) {
  std::mt19937 rng(42);
  for (auto [width, height] : {std::pair{6, 4}, std::pair{70, 6}, std::pair{71, 5}}) {
    std::vector<uint32_t> picture(static_cast<size_t>(width * height));
    test::FillRandom(picture.data(), static_cast<int64_t>(picture.size()), rng);
    const std::vector<uint8_t> out = Convert(picture, width, height);
    const int32_t w = width & ~1, h = height & ~1;
    ASSERT_EQ(out.size(), static_cast<size_t>(w * h * 3 / 2));
    auto at = [&](int32_t x, int32_t y) { return picture[static_cast<size_t>(y * width + x)]; };
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        const uint32_t p = at(x, y);
        ASSERT_NEAR(out[static_cast<size_t>(y * w + x)],
                    Bt601(test::Blue(p), test::Green(p), test::Red(p)).y, 1)
            << width << "x" << height << " at " << x << "," << y;
      }
    }
    const size_t blue_diff = static_cast<size_t>(w * h), red_diff = blue_diff + w * h / 4;
    for (int32_t y = 0; y < h / 2; ++y) {
      for (int32_t x = 0; x < w / 2; ++x) {
        double b = 0, g = 0, r = 0;
        for (uint32_t p : {at(2 * x, 2 * y), at(2 * x + 1, 2 * y), at(2 * x, 2 * y + 1),
                           at(2 * x + 1, 2 * y + 1)}) {
          b += test::Blue(p) / 4.0;
          g += test::Green(p) / 4.0;
          r += test::Red(p) / 4.0;
        }
        const Yuv expected = Bt601(b, g, r);
        const size_t i = static_cast<size_t>(y * (w / 2) + x);
        ASSERT_NEAR(out[blue_diff + i], expected.u, 1) << width << "x" << height << " " << x;
        ASSERT_NEAR(out[red_diff + i], expected.v, 1) << width << "x" << height << " " << x;
      }
    }
  }
}

}  // namespace
}  // namespace zqr::frames
