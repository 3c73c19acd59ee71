// Picture preparation: depths, row padding, orientation, the 5-5-5 widening and the black
// padding of the working picture.
#include <gtest/gtest.h>

#include "jpeg/jpeg_internal.h"
#include "tests/jpeg/jpeg_test_util.h"

namespace zqr::jpeg {
namespace {

using test::NaturalPicture;
using test::RgbPicture;
using test::ToDib;

// Red, green, blue of working-picture pixel (x, y), y counted from the top.
std::array<uint8_t, 3> WorkPixel(const WorkPicture& w, int32_t x, int32_t y) {
  const uint8_t* p = w.bgr.data() + static_cast<size_t>(y) * w.stride + static_cast<size_t>(x) * 3;
  return {p[2], p[1], p[0]};
}

TEST(PreparePicture, AcceptedDepths) {
  EXPECT_EQ(NormaliseBitsPerPixel(0), 32);
  EXPECT_EQ(NormaliseBitsPerPixel(16), 16);
  EXPECT_EQ(NormaliseBitsPerPixel(24), 24);
  EXPECT_EQ(NormaliseBitsPerPixel(32), 32);
  for (int32_t refused : {1, 4, 8, 15, 17, 23, 31, 33, 48, 64, -1, -32}) {
    EXPECT_EQ(NormaliseBitsPerPixel(refused), 0) << refused;
  }
}

TEST(PreparePicture, RowsArePaddedToFourBytes) {
  EXPECT_EQ(InputRowBytes(1, 24), 4u);
  EXPECT_EQ(InputRowBytes(3, 24), 12u);  // 9 bytes padded
  EXPECT_EQ(InputRowBytes(5, 24), 16u);
  EXPECT_EQ(InputRowBytes(1, 16), 4u);
  EXPECT_EQ(InputRowBytes(3, 16), 8u);
  EXPECT_EQ(InputRowBytes(7, 32), 28u);
  EXPECT_EQ(InputRowBytes(65535, 32), 262140u);
}

TEST(PreparePicture, EveryDepthLandsTopLeftWithBlackPadding) {
  for (int32_t depth : {24, 32, 0}) {
    for (auto [w, h] : {std::pair{10, 10}, {1, 1}, {13, 6}, {16, 8}}) {
      RgbPicture p = NaturalPicture(w, h, static_cast<uint32_t>(w * 31 + h));
      std::vector<uint8_t> dib = ToDib(p, depth);
      WorkPicture work;
      ASSERT_TRUE(PreparePicture(dib.data(), w, h, depth, work));
      EXPECT_EQ(work.width8, (w + 7) / 8 * 8);
      EXPECT_EQ(work.height8, (h + 7) / 8 * 8);
      EXPECT_EQ(work.stride, static_cast<size_t>(work.width8) * 3);
      for (int32_t y = 0; y < work.height8; ++y) {
        for (int32_t x = 0; x < work.width8; ++x) {
          auto got = WorkPixel(work, x, y);
          if (x < w && y < h) {
            const uint8_t* want = p.at(x, y);
            ASSERT_EQ(got, (std::array<uint8_t, 3>{want[0], want[1], want[2]}))
                << depth << " bits " << w << "x" << h << " at " << x << "," << y;
          } else {
            ASSERT_EQ(got, (std::array<uint8_t, 3>{0, 0, 0})) << "padding at " << x << "," << y;
          }
        }
      }
    }
  }
}

TEST(PreparePicture, SixteenBitChannelsWidenByRepeatingHighBits) {
  // Two pixels, bottom-up: the only row. 0x7FFF is white; 0x4210 is 16,16,16 in 5 bits.
  // A third pixel 0x0C63 = red 3, green 3, blue 3.
  const uint8_t row[8] = {0xFF, 0x7F, 0x10, 0x42, 0x63, 0x0C, 0xEE, 0xEE};
  WorkPicture work;
  ASSERT_TRUE(PreparePicture(row, 3, 1, 16, work));
  EXPECT_EQ(WorkPixel(work, 0, 0), (std::array<uint8_t, 3>{255, 255, 255}));
  EXPECT_EQ(WorkPixel(work, 1, 0), (std::array<uint8_t, 3>{132, 132, 132}));  // 10000 100
  EXPECT_EQ(WorkPixel(work, 2, 0), (std::array<uint8_t, 3>{24, 24, 24}));     // 00011 000
  // Bit 15 carries no colour.
  const uint8_t top_bit[4] = {0x00, 0x80, 0, 0};
  ASSERT_TRUE(PreparePicture(top_bit, 1, 1, 16, work));
  EXPECT_EQ(WorkPixel(work, 0, 0), (std::array<uint8_t, 3>{0, 0, 0}));
  // Blue in the low bits, red in the high ones.
  const uint8_t blue[4] = {0x1F, 0x00, 0, 0};
  ASSERT_TRUE(PreparePicture(blue, 1, 1, 16, work));
  EXPECT_EQ(WorkPixel(work, 0, 0), (std::array<uint8_t, 3>{0, 0, 255}));
  const uint8_t red[4] = {0x00, 0x7C, 0, 0};
  ASSERT_TRUE(PreparePicture(red, 1, 1, 16, work));
  EXPECT_EQ(WorkPixel(work, 0, 0), (std::array<uint8_t, 3>{255, 0, 0}));
}

TEST(PreparePicture, SixteenBitPictureMatchesItsWidenedTwin) {
  RgbPicture p = NaturalPicture(21, 11, 5);
  std::vector<uint8_t> dib = ToDib(p, 16);
  RgbPicture widened = test::AsStored(p, 16);
  WorkPicture work;
  ASSERT_TRUE(PreparePicture(dib.data(), 21, 11, 16, work));
  for (int32_t y = 0; y < 11; ++y) {
    for (int32_t x = 0; x < 21; ++x) {
      const uint8_t* want = widened.at(x, y);
      ASSERT_EQ(WorkPixel(work, x, y), (std::array<uint8_t, 3>{want[0], want[1], want[2]}));
    }
  }
}

TEST(PreparePicture, RefusesBadDepthsSizesAndMissingPixels) {
  std::vector<uint8_t> pixels(64 * 64 * 4, 0x80);
  WorkPicture work;
  EXPECT_FALSE(PreparePicture(pixels.data(), 8, 8, 8, work));
  EXPECT_FALSE(PreparePicture(pixels.data(), 8, 8, 1, work));
  EXPECT_FALSE(PreparePicture(pixels.data(), 8, 8, 15, work));
  EXPECT_FALSE(PreparePicture(pixels.data(), 0, 8, 32, work));
  EXPECT_FALSE(PreparePicture(pixels.data(), 8, 0, 32, work));
  EXPECT_FALSE(PreparePicture(pixels.data(), -8, 8, 32, work));
  EXPECT_FALSE(PreparePicture(pixels.data(), 8, -8, 32, work));
  EXPECT_FALSE(PreparePicture(pixels.data(), 65536, 1, 32, work));
  EXPECT_FALSE(PreparePicture(pixels.data(), 1, 65536, 32, work));
  EXPECT_FALSE(PreparePicture(nullptr, 8, 8, 32, work));
  EXPECT_TRUE(PreparePicture(pixels.data(), 8, 8, 32, work));
}

}  // namespace
}  // namespace zqr::jpeg
