// Frame arrays and the bitmap information header.
#include <gtest/gtest.h>

#include <cstring>

#include "frames/frame.h"
#include "tests/frames/frames_test_util.h"

namespace zqr::frames {
namespace {

TEST(FrameArray, AllocatesZeroPixelsWithZeroGuards) {
  FrameArray frame;
  ASSERT_TRUE(frame.Allocate(17, 6));
  EXPECT_EQ(frame.width(), 17);
  EXPECT_EQ(frame.rows(), 6);
  EXPECT_EQ(frame.pixel_count(), 102);
  EXPECT_EQ(frame.byte_size(), 408u);
  for (int64_t i = 0; i < frame.pixel_count(); ++i) ASSERT_EQ(frame.data()[i], 0u) << i;
  EXPECT_TRUE(test::GuardsZero(frame));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(frame.data()) % 16, 0u);
}

TEST(FrameArray, ReallocationZeroesAndRefusesBadSizes) {
  FrameArray frame;
  ASSERT_TRUE(frame.Allocate(20, 3));
  frame.data()[5] = 99;
  ASSERT_TRUE(frame.Allocate(20, 3));
  EXPECT_EQ(frame.data()[5], 0u);
  EXPECT_FALSE(frame.Allocate(0, 3));
  EXPECT_TRUE(frame.empty());
  EXPECT_EQ(frame.pixel_count(), 0);
  EXPECT_FALSE(frame.Allocate(20, -1));
  EXPECT_FALSE(frame.Allocate(1 << 15, 1 << 14));  // above the size limit
  EXPECT_TRUE(frame.empty());
}

TEST(FrameArray, SwapAndMoveHandOverStorage) {
  FrameArray a;
  FrameArray b;
  ASSERT_TRUE(a.Allocate(30, 2));
  ASSERT_TRUE(b.Allocate(40, 3));
  a.data()[0] = 1;
  b.data()[0] = 2;
  const uint32_t* a_pixels = a.data();
  swap(a, b);
  EXPECT_EQ(a.width(), 40);
  EXPECT_EQ(a.data()[0], 2u);
  EXPECT_EQ(b.data(), a_pixels);
  FrameArray c = std::move(b);
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(c.data()[0], 1u);
  EXPECT_EQ(c.width(), 30);
  c.Zero();
  EXPECT_EQ(c.data()[0], 0u);
}

TEST(FrameArray, SlidesDownWithinItsSlackAndBack) {
  FrameArray a;
  ASSERT_TRUE(a.AllocateSliding(300, 4, 1000));
  EXPECT_TRUE(test::GuardsZero(a));
  EXPECT_EQ(a.SlideRoom(), 1000);
  uint32_t* top = a.data();
  a.data()[0] = 7;
  a.SlideDown(600);
  EXPECT_EQ(a.data(), top - 600);
  EXPECT_EQ(a.SlideRoom(), 400);
  EXPECT_EQ(a.data()[600], 7u);  // the pixels stay where they were in the storage
  a.SlideDown(401);              // more than the room: refused
  EXPECT_EQ(a.SlideRoom(), 400);
  a.SlideDown(400);
  EXPECT_EQ(a.SlideRoom(), 0);
  // The whole slack is storage: the frame at the bottom can be written through.
  std::memset(a.data() - FrameArray::kGuardPixels, 0xAB,
              (a.pixel_count() + 2 * FrameArray::kGuardPixels) * 4);
  // Swaps carry the position and the slack along.
  FrameArray b;
  ASSERT_TRUE(b.Allocate(300, 4));
  EXPECT_EQ(b.SlideRoom(), 0);
  swap(a, b);
  EXPECT_EQ(b.SlideRoom(), 0);
  b.SlideToTop();
  EXPECT_EQ(b.data(), top);
  EXPECT_EQ(b.SlideRoom(), 1000);
  FrameArray none;
  EXPECT_FALSE(none.AllocateSliding(300, 4, -1));
  EXPECT_EQ(none.SlideRoom(), 0);
}

TEST(BitmapInfoHeader, HasTheFortyByteLayout) {
  const BitmapInfoHeader header = MakeBitmapInfoHeader(624, 480);
  uint8_t bytes[40];
  std::memcpy(bytes, &header, 40);
  const uint8_t expected[40] = {40, 0, 0, 0, 0x70, 2, 0, 0, 0xE0, 1, 0, 0, 1, 0, 32, 0};
  for (int k = 0; k < 40; ++k) EXPECT_EQ(bytes[k], expected[k]) << "byte " << k;
}

}  // namespace
}  // namespace zqr::frames
